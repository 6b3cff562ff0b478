// The audio module's initialisation and its driver objects: the default
// driver is replaced, and a sound played on a channel reaches the mixer
// through the start queue.
#include <gtest/gtest.h>

#include <time.h>

#include "audio/audio.h"
#include "audio/audiodevice.h"

namespace {

// The 1 ms tick cuts sleeps short: sleep out the rest.
void SleepMs(long ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) == -1) {
  }
}

// Runs the mixer by hand; only safe once the output thread has ended.
Int MixOnce(int16_t* out) {
  AudioDevice()->mix->mix16(out, 0);
  Int loud = 0;
  for (Int i = 0; i < linuxaudio::BLOCK_VALUES; ++i) loud += out[i] != 0;
  return loud;
}

}  // namespace

TEST(AudioModule, InitReplacesTheDefaultDriverOnceAndPlaysThroughTheQueue) {
  InitAudioCoreModule();
  EXPECT_EQ(AudioDriver->AllocChannel(), nullptr) << "the default driver makes nothing";
  EXPECT_EQ(InitAudioModule(), 0);
  ASSERT_NE(AudioDevice(), nullptr);
  EXPECT_EQ(AudioDevice()->path(), "/dev/dsp");
  TAudioDriver* driver = AudioDriver;
  ASSERT_NE(Cast<TDeviceAudioDriver>(driver), nullptr);
  EXPECT_EQ(InitAudioModule(), 0);
  EXPECT_EQ(AudioDriver.get(), driver) << "a second call does nothing";

  // These machines have no /dev/dsp: the thread ends and leaves the mixer
  // to this test. Where a device exists the thread owns it and this part
  // cannot run.
  linuxaudio* dev = AudioDevice();
  for (int i = 0; i < 500 && !dev->finished.load(); ++i) SleepMs(2);
  if (!dev->finished.load()) GTEST_SKIP() << "a sound device is open here";
  EXPECT_EQ(dev->active.load(), 0);

  TAudioSample* sample = TAudioSample::Create(2000, 44100, 1);
  ASSERT_NE(sample, nullptr);
  int16_t* values = reinterpret_cast<int16_t*>(sample->samples->Elements<Short>());
  for (Int i = 0; i < 2000; ++i) values[i] = -300;
  TSound* snd = driver->CreateSound(sample);
  ASSERT_NE(snd, nullptr);
  TChannel* ch = driver->AllocChannel();
  ASSERT_NE(ch, nullptr);

  int16_t out[linuxaudio::BLOCK_VALUES];
  EXPECT_EQ(MixOnce(out), 0) << "silence before anything is played";
  EXPECT_EQ(ch->Playing(), 0);
  EXPECT_EQ(ch->Play(snd), 0);
  EXPECT_EQ(ch->Playing(), 1);
  ch->SetVolume(0.5f);
  EXPECT_GT(MixOnce(out), 0);
  EXPECT_EQ(out[linuxaudio::BLOCK_VALUES - 1], -150);
  ch->Stop();
  EXPECT_EQ(MixOnce(out), 0);
  EXPECT_EQ(ch->Playing(), 0);
}
