// Objects: class records, construction and destruction order, class tests,
// the root class's slots, the object lifecycle through the pending list,
// handles and the embedded data registry.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/array.h"
#include "runtime/error.h"
#include "runtime/kxstring.h"
#include "tests/runtime/object_probe.h"
#include "tests/support/test_util.h"

namespace {

TEST(ClassRecords, StandardSlotsInOrderForRootStringArrayAndRuntimeClasses) {
  String* banana = Str("banana");
  Array* ints = kxArrayNew("i", 2, 3, 4);
  TMessageError* error = New<TMessageError>();
  kxRelease(error->message);
  error->message = Str("disk full");
  kxRetain(error->message);
  const struct {
    const ClassRecord* record;
    Object* sample;
    const ClassRecord* super;
    const char* name;
    int32_t size;  // the documented 8 for Object on i686, 16 on x86-64
    bool makeable;
    int32_t methods;
    std::string text;  // the AsText slot's result; "" stands for the address
  } cases[] = {
      {&kxRootClass, New<Object>(), nullptr, "Object", OnArch(8, 16), true, 0, ""},
      {&kxStringClass, banana, &kxRootClass, "String", 0, false, 20, "banana"},
      {&kxArrayClassRecord, ints, &kxRootClass, "Array", 0, false, 2, ""},
      {&TMessageError::classRecord, error, &TRuntimeErrorBase::classRecord, "TMessageError",
       int32_t(sizeof(TMessageError)), true, 0, "disk full"},
  };
  for (const auto& c : cases) {
    const ClassRecord* r = c.record;
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.sample->Class(), r);
    EXPECT_EQ(r->super, c.super);
    EXPECT_EQ(r->debug->kind, 2);
    EXPECT_STREQ(r->debug->name, c.name);
    EXPECT_EQ(r->instanceSize, c.size);
    EXPECT_EQ(r->constructor != nullptr, c.makeable);
    EXPECT_EQ(r->destructor != nullptr, c.makeable);
    EXPECT_EQ(r->methodCount, c.methods);
    for (auto* reserved : r->reserved)
      EXPECT_EQ(RaisedString([&] { reserved(c.sample); }), "Illegal call to reserved method");
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<void*>(c.sample));
    EXPECT_EQ(ToStd(r->AsText(c.sample)), c.text.empty() ? std::string(address) : c.text);
    EXPECT_EQ(r->HandleMessage(c.sample, banana), nullptr);
  }
  // Slots a class does not override are its super class's.
  EXPECT_EQ(kxArrayClassRecord.AsText, kxRootClass.AsText);
  EXPECT_EQ(kxArrayClassRecord.CompareWith, kxRootClass.CompareWith);
  EXPECT_NE(kxStringClass.AsText, kxRootClass.AsText);
  EXPECT_EQ(TMessageError::classRecord.CompareWith, kxRootClass.CompareWith);
  EXPECT_GT(kxStringClass.CompareWith(Str("b"), Str("a")), 0);
  EXPECT_LT(kxRootClass.CompareWith(ints, ints + 1), 0);
  EXPECT_EQ(TProbeChild::classRecord.super, &TProbe::classRecord);

  // Method slots, in their documented order.
  EXPECT_EQ(kxStringClass.Method<Int (*)(Object*, String*, Int)>(0)(banana, Str("an"), 2), 3);
  EXPECT_EQ(kxStringClass.Method<Int (*)(Object*, String*, Int)>(1)(banana, Str("an"), 0), 3);
  EXPECT_EQ(ToStd(kxStringClass.Method<String* (*)(Object*)>(5)(banana)), "BANANA");
  EXPECT_EQ(kxStringClass.Method<Int (*)(Object*)>(6)(Str("-42")), -42);
  EXPECT_EQ(ToStd(kxStringClass.Method<String* (*)(Int)>(12)(-7)), "-7");
  EXPECT_EQ(ToStd(kxStringClass.Method<String* (*)(const char*)>(16)("cd")), "cd");
  EXPECT_EQ(ToStd(kxStringClass.Method<String* (*)(const void*, Int)>(18)("xyz", 2)), "xy");
  Array* shuffled = kxArrayFromValues("i", 4, std::vector<Int>{3, 1, 4, 2}.data());
  kxArrayClassRecord.Method<void (*)(Object*, Int)>(0)(shuffled, 0);
  EXPECT_EQ(shuffled->Elements<Int>()[0], 4);
  EXPECT_EQ(shuffled->Elements<Int>()[3], 1);
  Array* sizes = kxArrayClassRecord.Method<Array* (*)(Object*)>(1)(ints);
  ASSERT_EQ(sizes->Length(), 2);
  EXPECT_EQ(sizes->Elements<Int>()[0], 3);
  EXPECT_EQ(sizes->Elements<Int>()[1], 4);

  // kxNewObject: the record's size and constructor; records without one refuse.
  Object* root = kxNewObject(&kxRootClass);
  EXPECT_EQ(root->Class(), &kxRootClass);
  EXPECT_EQ(root->refs, KX_REFS_PENDING);
  EXPECT_TRUE(kxIsObjectAddress(root));
  Object* made = kxNewObject(&TMessageError::classRecord);
  ASSERT_NE(Cast<TMessageError>(made), nullptr);
  EXPECT_EQ(made->AsText(), &kxBlankString);
  EXPECT_EQ(Raised([] { kxNewObject(&kxArrayClassRecord); }), "Attempt to call abstract method");
  EXPECT_EQ(Raised([] { kxNewObject(&kxStringClass); }), "Attempt to call abstract method");
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
  *aliveAfterCollection = !TProbe::WasDestroyed(103) && local->key == 103 &&
                          kxIsObjectAddress(local);
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

// A constructor that collects while its object is only on the stack.
class TCollectingProbe : public TProbe {
  KX_CLASS(TCollectingProbe, TProbe)
 public:
  TCollectingProbe() { kxCollectGarbage(); }
};
KX_CLASS_RECORD(TCollectingProbe)

// Twenty owners holding a probe each, and twenty objects that collected
// while they were being built. A stale stack word may keep the odd one.
TEST(ObjectLifecycle, FieldsGoWithTheirOwnerAndObjectsCollectedInTheirConstructorGoOnce) {
  RunDeep([] {
    for (Int i = 0; i < 20; ++i) {
      TCollectingProbe* p = New<TCollectingProbe>();
      p->key = 1200 + i;
      EXPECT_EQ(p->refs, KX_REFS_PENDING);
    }
    for (Int i = 0; i < 20; ++i) New<TProbe>(1000 + i)->held = New<TProbe>(1100 + i);
  });
  testing::internal::CaptureStdout();
  kxCollectGarbage();
  // Every owner freed takes its field's object with it in the same collection.
  Int owners = 0;
  for (Int i = 0; i < 20; ++i) {
    if (!TProbe::WasDestroyed(1000 + i)) continue;
    ++owners;
    EXPECT_TRUE(TProbe::WasDestroyed(1100 + i)) << i;
  }
  EXPECT_GE(owners, 15);
  CollectAll();
  CollectAll();
  // A second list entry for the same object would be met after its memory
  // was given back: reported as bad refs, or its destructor run twice.
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
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
  // Forged handles whose eightfold wraps onto 1 or 2 find and drop nothing.
  for (Int forged : {Int(0x20000001), Int(0x20000002), Int(0x60000002), Int(0xA0000001), -1}) {
    EXPECT_EQ(kxHandleLookup(forged), nullptr) << forged;
    drop(forged);
  }
  EXPECT_EQ(keyOf(second), 108);

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
  // A negative length, or a length without data, is refused with an error
  // and leaves nothing registered.
  for (Int length : {-1, INT32_MIN}) {
    EXPECT_EQ(Raised([&] { kxAddEmbeddedBlob(Str("negative.bin"), first, length); }),
              "Attempt to register an embedded block of negative length");
  }
  EXPECT_EQ(Raised([] { kxAddEmbeddedBlob(Str("nodata.bin"), nullptr, 4); }),
            ToStd(kxErrorText(New<TNullAccessError>())));
  EXPECT_EQ(kxEmbeddedBlobSize(Str("negative.bin")) + kxEmbeddedBlobSize(Str("nodata.bin")), 0);
  EXPECT_EQ(kxAddEmbeddedBlob(Str("empty.bin"), nullptr, 0), 1);
}

}  // namespace
