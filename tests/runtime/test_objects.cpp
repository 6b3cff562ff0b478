// Objects: class records, construction and destruction order, class tests,
// the root class's slots, the object lifecycle through the pending list,
// handles and the embedded data registry.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "runtime/array.h"
#include "runtime/error.h"
#include "runtime/kxstring.h"
#include "tests/runtime/object_probe.h"
#include "tests/support/test_util.h"

namespace {

TEST(ClassRecords, RootArrayAndDerivedRecords) {
  EXPECT_EQ(Object::classRecord.super, nullptr);
  EXPECT_STREQ(Object::classRecord.debug->name, "Object");
  EXPECT_EQ(Object::classRecord.instanceSize, static_cast<int32_t>(sizeof(Object)));
  EXPECT_STREQ(Array::classRecord.name, "Array");
  EXPECT_EQ(Array::classRecord.instanceSize, 0);  // size varies per array
  EXPECT_EQ(TProbeChild::classRecord.super, &TProbe::classRecord);
  EXPECT_EQ(TProbeChild::classRecord.instanceSize, static_cast<int32_t>(sizeof(TProbeChild)));
}

TEST(ObjectLifecycle, ConstructorsRunBaseFirstAndDestructorsDerivedFirst) {
  TProbe::log.clear();
  TProbe::logKey = 101;
  RunDeep([] { New<TProbeChild>(101); });
  // While the base part is built or torn down, the object is of the base class.
  EXPECT_EQ(TProbe::log, "+TProbe+TProbeChild");
  WipeStack();
  CollectAll();
  EXPECT_TRUE(TProbe::WasDestroyed(101));
  EXPECT_EQ(TProbe::log, "+TProbe+TProbeChild-TProbeChild-TProbe");
}

TEST(ObjectLifecycle, NewObjectIsPendingThenOwnedThenPendingAgain) {
  Int pendingBefore = kxPendingCount();
  TProbe* p = New<TProbe>(102);
  EXPECT_EQ(p->refs, KX_REFS_PENDING);
  EXPECT_EQ(kxPendingCount(), pendingBefore + 1);
  EXPECT_TRUE(kxIsObjectAddress(p));
  {
    Ref<TProbe> owner(p);
    EXPECT_EQ(p->refs, KX_REFS_PENDING + 1);
    kxCollectGarbage();
    EXPECT_EQ(p->refs, 1u);  // left the list, still owned
    EXPECT_FALSE(TProbe::WasDestroyed(102));
  }
  EXPECT_EQ(p->refs, KX_REFS_PENDING);  // the last release scheduled it again
}

__attribute__((noinline)) void KeepOnlyInALocal(bool* aliveAfterCollection, uintptr_t* where) {
  TProbe* volatile local = New<TProbe>(103);
  *where = Disguise(local);
  kxCollectGarbage();
  kxCollectGarbage();
  *aliveAfterCollection = !TProbe::WasDestroyed(103) && local->key == 103 && kxIsObjectAddress(local);
}

TEST(ObjectLifecycle, StackLocalProtectsUntilItIsGone) {
  bool survived = false;
  uintptr_t where = 0;
  RunDeep([&] { KeepOnlyInALocal(&survived, &where); });
  EXPECT_TRUE(survived);
  EXPECT_TRUE(IsObjectAt(where));
  WipeStack();
  kxCollectGarbage();  // the first collection without the local frees it
  EXPECT_TRUE(TProbe::WasDestroyed(103));
  EXPECT_FALSE(IsObjectAt(where));
}

TEST(ObjectLifecycle, DestructorReleasesFieldsAndTheSameCollectionFreesThem) {
  RunDeep([] {
    for (Int i = 0; i < 20; ++i) {
      TProbe* outer = New<TProbe>(1000 + i);
      outer->held = New<TProbe>(1100 + i);
    }
  });
  kxCollectGarbage();
  // Every owner freed takes its field's object with it in the same
  // collection; a stale stack word may keep the odd pair for later.
  Int freed = 0;
  for (Int i = 0; i < 20; ++i) {
    if (!TProbe::WasDestroyed(1000 + i)) continue;
    ++freed;
    EXPECT_TRUE(TProbe::WasDestroyed(1100 + i)) << i;
  }
  EXPECT_GE(freed, 15);
}

// A constructor that collects while its object is only on the stack.
class TCollectingProbe : public TProbe {
  KX_CLASS(TCollectingProbe, TProbe)
 public:
  TCollectingProbe() { kxCollectGarbage(); }
};
KX_CLASS_RECORD(TCollectingProbe)

TEST(ObjectLifecycle, CollectionDuringConstructionSchedulesTheObjectOnce) {
  RunDeep([] {
    for (Int i = 0; i < 20; ++i) {
      TCollectingProbe* p = New<TCollectingProbe>();
      p->key = 1200 + i;
      EXPECT_EQ(p->refs, KX_REFS_PENDING);
    }
  });
  testing::internal::CaptureStdout();
  CollectAll();
  CollectAll();
  std::string output = testing::internal::GetCapturedStdout();
  // A second list entry for the same object would be met after its memory
  // was given back: reported as bad refs, or its destructor run twice.
  EXPECT_EQ(output, "");
  Int freed = 0;
  for (Int i = 0; i < 20; ++i) {
    EXPECT_LE(TProbe::TimesDestroyed(1200 + i), 1) << i;
    freed += TProbe::WasDestroyed(1200 + i);
  }
  EXPECT_GE(freed, 15);
}

TEST(Handles, FirstIsOneSameObjectSameHandleDropReleases) {
  uintptr_t where = 0;
  Int first = 0, again = 0, second = 0;
  RunDeep([&] {
    TProbe* p = New<TProbe>(107);
    where = Disguise(p);
    first = kxObjectToHandle(p);
    again = kxObjectToHandle(p);
    second = kxObjectToHandle(New<TProbe>(108));
  });
  EXPECT_EQ(first, 1);  // no handle was issued before in this program
  EXPECT_EQ(again, first);
  EXPECT_EQ(second, 2);
  EXPECT_EQ(kxObjectToHandle(nullptr), 0);
  // Lookups and drops run deep: the test's frame keeps no pointer.
  auto keyOf = [](Int handle) {
    Int key = -1;
    RunDeep([&] {
      TProbe* p = static_cast<TProbe*>(kxHandleLookup(handle));
      if (p) key = p->key;
    });
    return key;
  };
  auto drop = [](Int handle) { RunDeep([&] { kxHandleDrop(handle); }); };
  bool same = false;
  RunDeep([&] { same = SameAddress(kxHandleLookup(first), where); });
  EXPECT_TRUE(same);
  EXPECT_EQ(kxHandleLookup(999999), nullptr);

  // The handle's reference keeps the object through collections.
  WipeStack();
  CollectAll();
  ASSERT_TRUE(IsObjectAt(where));
  EXPECT_EQ(keyOf(first), 107);

  // Dropping releases: the objects held only by their handles go at the
  // next collection (all but the odd one a stale stack word may keep).
  Int more[20];
  RunDeep([&] {
    for (Int i = 0; i < 20; ++i) more[i] = kxObjectToHandle(New<TProbe>(1300 + i));
  });
  drop(first);
  drop(first);  // a second drop finds nothing to release
  EXPECT_EQ(keyOf(first), -1);
  for (Int h : more) drop(h);
  CollectAll();
  Int freed = TProbe::WasDestroyed(107);
  for (Int i = 0; i < 20; ++i) freed += TProbe::WasDestroyed(1300 + i);
  EXPECT_GE(freed, 17);
  EXPECT_FALSE(TProbe::WasDestroyed(108));
  EXPECT_EQ(keyOf(second), 108);
  kxHandleDrop(second);
}

TEST(EmbeddedBlobs, FirstRegistrationWinsAndAbsentNamesGiveNothing) {
  static const char first[] = "first block";
  static const char other[] = "other";
  EXPECT_EQ(kxAddEmbeddedBlob(Str("objects-test.bin"), first, 11), 1);
  EXPECT_EQ(kxAddEmbeddedBlob(Str("objects-test.bin"), other, 5), 0);
  CollectAll();  // the registry holds its names
  EXPECT_EQ(kxEmbeddedBlobData(Str("objects-test.bin")), first);
  EXPECT_EQ(kxEmbeddedBlobSize(Str("objects-test.bin")), 11);
  EXPECT_EQ(kxEmbeddedBlobData(Str("objects-test.bi")), nullptr);
  EXPECT_EQ(kxEmbeddedBlobSize(Str("absent.bin")), 0);
}

}  // namespace
