// Hook chains, TEvent text and the event queue.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/event.h"
#include "input/hooks.h"
#include "runtime/error.h"
#include "tests/input/input_test_support.h"
#include "tests/support/test_util.h"

namespace {

std::vector<std::string> callOrder;

// Each hook logs its context's text, so one function can stand for many hooks.
Object* LogHook(Int, Object* data, Object* context) {
  callOrder.push_back(ToStd(Cast<String>(context)));
  return data;
}
Object* OtherLogHook(Int id, Object* data, Object* context) { return LogHook(id, data, context); }
Object* NullHook(Int, Object*, Object*) { return nullptr; }

std::vector<Object*> seenData;
Object* SeeData(Int, Object* data, Object*) {
  seenData.push_back(data);
  return data;
}

Int FreshHookId() {
  InitHooksModule();
  return NewHookId();
}

TEST(Hooks, RunInDescendingPriorityThenAttachOrder) {
  Int id = FreshHookId();
  callOrder.clear();
  AttachHook(id, &LogHook, Str("first 0"), 0);
  AttachHook(id, &LogHook, Str("five"), 5);
  AttachHook(id, &LogHook, Str("second 0"), 0);
  AttachHook(id, &LogHook, Str("minus 3"), -3);
  CollectAll();  // the chain alone keeps hooks and contexts alive
  Object* data = Str("payload");
  EXPECT_EQ(CallHooks(id, data), data);
  EXPECT_EQ(callOrder, (std::vector<std::string>{"five", "first 0", "second 0", "minus 3"}));
}

TEST(Hooks, EmptyChainReturnsDataAndNullPropagates) {
  Int id = FreshHookId();
  Object* data = Str("x");
  EXPECT_EQ(CallHooks(id, data), data);

  seenData.clear();
  AttachHook(id, &NullHook, nullptr, 10);
  AttachHook(id, &SeeData, nullptr, 0);
  AttachHook(id, &SeeData, nullptr, -1);
  EXPECT_EQ(CallHooks(id, data), nullptr);
  // Every hook runs, and those after the null one are handed null.
  EXPECT_EQ(seenData, (std::vector<Object*>{nullptr, nullptr}));
}

TEST(Hooks, DetachRemovesFirstMatchOfFunctionAndContextOnly) {
  Int id = FreshHookId();
  String* a = Str("a");
  String* b = Str("b");
  AttachHook(id, &LogHook, a, 3);
  AttachHook(id, &LogHook, b, 2);
  AttachHook(id, &LogHook, a, 1);
  AttachHook(id, &OtherLogHook, a, 0);

  DetachHook(id, &LogHook, Str("a"));  // equal text, other object: no match
  DetachHook(id, &SeeData, a);         // never attached: nothing
  callOrder.clear();
  CallHooks(id, nullptr);
  EXPECT_EQ(callOrder, (std::vector<std::string>{"a", "b", "a", "a"}));

  DetachHook(id, &LogHook, a);  // the head
  callOrder.clear();
  CallHooks(id, nullptr);
  EXPECT_EQ(callOrder, (std::vector<std::string>{"b", "a", "a"}));

  DetachHook(id, &LogHook, a);  // now the one in the middle
  DetachHook(id, &OtherLogHook, a);
  callOrder.clear();
  CallHooks(id, nullptr);
  EXPECT_EQ(callOrder, (std::vector<std::string>{"b"}));
}

Int selfDetachId = -1;
int selfDetachCalls = 0;
Object* DetachSelf(Int id, Object* data, Object* context) {
  ++selfDetachCalls;
  DetachHook(id, &DetachSelf, context);
  CollectAll();
  return data;
}

TEST(Hooks, HookMayDetachItselfWhileTheChainRuns) {
  selfDetachId = FreshHookId();
  callOrder.clear();
  selfDetachCalls = 0;
  AttachHook(selfDetachId, &DetachSelf, nullptr, 1);
  AttachHook(selfDetachId, &LogHook, Str("after"), 0);
  CallHooks(selfDetachId, nullptr);
  CallHooks(selfDetachId, nullptr);
  EXPECT_EQ(selfDetachCalls, 1);
  EXPECT_EQ(callOrder, (std::vector<std::string>{"after", "after"}));
}

TEST(Hooks, UnsetFunctionAndBadIdsRaiseInsteadOfCrashing) {
  Int id = FreshHookId();
  // A THook made without a function, or attached with none, raises when run.
  THook* bare = New<THook>();
  bool raised = false;
  try {
    KxTry region;
    bare->function(id, nullptr, nullptr);
  } catch (const KxThrown& e) {
    raised = Cast<TNullFunctionError>(e.error) != nullptr;
  }
  EXPECT_TRUE(raised);
  AttachHook(id, nullptr, nullptr, 0);
  raised = false;
  try {
    KxTry region;
    CallHooks(id, nullptr);
  } catch (const KxThrown& e) {
    raised = Cast<TNullFunctionError>(e.error) != nullptr;
  }
  EXPECT_TRUE(raised);
  DetachHook(id, nullptr, nullptr);
  EXPECT_EQ(CallHooks(id, Str("ok")) != nullptr, true);

  for (Int bad : {-1, 256, 100000}) {
    raised = false;
    try {
      KxTry region;
      AttachHook(bad, &LogHook, nullptr, 0);
    } catch (const KxThrown&) {
      raised = true;
    }
    EXPECT_TRUE(raised) << "id " << bad;
  }
}

int TooManyHookIds() {
  InitHooksModule();
  Int expected = 0;
  try {
    KxTry region;
    for (;; ++expected) {
      Int id = NewHookId();
      if (id != expected) {
        printf("id %d where %d was due\n", id, expected);
        return 1;
      }
    }
  } catch (const KxThrown& e) {
    printf("after %d ids: %s\n", expected, ToStd(kxErrorText(e.error)).c_str());
  }
  return 0;
}
ChildScenario tooManyHookIds("too-many-hook-ids", &TooManyHookIds);

TEST(Hooks, IdsRunFromZeroTo255ThenTooManyHookIds) {
  ChildResult r = RunChild("too-many-hook-ids");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "after 256 ids: Too many hook ids\n");
}

TEST(Event, AsTextNamesTheIdAndQuotesStringExtras) {
  InitEventModule();
  EXPECT_EQ(ToStd(TEvent::NewEvent(EVENT_KEYDOWN, nullptr, 27, 0, 10, 20, nullptr)->AsText()),
            "KeyDown: data=27, mods=0, x=10, y=20, extra=\"\"");
  EXPECT_EQ(ToStd(TEvent::NewEvent(EVENT_MOUSEWHEEL, Str("src"), -1, 3, -5, 7, Str("hi"))
                      ->AsText()),
            "MouseWheel: data=-1, mods=3, x=-5, y=7, extra=\"hi\"");
  // An extra that is not a String prints as nothing between the quotes.
  EXPECT_EQ(ToStd(TEvent::NewEvent(4097, nullptr, 1, 2, 3, 4, New<TEvent>())->AsText()),
            "Unknown Event, id=4097: data=1, mods=2, x=3, y=4, extra=\"\"");
  const std::pair<Int, const char*> names[] = {
      {257, "AppSuspend"},    {260, "AppOpenFile"},  {515, "KeyChar"},
      {1030, "MouseLeave"},   {2049, "TimerTick"},   {8199, "GadgetDone"},
      {16389, "WindowAccept"}, {32769, "MenuAction"}, {0, "Unknown Event, id=0"},
  };
  for (const auto& [id, name] : names) {
    std::string text = ToStd(TEvent::NewEvent(id, nullptr, 0, 0, 0, 0, nullptr)->AsText());
    EXPECT_EQ(text.substr(0, text.find(':')), name);
  }
}

TEST(Event, NewEventKeepsSourceAndExtraAlive) {
  InitEventModule();
  TEvent* e = TEvent::NewEvent(EVENT_KEYUP, Str("source"), 5, 6, 7, 8, Str("extra"));
  Ref<TEvent> keep = e;
  CollectAll();
  EXPECT_EQ(ToStd(Cast<String>(keep->source)), "source");
  EXPECT_EQ(ToStd(Cast<String>(keep->extra)), "extra");
  EXPECT_EQ(keep->id, EVENT_KEYUP);
  EXPECT_EQ(keep->data + keep->mods + keep->x + keep->y, 5 + 6 + 7 + 8);
}

// --- the queue ------------------------------------------------------------

class QueueTest : public testing::Test {
 protected:
  void SetUp() override {
    InitEventQueueModule();
    while (NextQueuedEvent() != 0) {
    }
  }
  TestSystemScope driver_;  // nothing to pump
};

TEST_F(QueueTest, EmptyQueueGivesZeroAndTheNullEvent) {
  EXPECT_EQ(PeekQueuedEvent(), nullptr);
  TEvent::NewEvent(EVENT_KEYDOWN, Str("s"), 9, 1, 2, 3, Str("e"))->Dispatch();
  EXPECT_EQ(NextQueuedEvent(), EVENT_KEYDOWN);
  EXPECT_EQ(QueuedEventData(), 9);
  EXPECT_EQ(ToStd(QueuedEventExtraText()), "e");

  int pollsBefore = driver_.system()->polls;
  EXPECT_EQ(NextQueuedEvent(), 0);
  EXPECT_EQ(driver_.system()->polls, pollsBefore + 1);  // pumped once first
  EXPECT_EQ(QueuedEventId(), 0);
  EXPECT_EQ(QueuedEventData(), 0);
  EXPECT_EQ(QueuedEventMods() | QueuedEventX() | QueuedEventY(), 0);
  EXPECT_EQ(QueuedEventSource(), nullptr);
  EXPECT_EQ(QueuedEventExtra(), nullptr);
  EXPECT_EQ(ToStd(QueuedEventExtraText()), "");
}

TEST_F(QueueTest, PeekLeavesTheEventAndPumpFillsAnEmptyQueue) {
  driver_.system()->onPoll = [](TTestSystem*) {
    TEvent::NewEvent(EVENT_MOUSEMOVE, nullptr, 0, 0, 11, 12, nullptr)->Dispatch();
  };
  int pollsBefore = driver_.system()->polls;
  TEvent* peeked = PeekQueuedEvent();
  ASSERT_NE(peeked, nullptr);
  EXPECT_EQ(peeked->x, 11);
  EXPECT_EQ(PeekQueuedEvent(), peeked);  // not empty: no pump, same event
  EXPECT_EQ(driver_.system()->polls, pollsBefore + 1);
  EXPECT_EQ(NextQueuedEvent(), EVENT_MOUSEMOVE);
  EXPECT_EQ(QueuedEventY(), 12);
}

TEST_F(QueueTest, StateEventsOfOneSourceMergeInPlaceOthersQueue) {
  String* timer = Str("timer");
  QueueEvent(TEvent::NewEvent(EVENT_TIMERTICK, timer, 1, 0, 0, 0, nullptr), true);
  QueueEvent(TEvent::NewEvent(EVENT_KEYDOWN, nullptr, 65, 0, 0, 0, nullptr), false);
  TEvent::NewEvent(EVENT_TIMERTICK, timer, 2, 4, 5, 6, Str("late"))->Dispatch();
  TEvent::NewEvent(EVENT_TIMERTICK, Str("other timer"), 3, 0, 0, 0, nullptr)->Dispatch();
  TEvent::NewEvent(EVENT_KEYDOWN, nullptr, 65, 0, 0, 0, nullptr)->Dispatch();
  TEvent::NewEvent(EVENT_WINDOWSIZE, nullptr, 1, 0, 0, 0, nullptr)->Dispatch();
  TEvent::NewEvent(EVENT_WINDOWSIZE, nullptr, 2, 0, 0, 0, nullptr)->Dispatch();
  CollectAll();

  std::vector<std::pair<Int, Int>> got;
  while (Int id = NextQueuedEvent()) got.emplace_back(id, QueuedEventData());
  EXPECT_EQ(got, (std::vector<std::pair<Int, Int>>{{EVENT_TIMERTICK, 2},
                                                   {EVENT_KEYDOWN, 65},
                                                   {EVENT_TIMERTICK, 3},
                                                   {EVENT_KEYDOWN, 65},
                                                   {EVENT_WINDOWSIZE, 2}}));
}

TEST_F(QueueTest, FullQueueDropsNewcomersUntilOneIsTaken) {
  for (Int i = 0; i < 256; ++i)
    TEvent::NewEvent(EVENT_KEYCHAR, nullptr, i, 0, 0, 0, nullptr)->Dispatch();
  TEvent::NewEvent(EVENT_KEYCHAR, nullptr, 1000, 0, 0, 0, nullptr)->Dispatch();
  EXPECT_EQ(NextQueuedEvent(), EVENT_KEYCHAR);
  EXPECT_EQ(QueuedEventData(), 0);
  TEvent::NewEvent(EVENT_KEYCHAR, nullptr, 2000, 0, 0, 0, nullptr)->Dispatch();
  CollectAll();
  Int count = 0, last = -1;
  while (NextQueuedEvent()) {
    ++count;
    last = QueuedEventData();
  }
  EXPECT_EQ(count, 256);
  EXPECT_EQ(last, 2000);
}

TEST_F(QueueTest, WaitPumpsUntilSomethingArrives) {
  driver_.system()->onWait = [](TTestSystem* self) {
    if (self->waits == 3) TEvent::NewEvent(EVENT_TIMERTICK, nullptr, 7, 0, 0, 0, nullptr)->Dispatch();
  };
  EXPECT_EQ(WaitQueuedEvent(), EVENT_TIMERTICK);
  EXPECT_EQ(driver_.system()->waits, 3);
  EXPECT_EQ(QueuedEventData(), 7);
  String* source = Str("handle me");
  QueueEvent(TEvent::NewEvent(EVENT_KEYUP, source, 0, 0, 0, 0, nullptr), false);
  EXPECT_EQ(WaitQueuedEvent(), EVENT_KEYUP);
  EXPECT_EQ(driver_.system()->waits, 3);  // not empty: no wait
  EXPECT_EQ(kxHandleLookup(QueuedEventSourceHandle()), source);
}

}  // namespace
