// Polled input fed with synthetic events through the event chain, under a
// driver that pumps nothing, so every change comes from the test.
#include <gtest/gtest.h>

#include "input/event.h"
#include "input/polled.h"
#include "tests/input/input_test_support.h"
#include "tests/support/test_util.h"

namespace {

void Emit(Int id, Int data, Int x = 0, Int y = 0, Object* source = nullptr) {
  TEvent::NewEvent(id, source, data, 0, x, y, nullptr)->Dispatch();
}

class PolledTest : public testing::Test {
 protected:
  void SetUp() override {
    InitPolledInputModule();
    StartPolledInput(nullptr);
  }
  void TearDown() override { StopPolledInput(); }
  TestSystemScope driver_;
};

TEST_F(PolledTest, PressesCountOnlyAfterAReleaseAndKeyHitResets) {
  for (int i = 0; i < 3; ++i) {
    Emit(EVENT_KEYDOWN, 32);
    Emit(EVENT_KEYUP, 32);
  }
  EXPECT_EQ(KeyHit(32), 3);
  EXPECT_EQ(KeyHit(32), 0);

  Emit(EVENT_KEYDOWN, 83);
  Emit(EVENT_KEYDOWN, 83);  // no release between: the same press
  EXPECT_EQ(KeyIsDown(83), 1);
  EXPECT_EQ(KeyHit(83), 1);
  Emit(EVENT_KEYUP, 83);
  EXPECT_EQ(KeyIsDown(83), 0);
  EXPECT_EQ(KeyHit(83), 0);
  EXPECT_EQ(KeyHit(32), 0);  // other keys untouched
}

TEST_F(PolledTest, EveryQueryPumpsFirst) {
  driver_.system()->onPoll = [](TTestSystem*) { Emit(EVENT_KEYDOWN, 27); };
  int before = driver_.system()->polls;
  EXPECT_EQ(KeyHit(27), 1);  // the press came in through the query's own pump
  EXPECT_EQ(KeyIsDown(27), 1);
  NextChar();
  MouseButtonHits(1);
  MouseButtonIsDown(1);
  PointerX();
  PointerY();
  WheelTotal();
  AppIsSuspended();
  TerminateRequested();
  EXPECT_EQ(driver_.system()->polls, before + 10);
}

TEST_F(PolledTest, CharacterQueueKeepsAtMost256) {
  EXPECT_EQ(NextChar(), 0);
  for (Int c = 1; c <= 256; ++c) Emit(EVENT_KEYCHAR, c);
  Emit(EVENT_KEYCHAR, 999);  // the 257th is lost
  EXPECT_EQ(NextChar(), 1);
  Emit(EVENT_KEYCHAR, 777);  // room for one again
  Int last = 0, count = 1;
  while (Int c = NextChar()) {
    last = c;
    ++count;
  }
  EXPECT_EQ(count, 257);
  EXPECT_EQ(last, 777);
  EXPECT_EQ(NextChar(), 0);
}

TEST_F(PolledTest, MouseButtonsPointerAndWheel) {
  Emit(EVENT_MOUSEDOWN, 1);
  Emit(EVENT_MOUSEDOWN, 1);
  Emit(EVENT_MOUSEDOWN, 3);
  Emit(EVENT_MOUSEUP, 3);
  Emit(EVENT_MOUSEDOWN, 3);
  Emit(EVENT_MOUSEMOVE, 0, 123, 45);
  for (Int step : {1, 1, 1, -1}) Emit(EVENT_MOUSEWHEEL, step);
  EXPECT_EQ(MouseButtonHits(1), 1);
  EXPECT_EQ(MouseButtonIsDown(1), 1);
  EXPECT_EQ(MouseButtonHits(3), 2);
  EXPECT_EQ(MouseButtonHits(3), 0);
  EXPECT_EQ(MouseButtonHits(2), 0);
  EXPECT_EQ(WheelTotal(), 2);
  EXPECT_EQ(PointerX(), 123);
  EXPECT_EQ(PointerY(), 45);

  ClearMouse();
  EXPECT_EQ(WheelTotal(), 0);
  EXPECT_EQ(MouseButtonIsDown(1), 0);
  EXPECT_EQ(PointerX(), 123);  // the position is kept
  EXPECT_EQ(PointerY(), 45);
}

TEST_F(PolledTest, DataOutsideTheArraysIsIgnored) {
  // Buttons above 5 arrive as negative data; no driver makes such key codes,
  // but a stray event must not write outside the arrays either.
  for (Int bad : {-1, -2, 4, 256, 1 << 30, -(1 << 30)}) {
    Emit(EVENT_MOUSEDOWN, bad);
    Emit(EVENT_MOUSEUP, bad);
    EXPECT_EQ(MouseButtonHits(bad), 0);
    EXPECT_EQ(MouseButtonIsDown(bad), 0);
  }
  for (Int bad : {-1, 256, 1 << 30, -(1 << 30)}) {
    Emit(EVENT_KEYDOWN, bad);
    Emit(EVENT_KEYUP, bad);
    EXPECT_EQ(KeyHit(bad), 0);
    EXPECT_EQ(KeyIsDown(bad), 0);
  }
  for (Int key = 0; key < 256; ++key) ASSERT_EQ(KeyHit(key), 0) << key;
  for (Int button = 0; button < 4; ++button) ASSERT_EQ(MouseButtonHits(button), 0) << button;
  // Keys at both ends of the range still count.
  Emit(EVENT_KEYDOWN, 0);
  Emit(EVENT_KEYDOWN, 255);
  EXPECT_EQ(KeyHit(0) + KeyHit(255), 2);
}

TEST_F(PolledTest, SourceFilterTakesOnlyItsSource) {
  StopPolledInput();
  String* mine = Str("mine");
  StartPolledInput(mine);
  Int x = PointerX();
  Emit(EVENT_KEYDOWN, 65, 0, 0, Str("mine"));  // equal text, other object
  Emit(EVENT_KEYDOWN, 66, 0, 0, nullptr);
  Emit(EVENT_MOUSEMOVE, 0, 9, 9, nullptr);
  Emit(EVENT_KEYDOWN, 67, 0, 0, mine);
  EXPECT_EQ(KeyHit(65), 0);
  EXPECT_EQ(KeyHit(66), 0);
  EXPECT_EQ(PointerX(), x);
  EXPECT_EQ(KeyHit(67), 1);
  Emit(EVENT_MOUSEMOVE, 0, x + 5, 1, mine);
  EXPECT_EQ(PointerX(), x + 5);
}

TEST_F(PolledTest, AppEventsAndTheInactiveState) {
  Emit(EVENT_KEYDOWN, 10);
  Emit(EVENT_KEYCHAR, 10);
  Emit(EVENT_MOUSEDOWN, 2);
  Emit(EVENT_APPSUSPEND, 0);
  EXPECT_EQ(AppIsSuspended(), 1);
  EXPECT_EQ(KeyIsDown(10) + KeyHit(10) + NextChar() + MouseButtonHits(2), 0);
  Emit(EVENT_APPRESUME, 0);
  EXPECT_EQ(AppIsSuspended(), 0);
  Emit(EVENT_APPTERMINATE, 0);
  EXPECT_EQ(TerminateRequested(), 1);
  EXPECT_EQ(TerminateRequested(), 0);

  Emit(EVENT_KEYDOWN, 20);
  StopPolledInput();
  EXPECT_EQ(PolledInputActive(), 0);
  EXPECT_EQ(KeyIsDown(20), 0);  // stopping cleared it
  Emit(EVENT_KEYDOWN, 21);
  EXPECT_EQ(KeyHit(21), 0);  // not listening
  EXPECT_EQ(WaitForKey(), 0);  // nothing can come: answers instead of hanging
  StartPolledInput(nullptr);
  StartPolledInput(nullptr);  // a second start attaches no second hook
  Emit(EVENT_KEYDOWN, 22);
  Emit(EVENT_KEYUP, 22);
  Emit(EVENT_KEYDOWN, 22);
  EXPECT_EQ(KeyHit(22), 2);
}

TEST_F(PolledTest, WaitsReturnTheFirstThingThatArrives) {
  // Pending input is forgotten by the wait's clear; code 0 is never reported.
  Emit(EVENT_KEYDOWN, 70);
  driver_.system()->onWait = [](TTestSystem* self) {
    if (self->waits == 1) Emit(EVENT_KEYDOWN, 0);
    if (self->waits == 2) {
      Emit(EVENT_KEYDOWN, 90);
      Emit(EVENT_KEYDOWN, 50);
    }
  };
  EXPECT_EQ(WaitForKey(), 50);
  EXPECT_EQ(driver_.system()->waits, 2);

  driver_.system()->waits = 0;
  driver_.system()->onWait = [](TTestSystem* self) {
    if (self->waits == 2) Emit(EVENT_KEYCHAR, 'q');
  };
  EXPECT_EQ(WaitForChar(), 'q');

  driver_.system()->waits = 0;
  driver_.system()->onWait = [](TTestSystem* self) {
    if (self->waits == 1) Emit(EVENT_MOUSEDOWN, 0);
    if (self->waits == 3) {
      Emit(EVENT_MOUSEDOWN, 3);
      Emit(EVENT_MOUSEDOWN, 2);
    }
  };
  EXPECT_EQ(WaitForMouseButton(), 2);
  EXPECT_EQ(driver_.system()->waits, 3);
}

}  // namespace
