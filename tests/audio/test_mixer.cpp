// The mixer on the test's own thread: conversion to 16-bit, silence with
// nothing queued, the start queue with its 20 ms start delay, and stop,
// restart and recycling of players.
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

TEST(AudioMixer, ConvertsWithSignAndClampThenClearsAndStaysSilent) {
  mixer m(BLOCK);
  const Int in[] = {524271, 524272, 0x7fffffff, -524288, -524289, INT32_MIN, -1, 16, 15, -17};
  const int16_t want[] = {32766, 32767, 32767, -32768, -32768, -32768, -1, 1, 0, -2};
  const Int n = sizeof in / sizeof in[0];
  for (Int i = 0; i < n; ++i) m.accumulator[i] = in[i];
  std::vector<int16_t> out(BLOCK, 0x5555);
  m.mix16(out.data(), n);
  for (Int i = 0; i < n; ++i) EXPECT_EQ(out[i], want[i]) << "accumulator value " << in[i];
  EXPECT_EQ(out[n], 0x5555) << "values past count are left alone";
  // Count 0 means the whole accumulator, which nothing queued keeps at 0.
  for (int round = 0; round < 3; ++round) EXPECT_EQ(FirstSound(MixBlock(m)), -1);
}

TEST(AudioMixer, PlayStartsAfterTheDelayAtItsGainAndEnds) {
  mixer m(BLOCK);
  sound* p = m.takeplayer();
  samplerecord* rec = Constant(1000, 4000, 1);
  ASSERT_EQ(m.queueplay(p, rec), 0);
  EXPECT_EQ(p->playing(), 1) << "busy as soon as it is queued";

  // Mixed at once, so nearly all of the 20 ms (882 frames) is still ahead.
  std::vector<int16_t> first = MixBlock(m);
  Int start = FirstSound(first);
  ASSERT_GE(start, 0);
  EXPECT_GE(start / 2, 44100 * 15 / 1000);
  EXPECT_LE(start / 2, 882);
  EXPECT_EQ(first[start], 1000) << "unity gain passes the value through";
  EXPECT_EQ(first[start + 1], 1000) << "mono goes to both channels";

  p->setvolume(128);
  p->setpan(-256);  // hard left
  std::vector<int16_t> half = MixBlock(m);
  EXPECT_EQ(half[0], 500);
  EXPECT_EQ(half[1], 0);

  Int blocks = 2;
  for (; p->playing() && blocks < 10; ++blocks) MixBlock(m);
  EXPECT_EQ(p->playing(), 0);
  EXPECT_EQ(blocks, 5) << "about 140 + 3 x 1024 + 790 frames";
  EXPECT_EQ(rec->refs.load(), 1) << "the finished player let go of the record";
  EXPECT_EQ(FirstSound(MixBlock(m)), -1);
  rec->release();
}

TEST(AudioMixer, StopRestartAndRecycleKeepTheListConsistent) {
  mixer m(BLOCK);
  sound* a = m.takeplayer();
  sound* b = m.takeplayer();
  samplerecord* rec = Constant(100, 100000, 2);
  // Two plays of one player restart it: a double link would mix it twice
  // (300 in all) or loop forever.
  ASSERT_EQ(m.queueplay(a, rec), 0);
  ASSERT_EQ(m.queueplay(a, rec), 0);
  ASSERT_EQ(m.queueplay(b, rec), 0);
  EXPECT_EQ(MixBlock(m)[BLOCK - 1], 200);

  ASSERT_EQ(m.queuestop(a), 0);
  EXPECT_EQ(MixBlock(m)[0], 100);
  EXPECT_EQ(a->playing(), 0);
  EXPECT_EQ(b->playing(), 1);

  // Retired players, playing or not, come back from the pool.
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
