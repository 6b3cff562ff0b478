// Runtime errors: the texts of the standard kinds, protected regions and
// their nesting, the try stack's depth and growth, and the deferred
// termination signals raised at safe points.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "runtime/error.h"
#include "runtime/module.h"
#include "runtime/time.h"
#include "tests/support/test_util.h"

namespace {

// Runs `body` in a protected region and returns what it raised (nullptr if
// nothing was raised).
template <class F>
Object* Catch(F body) {
  try {
    KxTry region;
    body();
  } catch (const KxThrown& e) {
    return e.error.get();
  }
  return nullptr;
}

template <class T>
std::string TextOfRaised(void (*raise)()) {
  Object* error = Catch(raise);
  EXPECT_NE(Cast<T>(error), nullptr);
  EXPECT_NE(Cast<TRuntimeErrorBase>(error), nullptr);
  return ToStd(kxErrorText(error));
}

}  // namespace

TEST(ErrorKinds, EachRaisingRoutineRaisesItsClassWithItsText) {
  EXPECT_EQ(TextOfRaised<TNullAccessError>(kxRaiseNullAccess), "Attempt to access field or method of Null object");
  EXPECT_EQ(TextOfRaised<TAbstractCallError>(kxRaiseAbstractCall), "Attempt to call abstract method");
  EXPECT_EQ(TextOfRaised<TNullFunctionError>(kxRaiseNullFunction), "Attempt to call uninitialized function pointer");
  EXPECT_EQ(TextOfRaised<TIndexRangeError>(kxRaiseIndexRange), "Attempt to index array element beyond array length");
  EXPECT_EQ(TextOfRaised<TDataEndError>(kxRaiseDataEnd), "Attempt to read beyond end of data");
  EXPECT_STREQ(TNullAccessError::classRecord.name, "TNullAccessError");
  EXPECT_EQ(TMessageError::classRecord.super, &TRuntimeErrorBase::classRecord);
}

TEST(ErrorKinds, MessageErrorHoldsItsMessage) {
  TMessageError* fresh = New<TMessageError>();
  EXPECT_EQ(fresh->AsText(), &kxBlankString);

  String* message = Str("disk on fire");
  const uint32_t refsBefore = message->refs;
  Object* error = Catch([&] { kxRaiseError(message); });
  ASSERT_NE(Cast<TMessageError>(error), nullptr);
  EXPECT_EQ(kxErrorText(error), message);
  EXPECT_EQ(message->refs, refsBefore + 1);  // the error holds the message

  Object* text = Catch([] { kxThrowCString("plain text"); });
  ASSERT_NE(Cast<String>(text), nullptr);
  EXPECT_EQ(ToStd(kxErrorText(text)), "plain text");

  EXPECT_EQ(kxErrorText(nullptr), &kxBlankString);
}

// The error object outlives the region that raised it as long as the
// exception holds it, and a collection afterwards does not break the text.
TEST(ErrorKinds, RaisedObjectSurvivesCollectionWhileHeld) {
  Ref<Object> kept;
  try {
    KxTry region;
    kxRaiseError(Str("kept alive"));
  } catch (const KxThrown& e) {
    kept = e.error;
  }
  CollectAll();
  EXPECT_EQ(ToStd(kxErrorText(kept)), "kept alive");
}

TEST(TryStack, RegionsPushAndPopOneFrameEach) {
  const Int base = kxTryDepth();
  try {
    KxTry outer;
    EXPECT_EQ(kxTryDepth(), base + 1);
    try {
      KxTry inner;
      EXPECT_EQ(kxTryDepth(), base + 2);
    } catch (const KxThrown&) {
      ADD_FAILURE() << "nothing was raised";
    }
    EXPECT_EQ(kxTryDepth(), base + 1);
  } catch (const KxThrown&) {
    ADD_FAILURE() << "nothing was raised";
  }
  EXPECT_EQ(kxTryDepth(), base);
}

TEST(TryStack, GrowsByTenWhenFull) {
  const Int base = kxTryDepth();
  const Int capacity = kxTryCapacity();
  Int seen = 0;
  // Enough nested regions to pass the current capacity by one.
  std::function<void(Int)> nest = [&](Int left) {
    try {
      KxTry region;
      if (left > 1) {
        nest(left - 1);
      } else {
        seen = kxTryCapacity();
      }
    } catch (const KxThrown&) {
    }
  };
  nest(capacity - base + 1);
  EXPECT_EQ(seen, capacity + 10);
  EXPECT_EQ(kxTryCapacity(), capacity + 10);  // never shrinks
  EXPECT_EQ(kxTryDepth(), base);
}

TEST(TryStack, InnerRegionCatchesAndOuterGoesOn) {
  const Int base = kxTryDepth();
  std::string log;
  try {
    KxTry outer;
    try {
      KxTry inner;
      kxRaiseIndexRange();
    } catch (const KxThrown& e) {
      log += "inner ";
      EXPECT_EQ(kxTryDepth(), base + 1);
    }
    log += "after ";
  } catch (const KxThrown&) {
    log += "outer ";
  }
  EXPECT_EQ(log, "inner after ");
  EXPECT_EQ(kxTryDepth(), base);
}

// An inner region that does not handle the error raises it again, with
// kxThrow or with a C++ rethrow; either way each frame is popped once.
TEST(TryStack, UnhandledInnerErrorsReachTheOuterRegion) {
  const Int base = kxTryDepth();
  for (bool cppRethrow : {false, true}) {
    Object* seenOuter = nullptr;
    try {
      KxTry outer;
      try {
        KxTry inner;
        kxRaiseDataEnd();
      } catch (const KxThrown& e) {
        if (Cast<TIndexRangeError>(e.error)) FAIL() << "wrong class matched";
        if (cppRethrow) throw;
        kxThrow(e.error);
      }
    } catch (const KxThrown& e) {
      seenOuter = e.error.get();
      EXPECT_EQ(kxTryDepth(), base);
    }
    EXPECT_NE(Cast<TDataEndError>(seenOuter), nullptr) << cppRethrow;
    EXPECT_EQ(kxTryDepth(), base) << cppRethrow;
  }
}

TEST(TryStack, RaisingFromDeepCallsUnwindsToTheRegion) {
  const Int base = kxTryDepth();
  std::function<void(int)> deep = [&](int n) {
    if (n == 0) kxRaiseAbstractCall();
    try {
      KxTry region;  // every level has its own region, none handles it
      deep(n - 1);
    } catch (const KxThrown& e) {
      kxThrow(e.error);
    }
  };
  Object* error = Catch([&] { deep(25); });
  EXPECT_NE(Cast<TAbstractCallError>(error), nullptr);
  EXPECT_EQ(kxTryDepth(), base);
}

TEST(DeferredSignals, CheckRaisesTheRecordedSignalOnce) {
  EXPECT_EQ(Catch([] { kxCheckSignals(); }), nullptr);
  kxTerminateSignal = 15;
  Object* error = Catch([] { kxCheckSignals(); });
  EXPECT_NE(Cast<TMessageError>(error), nullptr);
  EXPECT_EQ(ToStd(kxErrorText(error)), "appstub.linux signal handler 15");
  EXPECT_EQ(kxTerminateSignal, 0);
  EXPECT_EQ(Catch([] { kxCheckSignals(); }), nullptr);
}

TEST(DeferredSignals, DelayRaisesAtItsTick) {
  kxTerminateSignal = 2;
  const Int start = kxMilliSecs();
  Object* error = Catch([] { kxDelay(3000); });
  EXPECT_EQ(ToStd(kxErrorText(error)), "appstub.linux signal handler 2");
  EXPECT_LT(kxMilliSecs() - start, 3000);
}

// Only the main thread may create the error object: another thread leaves
// the signal for the main thread's next safe point.
TEST(DeferredSignals, OtherThreadsLeaveTheSignalWaiting) {
  kxTerminateSignal = 1;
  std::thread worker([] {
    kxCheckSignals();
    kxDelay(3);
  });
  worker.join();
  EXPECT_EQ(kxTerminateSignal, 1);
  Object* error = Catch([] { kxCheckSignals(); });
  EXPECT_EQ(ToStd(kxErrorText(error)), "appstub.linux signal handler 1");
}

TEST(ModuleInit, RuntimeRoutineRunsOnceAndReturnsZero) {
  EXPECT_EQ(InitRuntimeModule(), 0);
  EXPECT_EQ(InitRuntimeModule(), 0);
  EXPECT_TRUE(kxOnMainThread());
  bool other = true;
  std::thread([&] { other = kxOnMainThread(); }).join();
  EXPECT_FALSE(other);
}
