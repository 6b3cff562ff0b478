// The channel-handle table of the process's device: allocation order and
// exhaustion, serials, stale handles and look-ups without a device.
#include <gtest/gtest.h>

#include <set>

#include "audio/audiodevice.h"

namespace {

// A device whose thread cannot open anything: the table without the noise.
class AudioHandles : public testing::Test {
 protected:
  void SetUp() override {
    AudioDeviceTearDown();  // another test may have left one
    ASSERT_EQ(AudioDeviceSetUp("/nonexistent-lifesim-dir/dsp"), 0);
  }
  void TearDown() override { AudioDeviceTearDown(); }
};

}  // namespace

TEST_F(AudioHandles, FirstIs8193AndAllIndicesRunOutAfter4095) {
  Int first = AllocChannelHandle();
  EXPECT_EQ(first, 8193);
  std::set<Int> indices{first & 0xfff};
  for (int i = 1; i < 4095; ++i) {
    Int h = AllocChannelHandle();
    ASSERT_NE(h, 0) << "allocation " << i + 1;
    EXPECT_EQ(h & ~0xfff, 8192) << "first serial of every index";
    indices.insert(h & 0xfff);
  }
  EXPECT_EQ(indices.size(), 4095u);
  EXPECT_EQ(indices.count(0), 0u) << "index 0 ends the free list";
  EXPECT_EQ(AllocChannelHandle(), 0);
}

// One player per live handle; freed, older, newer and never-issued handles
// and every handle of a device that is gone look up nothing.
TEST_F(AudioHandles, LiveHandlesLookUpOnePlayerStaleOnesNothing) {
  Int a = AllocChannelHandle();
  Int b = AllocChannelHandle();
  sound* pa = LookupChannelHandle(a);
  ASSERT_NE(pa, nullptr);
  EXPECT_EQ(LookupChannelHandle(a), pa) << "made on first look-up, then kept";
  EXPECT_NE(LookupChannelHandle(b), pa);
  EXPECT_EQ(LookupChannelHandle(0), nullptr);
  EXPECT_EQ(LookupChannelHandle((a & 0xfff) | 4096), nullptr) << "older serial";
  EXPECT_EQ(LookupChannelHandle(a + 4096), nullptr) << "newer serial";
  // The table's serial of an index never issued is 4096: still no match.
  EXPECT_EQ(LookupChannelHandle(((b & 0xfff) + 1) | 4096), nullptr) << "index never issued";

  FreeChannelHandle(a);
  EXPECT_EQ(LookupChannelHandle(a), nullptr);
  FreeChannelHandle(a);  // a second free of a stale handle changes nothing
  Int again = AllocChannelHandle();
  EXPECT_EQ(again & 0xfff, a & 0xfff) << "freed index is reused first";
  EXPECT_NE(again, a);
  EXPECT_EQ(LookupChannelHandle(a), nullptr);
  EXPECT_NE(LookupChannelHandle(again), nullptr);
  Int next = AllocChannelHandle();
  EXPECT_NE(next & 0xfff, again & 0xfff) << "the list was not corrupted by the double free";

  AudioDeviceTearDown();
  EXPECT_EQ(LookupChannelHandle(again), nullptr);
  EXPECT_EQ(AudioDevice(), nullptr);
  EXPECT_EQ(AllocChannelHandle(), 0);
  FreeChannelHandle(8193);  // must not touch a missing table
}
