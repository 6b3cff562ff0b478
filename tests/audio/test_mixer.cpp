// The mixer on the test's own thread: conversion to 16-bit, silence with
// nothing queued, and the start queue with its 20 ms start delay, stop,
// and recycling of players.
#include <gtest/gtest.h>

#include <vector>

#include "audio/mixer.h"

namespace {

constexpr Int BLOCK = 2048;  // values per mix; 1024 stereo frames

std::vector<int16_t> MixBlock(mixer& m) {
  std::vector<int16_t> out(BLOCK, 0x5555);
  m.mix16(out.data(), 0);
  return out;
}

// Index of the first non-zero value, or -1.
Int FirstSound(const std::vector<int16_t>& v) {
  for (size_t i = 0; i < v.size(); ++i)
    if (v[i] != 0) return static_cast<Int>(i);
  return -1;
}

samplerecord* Constant(int16_t value, Int frames, Int channels) {
  std::vector<int16_t> data(static_cast<size_t>(frames * channels), value);
  return samplerecord::make(data.data(), frames, channels, 44100);
}

}  // namespace

TEST(AudioMixer, ConvertsAccumulatorTo16BitWithSignAndClamp) {
  mixer m(BLOCK);
  const Int in[] = {524271, 524272, 524288, 0x7fffffff, -524288, -524289, INT32_MIN, -1, 0, 16, -16, 15, -17};
  const int16_t want[] = {32766, 32767, 32767, 32767, -32768, -32768, -32768, -1, 0, 1, -1, 0, -2};
  const Int n = sizeof in / sizeof in[0];
  for (Int i = 0; i < n; ++i) m.accumulator[i] = in[i];
  std::vector<int16_t> out(BLOCK, 0x5555);
  m.mix16(out.data(), n);
  for (Int i = 0; i < n; ++i) EXPECT_EQ(out[i], want[i]) << "accumulator value " << in[i];
  EXPECT_EQ(out[n], 0x5555) << "values past count are left alone";
  for (Int i = 0; i < n; ++i) EXPECT_EQ(m.accumulator[i], 0) << "converted values are cleared";
}

TEST(AudioMixer, NothingQueuedGivesSilenceAndCountZeroMeansWholeAccumulator) {
  mixer m(BLOCK);
  for (int round = 0; round < 3; ++round) {
    std::vector<int16_t> out = MixBlock(m);
    EXPECT_EQ(FirstSound(out), -1) << "round " << round;
  }
  for (Int v : m.accumulator) ASSERT_EQ(v, 0);
}

TEST(AudioMixer, PlayedSoundStartsAfterTheStartDelayAndEnds) {
  mixer m(BLOCK);
  sound* p = m.takeplayer();
  samplerecord* rec = Constant(1000, 4000, 1);
  ASSERT_EQ(m.queueplay(p, rec), 0);
  EXPECT_EQ(p->playing(), 1) << "busy as soon as it is queued";
  EXPECT_EQ(rec->refs.load(), 2) << "the queued request holds the record";

  // Mixed at once, so nearly all of the 20 ms (882 frames) is still ahead.
  std::vector<int16_t> first = MixBlock(m);
  Int start = FirstSound(first);
  ASSERT_GE(start, 0);
  EXPECT_GE(start / 2, 44100 * 15 / 1000) << "no earlier than about 20 ms";
  EXPECT_LE(start / 2, 882);
  EXPECT_EQ(first[start], 1000) << "unity gain passes the value through";
  EXPECT_EQ(first[start + 1], 1000) << "mono goes to both channels";
  EXPECT_EQ(first[BLOCK - 1], 1000);

  // 4000 frames end within the next few blocks; then silence again.
  Int blocks = 0;
  while (p->playing() && blocks < 10) {
    MixBlock(m);
    ++blocks;
  }
  EXPECT_EQ(p->playing(), 0);
  EXPECT_LE(blocks, 4);
  EXPECT_EQ(rec->refs.load(), 1) << "the finished player let go of the record";
  EXPECT_EQ(FirstSound(MixBlock(m)), -1);
  rec->release();
}

TEST(AudioMixer, VolumePanAndStereoSources) {
  mixer m(BLOCK);
  sound* p = m.takeplayer();
  std::vector<int16_t> lr;
  for (int i = 0; i < 3000; ++i) {
    lr.push_back(2000);
    lr.push_back(-4000);
  }
  samplerecord* rec = samplerecord::make(lr.data(), 3000, 2, 44100);
  p->setvolume(128);
  p->setpan(-256);  // hard left: the right channel is silent
  ASSERT_EQ(m.queueplay(p, rec), 0);
  std::vector<int16_t> out = MixBlock(m);
  EXPECT_EQ(out[BLOCK - 2], 1000);
  EXPECT_EQ(out[BLOCK - 1], 0);
  rec->release();
}

TEST(AudioMixer, StopRestartAndRecycleKeepTheListConsistent) {
  mixer m(BLOCK);
  sound* a = m.takeplayer();
  sound* b = m.takeplayer();
  EXPECT_NE(a, b);
  samplerecord* rec = Constant(100, 100000, 1);

  // Two plays of one player restart it instead of linking it twice:
  // a doubled link would add it twice (200) or loop forever.
  ASSERT_EQ(m.queueplay(a, rec), 0);
  ASSERT_EQ(m.queueplay(a, rec), 0);
  ASSERT_EQ(m.queueplay(b, rec), 0);
  std::vector<int16_t> out = MixBlock(m);
  EXPECT_EQ(out[BLOCK - 1], 200) << "two players, each once";

  ASSERT_EQ(m.queuestop(a), 0);
  out = MixBlock(m);
  EXPECT_EQ(out[0], 100);
  EXPECT_EQ(a->playing(), 0);
  EXPECT_EQ(b->playing(), 1);

  // A retired player, playing or not, comes back from the pool.
  ASSERT_EQ(m.queueretire(b), 0);
  ASSERT_EQ(m.queueretire(a), 0);
  EXPECT_EQ(FirstSound(MixBlock(m)), -1);
  EXPECT_EQ(rec->refs.load(), 1);
  sound* r1 = m.takeplayer();
  sound* r2 = m.takeplayer();
  EXPECT_TRUE((r1 == a && r2 == b) || (r1 == b && r2 == a));
  sound* fresh = m.takeplayer();
  EXPECT_TRUE(fresh != a && fresh != b) << "pool empty: a new player";
  rec->release();
}

TEST(AudioMixer, FullStartQueueRefusesAndKeepsCounts) {
  mixer m(BLOCK);
  sound* p = m.takeplayer();
  samplerecord* rec = Constant(1, 10, 1);
  Int accepted = 0;
  while (m.queueplay(p, rec) == 0) ++accepted;
  EXPECT_EQ(accepted, mixer::QUEUE_SIZE - 1) << "one slot tells full from empty";
  EXPECT_EQ(rec->refs.load(), 1 + accepted) << "a refused request takes no reference";
  MixBlock(m);  // drains, wrapping the read index through 4095 -> 0 later
  EXPECT_EQ(m.queueplay(p, rec), 0);
  for (int i = 0; i < 4; ++i) MixBlock(m);
  EXPECT_EQ(rec->refs.load(), 1);
  rec->release();
}

TEST(AudioMixer, SampleRecordRejectsBadFormats) {
  int16_t v[2] = {1, 2};
  EXPECT_EQ(samplerecord::make(v, 1, 0, 44100), nullptr);
  EXPECT_EQ(samplerecord::make(v, 1, 3, 44100), nullptr);
  EXPECT_EQ(samplerecord::make(v, 1, 1, 0), nullptr);
  EXPECT_EQ(samplerecord::make(v, -1, 1, 44100), nullptr);
}
