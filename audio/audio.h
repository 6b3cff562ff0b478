// The audio API of the runtime: samples, sounds, channels and the current
// audio driver, plus the initialisation of the audio modules.
//
// The audio core keeps the current driver in AudioDriver; its default
// driver makes nothing (every operation gives Null). InitAudioModule starts
// the sound device with its output thread and, when that succeeds, installs
// the device's driver in its place and registers the device's tear-down as
// an at-exit routine.
//
// Sounds and channels are runtime objects of the main thread; what the
// output thread plays is copied into plain memory (audio/mixer.h).
#pragma once

#include "runtime/array.h"
#include "runtime/object.h"

struct samplerecord;

// Signed 16-bit sample data, interleaved when stereo.
class TAudioSample : public Object {
  KX_CLASS(TAudioSample, Object)
 public:
  Ref<Array> samples;  // tag "s": frames * channels values
  Int length = 0;      // frames
  Int hertz = 44100;
  Int channels = 1;

  // A silent sample; Null for sizes, rates or channel counts out of range.
  static TAudioSample* Create(Int length, Int hertz, Int channels);
};

// A sample prepared for a driver.
class TSound : public Object {
  KX_CLASS(TSound, Object)
 public:
  ~TSound() override;
  samplerecord* record = nullptr;  // one reference, plain memory
};

// A playing voice. The base class is abstract.
class TChannel : public Object {
  KX_CLASS(TChannel, Object)
 public:
  virtual Int Play(TSound* sound);  // 0, or -1 when it cannot be started
  virtual Int Stop();
  virtual Int SetVolume(Float volume);  // 0..1
  virtual Int SetPan(Float pan);        // -1 left .. 1 right
  virtual Int SetPaused(Int paused);
  virtual Int Playing();
};

class TAudioDriver : public Object {
  KX_CLASS(TAudioDriver, Object)
 public:
  virtual TSound* CreateSound(TAudioSample* sample);  // Null here
  virtual TChannel* AllocChannel();                   // Null here
};

extern Ref<TAudioDriver> AudioDriver;

Int InitAudioCoreModule();
Int InitAudioModule();

// The device module's driver and channel, for tests.
class TDeviceAudioDriver : public TAudioDriver {
  KX_CLASS(TDeviceAudioDriver, TAudioDriver)
 public:
  TSound* CreateSound(TAudioSample* sample) override;
  TChannel* AllocChannel() override;  // Null when no handle is free
};

class TDeviceChannel : public TChannel {
  KX_CLASS(TDeviceChannel, TChannel)
 public:
  explicit TDeviceChannel(Int h) : handle(h) {}
  ~TDeviceChannel() override;  // frees the handle
  Int Play(TSound* sound) override;
  Int Stop() override;
  Int SetVolume(Float volume) override;
  Int SetPan(Float pan) override;
  Int SetPaused(Int paused) override;
  Int Playing() override;
  Int handle;
};
