// The memory manager: size classes and chunk carving of the small-block
// allocator, aligned blocks, the presence bitmap, the pending list, the
// collection modes, the statistics line and the consistency reports.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "runtime/array.h"
#include "runtime/error.h"
#include "runtime/kxstring.h"
#include "tests/runtime/object_probe.h"
#include "tests/support/test_util.h"

namespace {

// Restores the collection mode a test changed, even when it fails.
struct ModeGuard {
  ~ModeGuard() { kxSetCollectMode(KX_COLLECT_AUTO); }
};

// Two collections (objects found on the stack by the first are only
// rescheduled for the second) with the caller's dead stack wiped.
void CollectClean() {
  WipeStack();
  CollectAll();
  CollectAll();
}

TEST(SmallBlocks, SizesRoundUpToSixteenByteClassesAndFreedBlocksComeBackFirst) {
  EXPECT_EQ(kxSmallAlloc(0), nullptr);
  EXPECT_EQ(kxSmallAlloc(-5), nullptr);
  for (Int size = 1; size <= 240; ++size) {
    Int before = kxBytesInUse();
    void* a = kxSmallAlloc(size);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u) << size;
    ASSERT_EQ(kxBytesInUse(), before + size);
    std::memset(a, 0xa5, static_cast<size_t>(size));
    kxSmallFree(a, size);
    ASSERT_EQ(kxBytesInUse(), before);
    // Any size of the same class gets the block back; the next class does not.
    Int sameClass = ((size + 15) / 16) * 16;
    void* b = kxSmallAlloc(sameClass);
    ASSERT_EQ(b, a) << size;
    if (sameClass < 240) {
      void* c = kxSmallAlloc(sameClass + 1);
      ASSERT_NE(c, a) << size;
      kxSmallFree(c, sameClass + 1);
    }
    kxSmallFree(b, sameClass);
  }
  // Larger blocks come from the aligned allocator.
  Int before = kxBytesInUse();
  void* big = kxSmallAlloc(241);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(big) % 16, 0u);
  EXPECT_EQ(kxBytesInUse(), before + 241);
  kxSmallFree(big, 241);
  EXPECT_EQ(kxBytesInUse(), before);
}

TEST(SmallBlocks, ChunksAreCarvedInOrderAndTheirTailsAreKept) {
  // Once the 240-byte free list is drained, blocks are carved one after the
  // other from a chunk; when a chunk cannot hold the next block its tail goes
  // on the free list of its own size and carving moves to a new chunk. A
  // chunk carved from its start holds 273 such blocks and leaves 16 bytes.
  std::vector<char*> blocks;
  std::vector<size_t> switches;  // indexes where a new chunk began
  for (int i = 0; i < 20000 && switches.size() < 2; ++i) {
    char* b = static_cast<char*>(kxSmallAlloc(240));
    size_t n = blocks.size();
    bool carving = n >= 2 && blocks[n - 1] == blocks[n - 2] + 240;
    if (carving && b != blocks[n - 1] + 240) switches.push_back(n);
    blocks.push_back(b);
    if (switches.size() == 2) {
      // The second chunk was carved from its start: its tail is 16 bytes,
      // the newest block of the 16-byte class.
      EXPECT_EQ(switches[1] - switches[0], size_t(65536 / 240));
      void* tail = kxSmallAlloc(16);
      EXPECT_EQ(tail, blocks[n - 1] + 240);
      kxSmallFree(tail, 16);
    }
  }
  EXPECT_EQ(switches.size(), 2u);
  for (char* b : blocks) kxSmallFree(b, 240);
}

TEST(AlignedBlocks, AlignmentStoredPointerAndGrowth) {
  EXPECT_EQ(kxAlignedOverhead, OnArch<size_t>(20, 24));
  for (size_t n : {size_t(0), size_t(1), size_t(16), size_t(100000)}) {
    char* b = static_cast<char*>(kxAlignedAlloc(n));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u) << n;
    // The word before the block is the malloc result, one pointer to 16
    // bytes below it, and the block ends inside what malloc gave.
    char* raw = static_cast<char**>(static_cast<void*>(b))[-1];
    EXPECT_GE(b - raw, static_cast<ptrdiff_t>(sizeof(void*))) << n;
    EXPECT_LE(b - raw, 16) << n;
    EXPECT_LE(b + n, raw + malloc_usable_size(raw)) << n;
    std::memset(b, 0x5a, n);
    kxAlignedFree(b);
  }
  kxAlignedFree(nullptr);

  char* b = static_cast<char*>(kxAlignedAlloc(64));
  for (int i = 0; i < 64; ++i) b[i] = static_cast<char>(i);
  char* grown = static_cast<char*>(kxAlignedGrow(b, 64, 1000));
  for (int i = 0; i < 64; ++i) ASSERT_EQ(grown[i], static_cast<char>(i));
  grown[999] = 1;
  // Shrinking copies only what fits (the sanitizer build would catch more).
  char* shrunk = static_cast<char*>(kxAlignedGrow(grown, 1000, 8));
  for (int i = 0; i < 8; ++i) ASSERT_EQ(shrunk[i], static_cast<char>(i));
  kxAlignedFree(shrunk);
  // A size whose overhead wraps around is out of memory, never a short block.
  for (size_t huge : {SIZE_MAX, SIZE_MAX - kxAlignedOverhead + 1})
    EXPECT_DEATH(kxAlignedAlloc(huge), "out of memory") << huge;
}

TEST(PresenceBitmap, MarksObjectStartsOnly) {
  TProbe* p = New<TProbe>(201);
  char* c = reinterpret_cast<char*>(p);
  EXPECT_TRUE(kxIsObjectAddress(p));
  EXPECT_FALSE(kxIsObjectAddress(c + 8));
  EXPECT_FALSE(kxIsObjectAddress(&kxEmptyArray));  // statics are not collector memory
  // The top of the address space: the last top-table entry on i686, beyond
  // the user address range on x86-64.
  EXPECT_FALSE(kxIsObjectAddress(reinterpret_cast<void*>(~uintptr_t(15))));
  EXPECT_FALSE(
      kxIsObjectAddress(reinterpret_cast<void*>(uintptr_t(1) << (8 * sizeof(uintptr_t) - 1))));
  EXPECT_GE(kxBitmapBlockCount(), 1);
}

__attribute__((noinline)) void MakeGarbageProbe(Int key) { New<TProbe>(key); }

// Mode zero collects only on request, the pending list meanwhile growing
// by 1024 entries at a time; mode three collects at every allocation, mode
// one once enough bytes were allocated.
TEST(CollectionModes, OnRequestEveryAllocationAndOnBytes) {
  ModeGuard guard;
  kxSetCollectMode(KX_COLLECT_ON_REQUEST);
  Int pending = kxPendingCount();
  RunDeep([] {
    for (Int i = 0; i < 3000; ++i) New<TProbe>(-1);
  });
  EXPECT_EQ(kxPendingCount(), pending + 3000);
  EXPECT_GE(kxPendingCapacity(), kxPendingCount());
  EXPECT_EQ(kxPendingCapacity() % 1024, 0);
  WipeStack();
  CollectAll();
  EXPECT_LT(kxPendingCount(), 3000);

  RunDeep([] {
    for (Int i = 0; i < 50; ++i) MakeGarbageProbe(2000 + i);
  });
  kxSetCollectMode(KX_COLLECT_EVERY_ALLOC);
  New<TProbe>(204);
  // A conservative scan may keep the odd probe whose address a stale stack
  // word happens to hold; all but a few must have gone.
  Int freed = 0;
  for (Int i = 0; i < 50; ++i) freed += TProbe::WasDestroyed(2000 + i);
  EXPECT_GE(freed, 45);
  EXPECT_FALSE(TProbe::WasDestroyed(204));

  // Mode 1: a few objects but more than 1 MiB of them bring a collection.
  kxSetCollectMode(KX_COLLECT_AUTO);
  RunDeep([] { MakeGarbageProbe(205); });
  RunDeep([] {
    for (Int i = 0; i < 12; ++i) kxArrayNewOneDim("b", 100000);
  });
  EXPECT_TRUE(TProbe::WasDestroyed(205));

  // After an automatic collection that frees 100000 objects the threshold
  // stays at 500 or more: the next 400 allocations all stay pending.
  kxSetCollectMode(KX_COLLECT_ON_REQUEST);
  RunDeep([] {
    for (Int i = 0; i < 100000; ++i) kxStringFromInt(i);
  });
  kxSetCollectMode(KX_COLLECT_AUTO);
  RunDeep([] { kxStringFromInt(-1); });
  ASSERT_GT(kxLastObjectsFreed(), 90000);
  RunDeep([] {
    for (Int i = 0; i < 400; ++i) kxStringFromInt(i);
  });
  EXPECT_GE(kxPendingCount(), 400);
}

TEST(CollectionReports, StatisticsLineMatchesTheCounters) {
  ModeGuard guard;
  RunDeep([] {
    for (Int i = 0; i < 50; ++i) New<TProbe>(-1);
  });
  kxSetCollectMode(KX_COLLECT_AUTO | KX_COLLECT_STATISTICS);
  testing::internal::CaptureStdout();
  Int freed = kxCollectGarbage();
  std::string out = testing::internal::GetCapturedStdout();
  std::smatch m;
  ASSERT_TRUE(
      std::regex_match(out, m,
                       std::regex("GC collectMem: memFreed=(-?\\d+), time=-1ms, objsFreed=(\\d+), "
                                  "objsScanned=(\\d+), objsLive=(\\d+)\n")))
      << out;
  EXPECT_EQ(std::stoi(m[1]), freed);
  EXPECT_EQ(freed, kxLastBytesFreed());
  EXPECT_EQ(std::stoi(m[2]), kxLastObjectsFreed());
  EXPECT_GE(kxLastObjectsFreed(), 45);  // a stale stack word may keep one
  EXPECT_GE(freed, 45 * static_cast<Int>(sizeof(TProbe)));
  // Words from here up to the base registered by the test main.
  Int words = std::stoi(m[3]);
  auto depth = static_cast<char*>(kxStackBase()) - static_cast<char*>(__builtin_frame_address(0));
  EXPECT_GT(words, depth / 8);
  EXPECT_LT(words, depth / 8 + 4096);
  EXPECT_LE(std::stoi(m[4]), words);
  EXPECT_EQ(kxCollectTime(), -1);

  kxSetCollectMode(KX_COLLECT_AUTO);
  testing::internal::CaptureStdout();
  kxCollectGarbage();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// Broken counts and presence bits are reported, and the collector goes on.
TEST(CollectionReports, BrokenCountsAndPresenceBitsAreReported) {
  // A block that is handed out again while its bit is still set.
  void* raw = kxAllocObjectMemory(48);
  EXPECT_TRUE(kxIsObjectAddress(raw));
  kxSmallFree(raw, 48);
  EXPECT_EQ(RaisedString([] { kxAllocObjectMemory(48); }), "GC setMemBit: membit already set!");
  // An owned object scheduled for freeing.
  EXPECT_EQ(RaisedString([] {
              Ref<TProbe> held = New<TProbe>(202);
              kxSchedulePending(held);
            }),
            "GC kxGCFree: mem has non-0 refs");

  // Pending objects without the pending bit are reported, then freed.
  uintptr_t where = 0, text = 0;
  RunDeep([&] {
    TProbe* p = New<TProbe>(207);
    p->refs = 0;  // broken by hand: on the list, but no pending bit
    where = Disguise(p);
    String* s = Str("lost text");
    s->refs = 0;
    text = Disguise(s);
  });
  testing::internal::CaptureStdout();
  kxCollectGarbage();
  std::string out = testing::internal::GetCapturedStdout();
  char expectProbe[80], expectText[80];
  std::snprintf(expectProbe, sizeof expectProbe, "bad refs:obj=$%lx refs=$0\n",
                static_cast<unsigned long>(where & ~uintptr_t(1)));
  std::snprintf(expectText, sizeof expectText, "bad refs:obj=$%lx refs=$0\nString:lost text\n",
                static_cast<unsigned long>(text & ~uintptr_t(1)));
  EXPECT_NE(out.find(expectProbe), std::string::npos) << out;
  EXPECT_NE(out.find(expectText), std::string::npos) << out;
  EXPECT_TRUE(TProbe::WasDestroyed(207));
  EXPECT_FALSE(IsObjectAt(where));
  EXPECT_FALSE(IsObjectAt(text));

  // A probe outside collector memory put on the pending list: the broken
  // entry leaves the list and later collections run again.
  TProbe outside(208);
  kxSchedulePending(&outside);
  EXPECT_EQ(RaisedString([] { kxCollectGarbage(); }), "GC clrMemBit: membit not set!");
  EXPECT_FALSE(TProbe::WasDestroyed(208));
  RunDeep([] { MakeGarbageProbe(209); });
  CollectAll();
  EXPECT_TRUE(TProbe::WasDestroyed(209));
  outside.refs = 0;
}

// Memory of collected objects really goes back: a collection that calls
// the free routines must also bring the bytes in use down again.
TEST(CollectionReports, CollectedStringsAndArraysGiveTheirBytesBack) {
  ModeGuard guard;
  CollectClean();
  const Int before = kxBytesInUse();
  kxSetCollectMode(KX_COLLECT_ON_REQUEST);  // only on request while building
  RunDeep([] {
    for (Int i = 0; i < 2000; ++i)
      kxArraySetRef(kxArrayNew("$", 1, 4), 0,
                    kxStringConcat(KX_STR("Generation number "), kxStringFromInt(i)));
  });
  kxSetCollectMode(KX_COLLECT_AUTO);
  EXPECT_GT(kxBytesInUse(), before + 2000 * 16);
  CollectClean();
  // A few objects may stay protected by stale stack words; nearly all of
  // the tens of kilobytes must be back.
  EXPECT_LT(kxBytesInUse(), before + 1024);
}

}  // namespace
