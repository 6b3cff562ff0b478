// Hook chains, the text of events and the event queue.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/event.h"
#include "input/hooks.h"
#include "runtime/error.h"
#include "tests/input/input_test_support.h"
#include "tests/support/test_util.h"

namespace {

std::vector<std::string> calls;

// Logs its context's text, so one function stands for many hooks.
Object* Log(Int, Object* data, Object* context) {
  calls.push_back(context ? ToStd(Cast<String>(context))
                          : "null:" + std::to_string(data != nullptr));
  return data;
}
Object* OtherLog(Int id, Object* data, Object* context) { return Log(id, data, context); }
Object* ReturnNull(Int, Object*, Object*) { return nullptr; }
Object* DetachSelf(Int id, Object* data, Object* context) {
  calls.push_back("self");
  DetachHook(id, &DetachSelf, context);
  CollectAll();  // the running hook must survive its own detaching
  return data;
}

std::vector<std::string> RunChain(Int id) {
  calls.clear();
  CallHooks(id, Str("data"));
  return calls;
}

bool Raises(void (*call)(Int), Int id, const ClassRecord* kind = nullptr) {
  try {
    KxTry region;
    call(id);
  } catch (const KxThrown& e) {
    return !kind || kxObjectCast(e.error, kind);
  }
  return false;
}

TEST(Hooks, OrderNullDataDetachingAndMisuse) {
  InitHooksModule();
  Int id = NewHookId();
  String* a = Str("a");
  AttachHook(id, &Log, Str("first 0"), 0);
  AttachHook(id, &Log, Str("five"), 5);
  AttachHook(id, &Log, a, 0);
  AttachHook(id, &Log, Str("minus 3"), -3);
  AttachHook(id, &OtherLog, a, -3);
  AttachHook(id, &Log, a, -5);
  CollectAll();  // the chain alone keeps hooks and contexts alive
  EXPECT_EQ(RunChain(id), (std::vector<std::string>{"five", "first 0", "a", "minus 3", "a", "a"}));

  DetachHook(id, &Log, Str("a"));  // equal text, another object: no match
  DetachHook(id, &Log, a);         // only the first of the two (Log, a)
  EXPECT_EQ(RunChain(id), (std::vector<std::string>{"five", "first 0", "minus 3", "a", "a"}));
  DetachHook(id, &Log, Str("five"));
  DetachHook(id, &OtherLog, a);
  EXPECT_EQ(RunChain(id), (std::vector<std::string>{"five", "first 0", "minus 3", "a"}));

  // A hook returning null hands null on; every hook still runs.
  AttachHook(id, &ReturnNull, nullptr, 1);
  AttachHook(id, &Log, nullptr, -10);
  AttachHook(id, &DetachSelf, nullptr, 3);
  EXPECT_EQ(CallHooks(id, Str("x")), nullptr);
  EXPECT_EQ(RunChain(id), (std::vector<std::string>{"five", "first 0", "minus 3", "a", "null:0"}));
  EXPECT_EQ(CallHooks(NewHookId(), a), a);  // an empty chain gives the data back

  // Missing functions and foreign ids raise rather than crash.
  id = NewHookId();
  AttachHook(id, nullptr, nullptr, 0);
  EXPECT_TRUE(Raises([](Int i) { CallHooks(i, nullptr); }, id, &TNullFunctionError::classRecord));
  DetachHook(id, nullptr, nullptr);
  EXPECT_FALSE(Raises([](Int i) { CallHooks(i, nullptr); }, id));
  for (Int bad : {-1, 256})
    EXPECT_TRUE(Raises([](Int i) { AttachHook(i, &Log, nullptr, 0); }, bad)) << bad;
}

TEST(HooksChildCase, TooManyHookIds) {
  InitHooksModule();
  Int next = 0;
  try {
    KxTry region;
    while (NewHookId() == next) ++next;
    printf("id out of order after %d\n", next);
  } catch (const KxThrown& e) {
    printf("after %d ids: %s\n", next, ToStd(kxErrorText(e.error)).c_str());
  }
}

TEST(Hooks, IdsRunFromZeroTo255ThenTooManyHookIds) {
  ChildResult r = RunChildCaseCaught("TooManyHookIds");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "after 256 ids: Too many hook ids\n");
}

TEST(Event, AsText) {
  InitEventModule();
  auto text = [](Int id, Int data, Int mods, Int x, Int y, Object* extra) {
    return ToStd(TEvent::NewEvent(id, nullptr, data, mods, x, y, extra)->AsText());
  };
  EXPECT_EQ(text(EVENT_KEYDOWN, 27, 0, 10, 20, nullptr),
            "KeyDown: data=27, mods=0, x=10, y=20, extra=\"\"");
  EXPECT_EQ(text(EVENT_MOUSEWHEEL, -1, 3, -5, 7, Str("hi")),
            "MouseWheel: data=-1, mods=3, x=-5, y=7, extra=\"hi\"");
  EXPECT_EQ(text(4097, 1, 2, 3, 4, New<TEvent>()),  // not a String: nothing quoted
            "Unknown Event, id=4097: data=1, mods=2, x=3, y=4, extra=\"\"");
  EXPECT_EQ(text(EVENT_APPSUSPEND, 0, 0, 0, 0, nullptr).substr(0, 11), "AppSuspend:");
  EXPECT_EQ(text(EVENT_MENUACTION, 0, 0, 0, 0, nullptr).substr(0, 11), "MenuAction:");
  EXPECT_EQ(text(EVENT_WINDOWACCEPT, 0, 0, 0, 0, nullptr).substr(0, 13), "WindowAccept:");
}

class QueueTest : public testing::Test {
 protected:
  void SetUp() override {
    InitEventQueueModule();
    while (NextQueuedEvent() != 0) {
    }
  }
  static void Emit(Int id, Int data, Object* source = nullptr) {
    TEvent::NewEvent(id, source, data, 0, 0, 0, nullptr)->Dispatch();
  }
  TestSystemScope driver_;  // nothing to pump
};

TEST_F(QueueTest, EmptyPeekNextAndWait) {
  int polls = driver_->polls;
  EXPECT_EQ(PeekQueuedEvent(), nullptr);
  EXPECT_EQ(NextQueuedEvent(), 0);
  EXPECT_EQ(driver_->polls, polls + 2);  // each pumped once
  EXPECT_EQ(QueuedEventId() | QueuedEventData() | QueuedEventMods() | QueuedEventX(), 0);
  EXPECT_EQ(QueuedEventSource(), nullptr);
  EXPECT_EQ(ToStd(QueuedEventExtraText()), "");

  driver_->onPoll = [](TTestSystem*) { Emit(EVENT_MOUSEMOVE, 5); };
  TEvent* peeked = PeekQueuedEvent();
  ASSERT_NE(peeked, nullptr);
  EXPECT_EQ(PeekQueuedEvent(), peeked);  // left in place, no second pump
  EXPECT_EQ(driver_->polls, polls + 3);
  driver_->onPoll = nullptr;
  EXPECT_EQ(NextQueuedEvent(), EVENT_MOUSEMOVE);

  driver_->onWait = [](TTestSystem* self) {
    if (self->waits == 3) Emit(EVENT_KEYUP, 7, Str("src"));
  };
  EXPECT_EQ(WaitQueuedEvent(), EVENT_KEYUP);
  EXPECT_EQ(driver_->waits, 3);
  EXPECT_EQ(QueuedEventData(), 7);
  EXPECT_EQ(ToStd(Cast<String>(kxHandleLookup(QueuedEventSourceHandle()))), "src");
}

TEST_F(QueueTest, StateEventsOfOneSourceMergeInPlace) {
  String* timer = Str("timer");
  Emit(EVENT_TIMERTICK, 1, timer);
  Emit(EVENT_KEYDOWN, 65);
  TEvent::NewEvent(EVENT_TIMERTICK, timer, 2, 4, 5, 6, Str("late"))->Dispatch();
  Emit(EVENT_TIMERTICK, 3, Str("another timer"));
  Emit(EVENT_KEYDOWN, 65);
  Emit(EVENT_WINDOWSIZE, 1);
  Emit(EVENT_WINDOWSIZE, 2);
  CollectAll();
  Pairs got;
  while (Int id = NextQueuedEvent()) {
    got.emplace_back(id, QueuedEventData());
    if (got.size() == 1) {
      EXPECT_EQ(ToStd(QueuedEventExtraText()), "late");
    }
  }
  EXPECT_EQ(got, (Pairs{{EVENT_TIMERTICK, 2},
                        {EVENT_KEYDOWN, 65},
                        {EVENT_TIMERTICK, 3},
                        {EVENT_KEYDOWN, 65},
                        {EVENT_WINDOWSIZE, 2}}));
}

TEST_F(QueueTest, FullQueueDropsNewcomersUntilOneIsTaken) {
  for (Int i = 0; i < 257; ++i) Emit(EVENT_KEYCHAR, i);
  EXPECT_EQ(NextQueuedEvent(), EVENT_KEYCHAR);
  Emit(EVENT_KEYCHAR, 1000);
  CollectAll();
  Pairs got;
  while (Int id = NextQueuedEvent()) got.emplace_back(id, QueuedEventData());
  ASSERT_EQ(got.size(), 256u);
  EXPECT_EQ(got[0].second, 1);
  EXPECT_EQ(got[254].second, 255);  // 256 was dropped
  EXPECT_EQ(got[255].second, 1000);
}

}  // namespace
