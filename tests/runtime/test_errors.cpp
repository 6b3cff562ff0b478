// Runtime errors: the standard kinds, nested protected regions, the try
// stack's growth, and termination signals raised at safe points.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "runtime/error.h"
#include "runtime/module.h"
#include "runtime/time.h"
#include "tests/support/test_util.h"

namespace {

// What `body` raised inside a protected region, nullptr if nothing.
Object* Catch(const std::function<void()>& body) {
  try {
    KxTry region;
    body();
  } catch (const KxThrown& e) {
    return e.error.get();
  }
  return nullptr;
}

}  // namespace

TEST(Errors, KindsAndTheirTexts) {
  const struct { void (*raise)(); const ClassRecord* cls; const char* text; } kinds[] = {
      {kxRaiseNullAccess, &TNullAccessError::classRecord, "Attempt to access field or method of Null object"},
      {kxRaiseAbstractCall, &TAbstractCallError::classRecord, "Attempt to call abstract method"},
      {kxRaiseNullFunction, &TNullFunctionError::classRecord, "Attempt to call uninitialized function pointer"},
      {kxRaiseIndexRange, &TIndexRangeError::classRecord, "Attempt to index array element beyond array length"},
      {kxRaiseDataEnd, &TDataEndError::classRecord, "Attempt to read beyond end of data"}};
  for (const auto& k : kinds) {
    Object* error = Catch(k.raise);
    EXPECT_TRUE(kxObjectCast(error, k.cls) && Cast<TRuntimeErrorBase>(error)) << k.text;
    EXPECT_EQ(ToStd(kxErrorText(error)), k.text);
  }
  String* message = Str("disk on fire");
  const uint32_t refs = message->refs;
  Object* error = Catch([&] { kxRaiseError(message); });
  EXPECT_TRUE(Cast<TMessageError>(error) && kxErrorText(error) == message);
  EXPECT_EQ(message->refs, refs + 1);  // the error holds its message
  EXPECT_EQ(New<TMessageError>()->AsText(), &kxBlankString);
  EXPECT_EQ(ToStd(Cast<String>(Catch([] { kxThrowCString("plain"); }))), "plain");
}

// An inner region handles what it raises; what it passes on (kxThrow or a
// C++ rethrow) reaches the outer one; each frame is popped exactly once,
// and one region beyond the capacity grows the stack by ten.
TEST(Errors, NestedRegionsAndTryStackGrowth) {
  const Int base = kxTryDepth();
  for (int pass = 0; pass < 3; ++pass) {
    Object* outer = Catch([&] {
      try {
        KxTry inner;
        kxRaiseDataEnd();
      } catch (const KxThrown& e) {
        EXPECT_EQ(kxTryDepth(), base + 1);
        if (pass == 1) kxThrow(e.error);
        if (pass == 2) throw;
      }
    });
    EXPECT_EQ(Cast<TDataEndError>(outer) != nullptr, pass > 0) << pass;
    EXPECT_EQ(kxTryDepth(), base);
  }
  const Int capacity = kxTryCapacity();
  Int seen = 0;
  std::function<void()> nest = [&] {
    Catch([&] { kxTryDepth() <= capacity ? nest() : void(seen = kxTryCapacity()); });
  };
  nest();
  EXPECT_EQ(seen, capacity + 10);
  EXPECT_EQ(kxTryDepth(), base);
}

TEST(Errors, TerminationSignalsRaisedOnceOnTheMainThread) {
  EXPECT_EQ(Catch(kxCheckSignals), nullptr);
  kxTerminateSignal = 15;
  EXPECT_EQ(ToStd(kxErrorText(Catch(kxCheckSignals))), "appstub.linux signal handler 15");
  EXPECT_EQ(Catch(kxCheckSignals), nullptr);
  // Another thread may not create objects: it leaves the signal waiting,
  // and the main thread's delay raises it at its next tick.
  kxTerminateSignal = 1;
  std::thread([] { kxDelay(3); }).join();
  const Int start = kxMilliSecs();
  EXPECT_EQ(ToStd(kxErrorText(Catch([] { kxDelay(3000); }))), "appstub.linux signal handler 1");
  EXPECT_LT(kxMilliSecs() - start, 3000);
}
