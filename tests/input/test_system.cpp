// The system driver's public functions: the pump guard, the console
// requesters, the date and time, and soft failure without a display.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "input/event.h"
#include "input/hooks.h"
#include "input/polled.h"
#include "input/system.h"
#include "input/x11.h"
#include "runtime/error.h"
#include "runtime/time.h"
#include "tests/input/input_test_support.h"
#include "tests/support/test_util.h"

namespace {

int nestedPumps = 0;
Object* PumpFromAHook(Int, Object* data, Object*) {
  PumpSystemEvents();
  WaitSystemEvents();
  ++nestedPumps;
  return data;
}

TEST(System, PumpAndWaitDoNotNestAndTheGuardSurvivesErrors) {
  TestSystemScope driver;
  driver->onPoll = [](TTestSystem*) {
    EmitSystemEvent(EVENT_KEYDOWN, nullptr, 1, 0, 0, 0, nullptr);
  };
  driver->onWait = driver->onPoll;
  AttachHook(EventHookId, &PumpFromAHook, nullptr, 50);
  PumpSystemEvents();
  WaitSystemEvents();
  DetachHook(EventHookId, &PumpFromAHook, nullptr);
  EXPECT_EQ(nestedPumps, 2);
  EXPECT_EQ(driver->polls + driver->waits, 2);  // the inner calls returned at once

  driver->onPoll = [](TTestSystem*) { kxRaiseError(Str("pump failed")); };
  for (int i = 0; i < 2; ++i) {
    try {
      KxTry region;
      PumpSystemEvents();
    } catch (const KxThrown&) {
    }
  }
  EXPECT_EQ(driver->polls, 3);  // the second pump was not refused
}

// The texts are the local clock's to the second, in whatever zone it runs
// (the last zone, UTC, stays set): compared with local time around each call.
TEST(System, DateAndTimeFollowTheLocalClock) {
  auto local = [](const char* format) {
    const time_t now = time(nullptr);
    char text[32] = "";
    strftime(text, sizeof text, format, localtime(&now));
    return std::string(text);
  };
  for (const char* zone : {"AAA+11", "BBB-3:30", "UTC"}) {
    setenv("TZ", zone, 1);
    tzset();
    const std::string d0 = local("%d %b %Y"), t0 = local("%H:%M:%S");
    const std::string date = ToStd(DateString()), clock = ToStd(TimeString());
    EXPECT_TRUE(date == d0 || date == local("%d %b %Y")) << zone << ": " << date;
    EXPECT_TRUE(clock == t0 || clock == local("%H:%M:%S")) << zone << ": " << clock;
  }
}

TEST(SystemChildCase, ConsoleRequesters) {
  InitSystemModule();
  String* q = Str("Save");
  fprintf(stderr, "%d", AskYesNo(q, 1));
  fprintf(stderr, " %d", AskYesNo(q, 0));
  for (int i = 0; i < 4; ++i) fprintf(stderr, " %d", AskYesNoCancel(q, 0));
  fprintf(stderr, " [%s]", ToStd(AskFileName(q, Str("txt"), 1, Str("/"))).c_str());
  fprintf(stderr, " [%s]", ToStd(AskDirectory(q, Str("/"))).c_str());
  ShowMessage(Str("Done"), 1);
  fprintf(stderr, " %d", AskYesNoCancel(q, 0));  // input used up: an empty answer
  try {
    KxTry region;
    OpenAddress(Str("http://localhost/"));
  } catch (const KxThrown& e) {
    fprintf(stderr, " raised: %s", ToStd(kxErrorText(e.error)).c_str());
  }
}

TEST(System, ConsoleRequestersReadAnswersFromStandardInput) {
  ChildResult r = RunChildCaseCaught("ConsoleRequesters", {},
                                     "Yes\nnope\nNo\nmaybe\n\nY\nlife.txt\n/tmp/d\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Save (Yes/No)?Save (Yes/No)?Save (Yes/No/Cancel)?Save (Yes/No/Cancel)?"
            "Save (Yes/No/Cancel)?Save (Yes/No/Cancel)?Enter a filename:"
            "Enter a directory name:Done\r\nSave (Yes/No/Cancel)?");
  EXPECT_EQ(r.err.substr(0, 35), "1 0 0 -1 -1 1 [life.txt] [/tmp/d] -");
  EXPECT_NE(r.err.find("-1 raised: Attempt to"), std::string::npos) << r.err;
}

int deferredRuns = 0;
void CountDeferred(Int) { ++deferredRuns; }

int WithoutADisplay() {
  InitEventQueueModule();
  InitPolledInputModule();
  if (X11Display()) return 10;
  X11SetSignalHandler(14, &CountDeferred);  // the clock's tick
  Int start = kxMilliSecs();
  while (kxMilliSecs() - start < 20) PumpSystemEvents();
  if (deferredRuns != 0) return 16;  // no display: the pump does nothing at all
  WaitSystemEvents();                // sleeps at most a second, ended by the tick; runs handlers
  if (kxMilliSecs() - start > 1500 || deferredRuns != 1) return 11;
  StartPolledInput(nullptr);
  if (KeyHit(27) || KeyIsDown(27) || NextChar() || MouseButtonHits(1) || WheelTotal()) return 12;
  if (WaitForKey() || WaitForChar() || WaitForMouseButton()) return 13;
  for (unsigned long window : {0ul, 12345ul}) {
    X11SetEventWindow(window);
    HideMouse();
    ShowMouse();
    SetPointerPosition(10, 10);
  }
  if (PeekQueuedEvent() || NextQueuedEvent() != 0) return 14;
  EmitSystemEvent(EVENT_KEYDOWN, nullptr, 40, 0, 0, 0, nullptr);  // others' events still flow
  if (KeyHit(40) != 1 || NextQueuedEvent() != EVENT_KEYDOWN) return 15;
  printf("soft\n");
  return 0;
}
TEST(SystemChildCase, WithoutADisplay) { std::exit(WithoutADisplay()); }

TEST(System, EverythingFailsSoftlyWithoutADisplay) {
  std::string unused = ":90";  // a display number no server holds
  struct stat st;
  while (stat(("/tmp/.X11-unix/X" + unused.substr(1)).c_str(), &st) == 0)
    unused = ":" + std::to_string(std::stoi(unused.substr(1)) + 1);
  for (const std::string& display : {std::string(), unused}) {
    ChildResult r = RunChildCaseCaught("WithoutADisplay", {{"DISPLAY", display}});
    EXPECT_EQ(r.status, 0) << "DISPLAY=" << display << "\n" << r.err;
    EXPECT_EQ(r.out, "soft\n") << "DISPLAY=" << display;
  }
}

}  // namespace
