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

TEST(ClassRecords, RootArrayAndDerivedRecordsDescribeTheirClasses) {
  EXPECT_EQ(Object::classRecord.super, nullptr);
  EXPECT_STREQ(Object::classRecord.name, "Object");
  EXPECT_EQ(Object::classRecord.debug->kind, 2);
  EXPECT_STREQ(Object::classRecord.debug->name, "Object");
  EXPECT_EQ(Object::classRecord.instanceSize, static_cast<int32_t>(sizeof(Object)));

  EXPECT_EQ(Array::classRecord.super, &Object::classRecord);
  EXPECT_STREQ(Array::classRecord.name, "Array");
  EXPECT_EQ(Array::classRecord.instanceSize, 0);  // size varies per array
  EXPECT_EQ(kxEmptyArray.Class(), &Array::classRecord);

  EXPECT_EQ(TProbeChild::classRecord.super, &TProbe::classRecord);
  EXPECT_EQ(TProbeChild::classRecord.instanceSize, static_cast<int32_t>(sizeof(TProbeChild)));
  EXPECT_STREQ(TProbeChild::classRecord.debug->name, "TProbeChild");
}

TEST(ObjectLifecycle, ConstructorsRunBaseFirstAndDestructorsDerivedFirst) {
  WipeStack();
  CollectAll();
  TProbe::log.clear();
  [&]() __attribute__((noinline)) { New<TProbeChild>(101); }();
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
  KeepOnlyInALocal(&survived, &where);
  EXPECT_TRUE(survived);
  EXPECT_TRUE(IsObjectAt(where));
  WipeStack();
  kxCollectGarbage();  // the first collection without the local frees it
  EXPECT_TRUE(TProbe::WasDestroyed(103));
  EXPECT_FALSE(IsObjectAt(where));
}

TEST(ObjectLifecycle, DestructorReleasesFieldsAndTheSameCollectionFreesThem) {
  WipeStack();
  CollectAll();
  [&]() __attribute__((noinline)) {
    TProbe* outer = New<TProbe>(104);
    outer->held = New<TProbe>(105);
  }();
  WipeStack();
  kxCollectGarbage();
  EXPECT_TRUE(TProbe::WasDestroyed(104));
  EXPECT_TRUE(TProbe::WasDestroyed(105));
}

TEST(ObjectCast, WalksSuperClasses) {
  TProbeChild* child = New<TProbeChild>();
  TProbe* probe = New<TProbe>();
  EXPECT_EQ(Cast<TProbeChild>(child), child);
  EXPECT_EQ(Cast<TProbe>(child), child);
  EXPECT_EQ(kxObjectCast(child, &Object::classRecord), child);
  EXPECT_EQ(Cast<TProbeChild>(probe), nullptr);
  EXPECT_EQ(Cast<Array>(probe), nullptr);
  EXPECT_EQ(Cast<String>(&kxEmptyArray), nullptr);
  EXPECT_EQ(Cast<Array>(&kxEmptyArray), &kxEmptyArray);
  EXPECT_EQ(Cast<TProbe>(nullptr), nullptr);
}

TEST(RootSlots, AsTextCompareWithAndReservedSlots) {
  TProbe* a = New<TProbe>();
  char expected[32];
  std::snprintf(expected, sizeof expected, "%p", static_cast<void*>(a));
  EXPECT_EQ(ToStd(a->Object::AsText()), expected);

  TProbe* b = New<TProbe>();
  Int ab = a->Object::CompareWith(b);
  EXPECT_EQ(ab < 0, a < b);
  EXPECT_EQ(ab, -b->Object::CompareWith(a));
  EXPECT_EQ(a->Object::CompareWith(a), 0);
  // Far apart addresses must not wrap to the wrong sign.
  EXPECT_GT(a->Object::CompareWith(nullptr), 0);
  EXPECT_EQ(a->HandleMessage(b), nullptr);

  void (Object::*reserved[])() = {&Object::Reserved0, &Object::Reserved1, &Object::Reserved2};
  for (auto slot : reserved) {
    std::string message;
    try {
      KxTry region;
      (a->*slot)();
    } catch (const KxThrown& e) {
      message = RaisedMessage(e);
    }
    EXPECT_EQ(message, "Illegal call to reserved method");
  }
}

class TRaisingProbe : public TProbe {
  KX_CLASS(TRaisingProbe, TProbe)
 public:
  TRaisingProbe() {
    where = Disguise(this);
    kxRaiseError(KX_STR("Attempt to build a broken probe"));
  }
  static uintptr_t where;
};
uintptr_t TRaisingProbe::where = 0;
KX_CLASS_RECORD(TRaisingProbe)

TEST(ObjectLifecycle, ConstructorThatRaisesGivesItsMemoryBack) {
  Int pending = kxPendingCount();
  Int bytes = kxBytesInUse();
  Int alive = TProbe::alive;
  std::string message;
  try {
    KxTry region;
    New<TRaisingProbe>();
  } catch (const KxThrown& e) {
    message = RaisedMessage(e);
  }
  EXPECT_EQ(message, "Attempt to build a broken probe");
  EXPECT_FALSE(IsObjectAt(TRaisingProbe::where));
  // Only the raised error object remains: pending and in use.
  EXPECT_EQ(kxPendingCount(), pending + 1);
  EXPECT_EQ(kxBytesInUse(), bytes + static_cast<Int>(sizeof(TMessageError)));
  EXPECT_EQ(TProbe::alive, alive);  // the base part was destroyed again
}

// A constructor that collects while its object is only on the stack.
class TCollectingProbe : public TProbe {
  KX_CLASS(TCollectingProbe, TProbe)
 public:
  TCollectingProbe() { kxCollectGarbage(); }
};
KX_CLASS_RECORD(TCollectingProbe)

TEST(ObjectLifecycle, CollectionDuringConstructionSchedulesTheObjectOnce) {
  Int alive = TProbe::alive;
  std::string output;
  [&]() __attribute__((noinline)) {
    TCollectingProbe* p = New<TCollectingProbe>();
    p->key = 106;
    EXPECT_EQ(p->refs, KX_REFS_PENDING);
  }();
  WipeStack();
  testing::internal::CaptureStdout();
  CollectAll();
  CollectAll();
  output = testing::internal::GetCapturedStdout();
  // A second entry for the same object would be seen after its memory was
  // given back: reported as bad refs, or freed twice.
  EXPECT_EQ(output, "");
  EXPECT_TRUE(TProbe::WasDestroyed(106));
  EXPECT_EQ(TProbe::alive, alive);
}

TEST(Handles, SameObjectSameHandleAndDropReleases) {
  uintptr_t where = 0;
  Int first = 0, again = 0, second = 0;
  [&]() __attribute__((noinline)) {
    TProbe* p = New<TProbe>(107);
    where = Disguise(p);
    first = kxObjectToHandle(p);
    again = kxObjectToHandle(p);
    second = kxObjectToHandle(New<TProbe>(108));
  }();
  EXPECT_EQ(first, 1);  // no handle was issued before in this program
  EXPECT_EQ(again, first);
  EXPECT_EQ(second, 2);
  EXPECT_EQ(kxObjectToHandle(nullptr), 0);
  // Lookups run in frames of their own: the test's frame keeps no pointer.
  auto keyOf = [](Int handle) __attribute__((noinline)) {
    TProbe* p = static_cast<TProbe*>(kxHandleLookup(handle));
    return p ? p->key : -1;
  };
  EXPECT_TRUE([&]() __attribute__((noinline)) { return SameAddress(kxHandleLookup(first), where); }());
  EXPECT_EQ(kxHandleLookup(999999), nullptr);
  EXPECT_EQ(kxHandleLookup(0), nullptr);

  // The handle's reference keeps the object through collections.
  WipeStack();
  CollectAll();
  ASSERT_TRUE(IsObjectAt(where));
  EXPECT_EQ(keyOf(first), 107);

  kxHandleDrop(first);
  kxHandleDrop(first);  // a second drop finds nothing to release
  EXPECT_EQ(keyOf(first), -1);
  WipeStack();
  CollectAll();
  EXPECT_TRUE(TProbe::WasDestroyed(107));
  EXPECT_FALSE(IsObjectAt(where));
  EXPECT_FALSE(TProbe::WasDestroyed(108));
  EXPECT_EQ(keyOf(second), 108);
  kxHandleDrop(second);
}

TEST(Handles, ManyObjectsInTheSameBucketsStayDistinct) {
  Ref<Array> keep = kxArrayNewOneDim(":TProbe", 3000);
  for (Int i = 0; i < 3000; ++i) kxArraySetRef(keep, i, New<TProbe>(10000 + i));
  Int handles[3000];
  for (Int i = 0; i < 3000; ++i) handles[i] = kxObjectToHandle(keep->RefElements()[i]);
  for (Int i = 0; i < 3000; ++i) {
    ASSERT_EQ(kxObjectToHandle(keep->RefElements()[i]), handles[i]);
    ASSERT_EQ(kxHandleLookup(handles[i]), keep->RefElements()[i]);
  }
  for (Int i = 0; i < 3000; i += 2) kxHandleDrop(handles[i]);
  for (Int i = 0; i < 3000; ++i) {
    ASSERT_EQ(kxHandleLookup(handles[i]), i % 2 ? keep->RefElements()[i] : nullptr);
    ASSERT_EQ(keep->RefElements()[i]->refs & ~KX_REFS_PENDING, i % 2 ? 2u : 1u);
  }
  for (Int i = 1; i < 3000; i += 2) kxHandleDrop(handles[i]);
}

TEST(EmbeddedBlobs, FirstRegistrationWinsAndAbsentNamesGiveNothing) {
  static const char first[] = "first block";
  static const char other[] = "other";
  EXPECT_EQ(kxAddEmbeddedBlob(Str("objects-test.bin"), first, 11), 1);
  EXPECT_EQ(kxAddEmbeddedBlob(Str("objects-test.bin"), other, 5), 0);
  EXPECT_EQ(kxAddEmbeddedBlob(Str("objects-test-2.bin"), other, 5), 1);
  WipeStack();
  CollectAll();  // the registry holds its names
  EXPECT_EQ(kxEmbeddedBlobData(Str("objects-test.bin")), first);
  EXPECT_EQ(kxEmbeddedBlobSize(Str("objects-test.bin")), 11);
  EXPECT_EQ(kxEmbeddedBlobData(Str("objects-test-2.bin")), other);
  EXPECT_EQ(kxEmbeddedBlobData(Str("objects-test.bi")), nullptr);
  EXPECT_EQ(kxEmbeddedBlobSize(Str("absent.bin")), 0);
}

}  // namespace
