// Polled input fed with synthetic events under a driver that pumps
// nothing, so every change comes from the test.
#include <gtest/gtest.h>

#include "input/event.h"
#include "input/polled.h"
#include "tests/input/input_test_support.h"
#include "tests/support/test_util.h"

namespace {

void Emit(Int id, Int data, Int x = 0, Int y = 0, Object* source = nullptr) {
  TEvent::NewEvent(id, source, data, 0, x, y, nullptr)->Dispatch();
}
void Tap(Int key) {
  Emit(EVENT_KEYDOWN, key);
  Emit(EVENT_KEYUP, key);
}

class PolledTest : public testing::Test {
 protected:
  void SetUp() override { StartPolledInput(nullptr); }
  void TearDown() override { StopPolledInput(); }
  TestSystemScope driver_;
};

TEST_F(PolledTest, KeysCountPressesCharactersQueueUpTo256AndEveryQueryPumps) {
  for (int i = 0; i < 3; ++i) Tap(32);
  EXPECT_EQ(KeyHit(32), 3);
  EXPECT_EQ(KeyHit(32), 0);
  Emit(EVENT_KEYDOWN, 83);
  Emit(EVENT_KEYDOWN, 83);  // no release between: one press
  EXPECT_EQ(KeyIsDown(83), 1);
  EXPECT_EQ(KeyHit(83), 1);
  Emit(EVENT_KEYUP, 83);
  EXPECT_EQ(KeyIsDown(83), 0);

  driver_->onPoll = [](TTestSystem*) { Tap(27); };
  EXPECT_EQ(KeyHit(27), 1);  // came in through the query's own pump
  int polls = driver_->polls;
  NextChar(), MouseButtonHits(1), MouseButtonIsDown(1), PointerX(), PointerY();
  WheelTotal(), AppIsSuspended(), TerminateRequested(), KeyIsDown(1);
  EXPECT_EQ(driver_->polls, polls + 9);
  EXPECT_EQ(KeyHit(27), 10);  // one per pump, its own included

  // The character queue keeps at most 256.
  EXPECT_EQ(NextChar(), 0);
  for (Int c = 1; c <= 257; ++c) Emit(EVENT_KEYCHAR, c);
  EXPECT_EQ(NextChar(), 1);
  Emit(EVENT_KEYCHAR, 777);  // room for one again
  Int last = 0, count = 1;
  for (Int c; (c = NextChar()) != 0; ++count) last = c;
  EXPECT_EQ(count, 257);
  EXPECT_EQ(last, 777);
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
  EXPECT_EQ(MouseButtonHits(2), 0);
  EXPECT_EQ(WheelTotal(), 2);
  ClearMouse();
  EXPECT_EQ(WheelTotal() + MouseButtonIsDown(1), 0);
  EXPECT_EQ(PointerX(), 123);  // the position is kept
  EXPECT_EQ(PointerY(), 45);
}

TEST_F(PolledTest, DataOutsideTheArraysIsIgnored) {
  // Buttons above 5 arrive as negative data; keys beyond 0..255 come from
  // no driver here, but a stray event must not write past the arrays.
  for (Int bad : {-1, -2, 4, 1 << 30}) {
    Emit(EVENT_MOUSEDOWN, bad);
    EXPECT_EQ(MouseButtonHits(bad) + MouseButtonIsDown(bad), 0);
  }
  for (Int bad : {-1, 256, -(1 << 30)}) {
    Emit(EVENT_KEYDOWN, bad);
    EXPECT_EQ(KeyHit(bad) + KeyIsDown(bad), 0);
  }
  Int total = 0;
  for (Int key = 0; key < 256; ++key) total += KeyHit(key);
  for (Int button = 0; button < 4; ++button) total += MouseButtonHits(button);
  EXPECT_EQ(total, 0);
  Emit(EVENT_KEYDOWN, 0);
  Emit(EVENT_KEYDOWN, 255);
  EXPECT_EQ(KeyHit(0) + KeyHit(255), 2);
}

TEST_F(PolledTest, SourceFilterStartStopAndAppEvents) {
  StopPolledInput();
  String* mine = Str("mine");
  StartPolledInput(mine);
  Emit(EVENT_KEYDOWN, 65, 0, 0, Str("mine"));  // equal text, another object
  Emit(EVENT_KEYDOWN, 66);
  Emit(EVENT_KEYDOWN, 67, 0, 0, mine);
  EXPECT_EQ(KeyHit(65) + KeyHit(66), 0);
  EXPECT_EQ(KeyHit(67), 1);
  StopPolledInput();
  StartPolledInput(nullptr);
  StartPolledInput(nullptr);  // no second hook: one press counts once
  Emit(EVENT_KEYDOWN, 10);
  Emit(EVENT_KEYCHAR, 10);
  EXPECT_EQ(KeyHit(10), 1);

  Emit(EVENT_APPSUSPEND, 0);
  EXPECT_EQ(AppIsSuspended(), 1);
  EXPECT_EQ(KeyIsDown(10) + NextChar(), 0);  // cleared
  Emit(EVENT_APPRESUME, 0);
  EXPECT_EQ(AppIsSuspended(), 0);
  Emit(EVENT_APPTERMINATE, 0);
  EXPECT_EQ(TerminateRequested(), 1);
  EXPECT_EQ(TerminateRequested(), 0);

  Emit(EVENT_KEYDOWN, 20);
  StopPolledInput();
  EXPECT_EQ(KeyIsDown(20), 0);  // stopping cleared it
  Tap(21);
  EXPECT_EQ(KeyHit(21), 0);    // not listening
  EXPECT_EQ(WaitForKey(), 0);  // nothing can come: an answer, not a hang
}

TEST_F(PolledTest, WaitsClearThenReturnTheFirstThingThatArrives) {
  Emit(EVENT_KEYDOWN, 70);  // forgotten by the wait's clear
  driver_->onWait = [](TTestSystem* self) {
    if (self->waits == 1) Emit(EVENT_KEYDOWN, 0);  // code 0 is never reported
    if (self->waits == 2) Emit(EVENT_KEYDOWN, 90), Emit(EVENT_KEYDOWN, 50);
  };
  EXPECT_EQ(WaitForKey(), 50);
  EXPECT_EQ(driver_->waits, 2);

  driver_->waits = 0;
  driver_->onWait = [](TTestSystem* self) {
    if (self->waits == 2) Emit(EVENT_KEYCHAR, 'q');
  };
  EXPECT_EQ(WaitForChar(), 'q');

  driver_->waits = 0;
  driver_->onWait = [](TTestSystem* self) {
    if (self->waits == 1) Emit(EVENT_MOUSEDOWN, 0);
    if (self->waits == 3) Emit(EVENT_MOUSEDOWN, 3), Emit(EVENT_MOUSEDOWN, 2);
  };
  EXPECT_EQ(WaitForMouseButton(), 2);
  EXPECT_EQ(driver_->waits, 3);
}

}  // namespace
