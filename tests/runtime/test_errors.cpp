// Runtime errors: the standard kinds, nested protected regions, the try
// stack's growth, and termination signals taken at safe points.
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
  const struct {
    void (*raise)();
    const ClassRecord* cls;
    const char* text;
  } kinds[] = {
      {kxRaiseNullAccess, &TNullAccessError::classRecord,
       "Attempt to access field or method of Null object"},
      {kxRaiseAbstractCall, &TAbstractCallError::classRecord, "Attempt to call abstract method"},
      {kxRaiseNullFunction, &TNullFunctionError::classRecord,
       "Attempt to call uninitialized function pointer"},
      {kxRaiseIndexRange, &TIndexRangeError::classRecord,
       "Attempt to index array element beyond array length"},
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

// A waiting request ends the process from the main thread's next safe
// point, inside a protected region too; another thread leaves it waiting.
TEST(Errors, TerminationSignalsEndTheProcessFromTheMainThread) {
  EXPECT_EQ(Catch(kxCheckSignals), nullptr);
  EXPECT_EXIT(
      {
        kxTerminateSignal = 1;
        std::thread([] { kxDelay(3); }).join();
        if (kxTerminateSignal != 1) std::_Exit(3);
        Catch([] { kxDelay(3000); });
        std::_Exit(0);
      },
      testing::ExitedWithCode(255), "^appstub.linux signal handler 1$");
}
