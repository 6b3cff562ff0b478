// The system driver's public functions: the pump guard, the console
// requesters, the date and time texts, and soft failure without a display.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <regex>

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
Object* PumpFromInsideAHook(Int, Object* data, Object*) {
  PumpSystemEvents();
  WaitSystemEvents();
  ++nestedPumps;
  return data;
}

TEST(System, PumpAndWaitDoNotNestFromInsideHandlers) {
  InitEventModule();
  TestSystemScope driver;
  driver.system()->onPoll = [](TTestSystem*) {
    TEvent::NewEvent(EVENT_KEYDOWN, nullptr, 1, 0, 0, 0, nullptr)->Dispatch();
  };
  driver.system()->onWait = driver.system()->onPoll;
  AttachHook(EventHookId, &PumpFromInsideAHook, nullptr, 50);
  PumpSystemEvents();
  WaitSystemEvents();
  PumpSystemEvents();
  DetachHook(EventHookId, &PumpFromInsideAHook, nullptr);
  EXPECT_EQ(nestedPumps, 3);
  EXPECT_EQ(driver.system()->polls, 2);
  EXPECT_EQ(driver.system()->waits, 1);
}

TEST(System, GuardIsReleasedWhenTheDriverRaises) {
  TestSystemScope driver;
  driver.system()->onPoll = [](TTestSystem*) { kxRaiseError(Str("pump failed")); };
  for (int i = 0; i < 2; ++i) {
    try {
      KxTry region;
      PumpSystemEvents();
    } catch (const KxThrown&) {
    }
  }
  EXPECT_EQ(driver.system()->polls, 2);  // the second pump was not refused
}

TEST(System, AbstractDriverRaisesOnEverySlot) {
  InitSystemModule();
  THostSystem* bare = New<THostSystem>();
  int raised = 0;
  auto expectRaise = [&](auto call) {
    try {
      KxTry region;
      call();
    } catch (const KxThrown& e) {
      raised += Cast<TAbstractCallError>(e.error) != nullptr;
    }
  };
  expectRaise([&] { bare->Poll(); });
  expectRaise([&] { bare->Wait(); });
  expectRaise([&] { bare->MovePointer(1, 2); });
  expectRaise([&] { bare->SetPointerVisible(1); });
  expectRaise([&] { bare->ShowMessage(Str("m"), 0); });
  expectRaise([&] { bare->AskYesNo(Str("q"), 0); });
  expectRaise([&] { bare->AskYesNoCancel(Str("q"), 0); });
  expectRaise([&] { bare->AskFileName(Str("q"), nullptr, 0, nullptr); });
  expectRaise([&] { bare->AskDirectory(Str("q"), nullptr); });
  expectRaise([&] { bare->OpenAddress(Str("a")); });
  EXPECT_EQ(raised, 10);
}

TEST(System, DateAndTimeTextsFollowTheLocalClock) {
  time_t before = time(nullptr);
  std::string date = ToStd(DateString());
  std::string clock = ToStd(TimeString());
  time_t after = time(nullptr);
  EXPECT_TRUE(std::regex_match(date, std::regex(R"(\d\d [A-Z][a-z][a-z] \d{4})"))) << date;
  EXPECT_TRUE(std::regex_match(clock, std::regex(R"(\d\d:\d\d:\d\d)"))) << clock;
  auto format = [](time_t t, const char* f) {
    char buffer[64];
    tm local{};
    localtime_r(&t, &local);
    strftime(buffer, sizeof buffer, f, &local);
    return std::string(buffer);
  };
  EXPECT_TRUE(clock == format(before, "%H:%M:%S") || clock == format(after, "%H:%M:%S"));
  EXPECT_TRUE(date == format(before, "%d %b %Y") || date == format(after, "%d %b %Y"));
}

// --- console requesters, in a child fed through a pipe -----------------------

int ConsoleRequesters() {
  InitSystemModule();
  String* q = Str("Save");
  fprintf(stderr, "yesno=%d\n", AskYesNo(q, 1));
  fprintf(stderr, "yesno=%d\n", AskYesNo(q, 0));
  fprintf(stderr, "ync=%d\n", AskYesNoCancel(q, 0));
  fprintf(stderr, "ync=%d\n", AskYesNoCancel(q, 0));
  fprintf(stderr, "ync=%d\n", AskYesNoCancel(q, 0));
  fprintf(stderr, "ync=%d\n", AskYesNoCancel(q, 0));
  fprintf(stderr, "file=[%s]\n", ToStd(AskFileName(q, Str("txt"), 1, Str("/"))).c_str());
  fprintf(stderr, "dir=[%s]\n", ToStd(AskDirectory(q, Str("/"))).c_str());
  ShowMessage(Str("Done"), 1);
  try {
    KxTry region;
    OpenAddress(Str("http://localhost/"));
    fprintf(stderr, "open=returned\n");
  } catch (const KxThrown& e) {
    fprintf(stderr, "open=raised %s\n", ToStd(kxErrorText(e.error)).c_str());
  }
  // Input is used up: an empty answer.
  fprintf(stderr, "ync=%d\n", AskYesNoCancel(q, 0));
  return 0;
}
ChildScenario consoleRequesters("console-requesters", &ConsoleRequesters);

TEST(System, ConsoleRequestersReadAnswersFromStandardInput) {
  ChildResult r = RunChild("console-requesters", {},
                           "Yes\nnope\nNo\nmaybe\n\nY\nlife.txt\n/tmp/dir\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Save (Yes/No)?Save (Yes/No)?Save (Yes/No/Cancel)?Save (Yes/No/Cancel)?"
            "Save (Yes/No/Cancel)?Save (Yes/No/Cancel)?Enter a filename:"
            "Enter a directory name:Done\r\nSave (Yes/No/Cancel)?");
  std::string expected =
      "yesno=1\nyesno=0\nync=0\nync=-1\nync=-1\nync=1\nfile=[life.txt]\ndir=[/tmp/dir]\n";
  EXPECT_EQ(r.err.substr(0, expected.size()), expected);
  EXPECT_NE(r.err.find("open=raised Attempt to"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ync=-1\n", expected.size()), std::string::npos) << r.err;
}

// --- no display ---------------------------------------------------------------

int WithoutADisplay() {
  InitEventQueueModule();
  InitPolledInputModule();
  if (X11Display()) return 10;
  PumpSystemEvents();
  int start = kxMilliSecs();
  WaitSystemEvents();  // sleeps at most a second, ends at the next tick
  if (kxMilliSecs() - start > 1500) return 11;
  StartPolledInput(nullptr);
  if (KeyHit(27) || KeyIsDown(27) || NextChar() || MouseButtonHits(1) || WheelTotal()) return 12;
  if (WaitForKey() || WaitForChar() || WaitForMouseButton()) return 13;
  HideMouse();
  ShowMouse();
  SetPointerPosition(10, 10);
  X11SetEventWindow(12345);
  HideMouse();
  ShowMouse();
  SetPointerPosition(10, 10);
  X11Poll();
  X11Wait();
  if (PeekQueuedEvent() || NextQueuedEvent() != 0) return 14;
  // Events made by others still flow.
  EmitSystemEvent(EVENT_KEYDOWN, nullptr, 40, 0, 0, 0, nullptr);
  if (KeyHit(40) != 1 || NextQueuedEvent() != EVENT_KEYDOWN) return 15;
  StopPolledInput();
  printf("soft\n");
  return 0;
}
ChildScenario withoutADisplay("without-a-display", &WithoutADisplay);

TEST(System, EverythingFailsSoftlyWithoutADisplay) {
  for (const std::string& display : {std::string(), UnusedDisplayName()}) {
    ChildResult r = RunChild("without-a-display", {{"DISPLAY", display}});
    EXPECT_EQ(r.status, 0) << "DISPLAY=" << display << "\n" << r.err;
    EXPECT_EQ(r.out, "soft\n") << "DISPLAY=" << display;
  }
}

}  // namespace
