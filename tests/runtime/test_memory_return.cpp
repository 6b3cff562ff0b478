// Memory of collected objects really goes back: a collection that calls
// the free routines must also bring the bytes in use down again.
#include <gtest/gtest.h>

#include "runtime/array.h"
#include "runtime/kxstring.h"
#include "runtime/object.h"
#include "tests/runtime/object_probe.h"
#include "tests/support/test_util.h"

namespace {

// Collections run twice (objects found on the stack by the first are only
// rescheduled for the second), with the caller's dead stack wiped.
void CollectClean() {
  WipeStack();
  CollectAll();
  CollectAll();
}

TEST(MemoryReturn, CollectedStringsAndArraysGiveTheirBytesBack) {
  CollectClean();
  const Int before = kxBytesInUse();
  kxSetCollectMode(KX_COLLECT_ON_REQUEST);  // only on request while building
  RunDeep([] {
    for (Int i = 0; i < 2000; ++i) {
      String* s = kxStringConcat(KX_STR("Generation number "), kxStringFromInt(i));
      Array* a = kxArrayNew("$", 1, 4);
      kxArraySetRef(a, 0, s);
      (void)a;
    }
  });
  kxSetCollectMode(KX_COLLECT_AUTO);
  EXPECT_GT(kxBytesInUse(), before + 2000 * 16);
  CollectClean();
  // A few objects may stay protected by stale stack words; nearly all of
  // the tens of kilobytes must be back.
  EXPECT_LT(kxBytesInUse(), before + 1024);
}

}  // namespace
