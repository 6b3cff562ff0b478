// The audio core (current driver, default driver, samples) and the device
// module that replaces the default driver with one backed by the output
// thread.
#include "audio/audio.h"

#include <cmath>

#include "audio/audiodevice.h"
#include "runtime/error.h"
#include "runtime/module.h"

KX_CLASS_RECORD(TAudioSample)
KX_CLASS_RECORD(TSound)
KX_CLASS_RECORD(TChannel, &TChannel::Play, &TChannel::Stop, &TChannel::SetVolume, &TChannel::SetPan,
                &TChannel::SetPaused, &TChannel::Playing)
KX_CLASS_RECORD(TAudioDriver, &TAudioDriver::CreateSound, &TAudioDriver::AllocChannel)
KX_CLASS_RECORD(TDeviceAudioDriver, &TDeviceAudioDriver::CreateSound,
                &TDeviceAudioDriver::AllocChannel)
KX_CLASS_RECORD(TDeviceChannel, &TDeviceChannel::Play, &TDeviceChannel::Stop,
                &TDeviceChannel::SetVolume, &TDeviceChannel::SetPan, &TDeviceChannel::SetPaused,
                &TDeviceChannel::Playing)

Ref<TAudioDriver> AudioDriver;

// --- audio core ------------------------------------------------------------

TAudioSample* TAudioSample::Create(Int length, Int hertz, Int channels) {
  // The product must fit the array's Int length.
  if (length <= 0 || hertz <= 0 || channels < 1 || channels > 2 || length > 0x3fffffff / channels)
    return nullptr;
  TAudioSample* s = New<TAudioSample>();
  s->samples = kxArrayNewOneDim("s", length * channels);
  s->length = length;
  s->hertz = hertz;
  s->channels = channels;
  return s;
}

TSound::~TSound() {
  if (record) record->release();
}

Int TChannel::Play(TSound*) { kxRaiseAbstractCall(); }
Int TChannel::Stop() { kxRaiseAbstractCall(); }
Int TChannel::SetVolume(Float) { kxRaiseAbstractCall(); }
Int TChannel::SetPan(Float) { kxRaiseAbstractCall(); }
Int TChannel::SetPaused(Int) { kxRaiseAbstractCall(); }
Int TChannel::Playing() { kxRaiseAbstractCall(); }

TSound* TAudioDriver::CreateSound(TAudioSample*) { return nullptr; }
TChannel* TAudioDriver::AllocChannel() { return nullptr; }

Int InitAudioCoreModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  AudioDriver = New<TAudioDriver>();
  return 0;
}

// --- device driver ---------------------------------------------------------

TSound* TDeviceAudioDriver::CreateSound(TAudioSample* sample) {
  if (!sample) kxRaiseNullAccess();
  Array* a = sample->samples;
  if (!a || a->Length() < sample->length * sample->channels) return nullptr;
  // Tag "s" elements are 16-bit units; the bits are the signed samples.
  samplerecord* rec = samplerecord::make(reinterpret_cast<const int16_t*>(a->Elements<Short>()),
                                         sample->length, sample->channels, sample->hertz);
  if (!rec) return nullptr;
  TSound* s = New<TSound>();
  s->record = rec;
  return s;
}

TChannel* TDeviceAudioDriver::AllocChannel() {
  Int h = AllocChannelHandle();
  if (!h) return nullptr;
  return New<TDeviceChannel>(h);
}

TDeviceChannel::~TDeviceChannel() { FreeChannelHandle(handle); }

// NaN and out-of-range values clamp; NaN counts as the low end.
static Int scaled(Float v, Float lo, Float hi) {
  if (!(v >= lo)) v = lo;
  if (v > hi) v = hi;
  return static_cast<Int>(std::lround(v * 256.0f));
}

Int TDeviceChannel::Play(TSound* s) {
  if (!s) kxRaiseNullAccess();
  sound* p = LookupChannelHandle(handle);
  if (!p || !s->record) return -1;
  return AudioDevice()->mix->queueplay(p, s->record);
}

Int TDeviceChannel::Stop() {
  if (sound* p = LookupChannelHandle(handle)) AudioDevice()->mix->queuestop(p);
  return 0;
}

Int TDeviceChannel::SetVolume(Float v) {
  if (sound* p = LookupChannelHandle(handle)) p->setvolume(scaled(v, 0.0f, 1.0f));
  return 0;
}

Int TDeviceChannel::SetPan(Float v) {
  if (sound* p = LookupChannelHandle(handle)) p->setpan(scaled(v, -1.0f, 1.0f));
  return 0;
}

Int TDeviceChannel::SetPaused(Int paused) {
  if (sound* p = LookupChannelHandle(handle)) p->setpaused(paused);
  return 0;
}

Int TDeviceChannel::Playing() {
  sound* p = LookupChannelHandle(handle);
  return p ? p->playing() : 0;
}

static void TearDownAudioDevice() { AudioDeviceTearDown(); }

Int InitAudioModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  InitAudioCoreModule();
  if (AudioDeviceSetUp("/dev/dsp") != 0) return 0;
  kxRegisterAtExit(&TearDownAudioDevice);
  AudioDriver = New<TDeviceAudioDriver>();
  return 0;
}
