// The graphics layer over the GL display driver: Graphics / EndGraphics,
// the generation counter, the mode list, the sync decision and software
// frame pacing, and failures (no such mode, no display, a signal).
#include "tests/graphics/x_observer.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <sys/time.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <string>
#include <vector>

#include "input/polled.h"
#include "runtime/module.h"
#include "runtime/time.h"
#include "tests/support/test_util.h"

namespace {

class GraphicsLayer : public testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_X_SERVER();
    InitGLDisplayModule();
    UseDisplayDriver(GLDisplayDriver(), DISPLAY_BACK_BUFFER);
  }
  void TearDown() override { EndGraphics(); }
};

GLDisplayContext* ContextOf(TGraphics* g) { return Cast<TGLDisplayGraphics>(g)->context; }

Int MillisSince(Int start) {
  return static_cast<Int>(static_cast<uint32_t>(kxMilliSecs()) - static_cast<uint32_t>(start));
}

TEST_F(GraphicsLayer, ModesComeFromTheServerInItsOrder) {
  TGraphicsMode* m = New<TGraphicsMode>();
  m->width = 800, m->height = 600, m->depth = 24, m->hertz = 75;
  EXPECT_EQ(ToStd(m->AsText()), "800,600,24 75Hz");

  Display* d = Observer();
  int count = 0;
  XF86VidModeModeInfo** modes = nullptr;
  ASSERT_TRUE(XF86VidModeGetAllModeLines(d, DefaultScreen(d), &count, &modes));
  ASSERT_EQ(GraphicsModeCount(), count);
  for (int i = 0; i < count; ++i) {
    Int w, h, depth, hertz;
    GraphicsModeAt(i, &w, &h, &depth, &hertz);
    EXPECT_EQ(w, modes[i]->hdisplay);
    EXPECT_EQ(h, modes[i]->vdisplay);
    EXPECT_EQ(depth, 24);
    EXPECT_EQ(hertz, GLDisplayRefreshRate(modes[i]->dotclock, modes[i]->htotal, modes[i]->vtotal,
                                          modes[i]->flags));
  }
  XFree(modes);
  EXPECT_EQ(HasGraphicsMode(0, 0, 0, 0), 1);
  EXPECT_EQ(HasGraphicsMode(640, 480, 24, 60), 1);
  EXPECT_EQ(HasGraphicsMode(640, 480, 0, 75), 0);
  EXPECT_NE(ListGraphicsModes(), ListGraphicsModes()) << "each listing is a fresh copy";
}

TEST_F(GraphicsLayer, FullScreenGraphicsOpensTestsSyncAndEndsCleanly) {
  const ModeLine before = ServerMode();
  const Int generation = GraphicsGeneration;
  const Int requests = GLDisplaySwapIntervalRequests();
  TGraphics* g = Graphics(640, 480, 32, 60, 0);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(GraphicsGeneration, generation + 1);
  EXPECT_EQ(DefaultGraphics(), g);
  EXPECT_EQ(CurrentGraphics(), g);
  const Int settings[] = {CurrentGraphicsWidth(), CurrentGraphicsHeight(), CurrentGraphicsDepth(),
                          CurrentGraphicsHertz(), CurrentGraphicsFlags()};
  EXPECT_EQ(std::vector<Int>(settings, settings + 5), (std::vector<Int>{640, 480, 24, 60, 2}));
  EXPECT_EQ(ServerMode()[0], 640);
  EXPECT_EQ(PolledInputActive(), 1);
  // The sync test flipped with sync 1; swaps here do not wait for a
  // retrace, so frames are paced in software.
  EXPECT_EQ(GLDisplaySwapIntervalRequests(), requests + 1);
  EXPECT_EQ(GraphicsSoftSync(), 1);

  EndGraphics();
  EXPECT_EQ(GraphicsGeneration, generation + 2);
  EXPECT_EQ(DefaultGraphics(), nullptr);
  EXPECT_EQ(CurrentGraphics(), nullptr);
  EXPECT_EQ(CurrentGraphicsWidth(), 0);
  EXPECT_EQ(PolledInputActive(), 0);
  EXPECT_EQ(ServerMode(), before);
  EXPECT_TRUE(KeyboardFree());
  EXPECT_EQ(ContextOf(g), nullptr);
  EndGraphics();  // nothing left to close
  EXPECT_EQ(GraphicsGeneration, generation + 2);
}

TEST_F(GraphicsLayer, SoftPacingKeepsTheSixtyHertzScheduleOfTheDefaultGraphicsOnly) {
  const Int opening = kxMilliSecs();
  ASSERT_NE(Graphics(160, 120, 0, 60, 0), nullptr);  // windowed: paced without a test
  const Int opened = kxMilliSecs();                  // the schedule starts in between
  EXPECT_EQ(GraphicsSoftSync(), 1);
  constexpr int kFrames = 30;
  Int previous = 0, late = 0;
  for (int i = 1; i <= kFrames; ++i) {
    Flip(-1);
    // Frame i is due i*1000/60 ms after opening (16, 33, 50 ...): never
    // early. A loaded machine makes the odd frame late; a Flip that sleeps
    // past its boundary, or paces from the previous frame instead of the
    // schedule, makes most of them late by more than half a period.
    const Int due = i * 1000 / 60;
    EXPECT_GE(MillisSince(opening), due - 2) << "frame " << i;
    const Int at = MillisSince(opened);
    late += at > due + 8;
    EXPECT_GE(at, previous);
    previous = at;
  }
  EXPECT_LE(late, kFrames / 3) << "frames presented well after their due time";
  EXPECT_EQ(GLDisplayLastSwapInterval(), 0) << "paced frames swap without sync";
  // A late frame restarts the schedule later, never earlier.
  EXPECT_GE(GraphicsFrameClock(), kFrames * 1000);

  // Explicit sync, other graphics and hertz 0 are not paced.
  const Long clock = GraphicsFrameClock();
  Flip(0);
  EXPECT_EQ(GLDisplayLastSwapInterval(), 0);
  Flip(1);
  EXPECT_EQ(GLDisplayLastSwapInterval(), 1);
  TGraphics* other = OpenGraphics(64, 64, 0, 60, 0);
  ASSERT_NE(other, nullptr);
  MakeGraphicsCurrent(other);
  Flip(-1);
  EXPECT_EQ(GLDisplayLastSwapInterval(), 1) << "not the default graphics: synced";
  EXPECT_EQ(GraphicsFrameClock(), clock);
  CloseGraphicsObject(other);
  EXPECT_EQ(CurrentGraphics(), nullptr);

  // Reopening restarts the schedule; hertz 0 flips nothing while opening.
  const Int requests = GLDisplaySwapIntervalRequests();
  TGraphics* g = Graphics(640, 480, 32, 0, 0);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(GraphicsSoftSync(), 0);
  EXPECT_EQ(GraphicsFrameClock(), 0);
  EXPECT_EQ(GLDisplaySwapIntervalRequests(), requests);
  Flip(-1);
  EXPECT_EQ(GLDisplayLastSwapInterval(), 1);
  EXPECT_EQ(GraphicsFrameClock(), 0);
}

TEST_F(GraphicsLayer, FailedGraphicsClosesThePreviousAndKeepsTheGeneration) {
  GraphicsGeneration = -1;  // the next bump wraps, and skips 0
  TGraphics* previous = Graphics(160, 120, 0, 60, 0);
  ASSERT_NE(previous, nullptr);
  EXPECT_EQ(GraphicsGeneration, 1);
  EXPECT_EQ(Graphics(123, 45, 32, 60, 0), nullptr);
  EXPECT_EQ(DefaultGraphics(), nullptr);
  EXPECT_EQ(ContextOf(previous), nullptr) << "closed by the failed call";
  EXPECT_EQ(GraphicsGeneration, 2) << "only the close counts";
  EXPECT_EQ(Graphics(123, 45, 32, 60, 0), nullptr);
  EXPECT_EQ(GraphicsGeneration, 2);
}

// --- cases run in a child process, each in its own environment ------------

TEST(GraphicsChildCase, NoDisplayGivesNull) {
  InitGLDisplayModule();
  EXPECT_EQ(Graphics(640, 480, 32, 60, 0), nullptr);
  EXPECT_EQ(HasGraphicsMode(0, 0, 0, 0), 0);
  Flip(-1);
}

TEST(GraphicsChildCase, SixtyHertzAskedOnASeventyFiveHertzServer) {
  InitGLDisplayModule();
  ASSERT_NE(Graphics(640, 480, 32, 60, 0), nullptr);
  EXPECT_EQ(ServerMode()[0], 640);
  EXPECT_EQ(ServerMode()[2], 75);
  EXPECT_EQ(CurrentGraphicsHertz(), 60);
}

TEST(GraphicsChildCase, TerminatedAtAFlip) {
  InitGLDisplayModule();
  kxInstallSignalHandlers();
  ASSERT_NE(Graphics(640, 480, 32, 0, 0), nullptr);
  raise(SIGTERM);
  Flip(-1);
  ADD_FAILURE() << "Flip returned after SIGTERM";
}

// Under the retrace simulator (tests/e2e/retracesim.cpp): its counts of
// swaps made at interval 0 and at 1.
long SimulatedSwaps(int synced) {
  static auto count = reinterpret_cast<long (*)(int)>(dlsym(RTLD_DEFAULT, "LifesimRetraceSwaps"));
  return count ? count(synced) : -1;
}

// Under a 60 Hz retrace (the environment may add jitter) the sync test sees
// it, and every later Flip(-1) swaps with sync, asking nothing more. At
// another rate the test fails and frames are paced in software. Where the
// display lets sync be turned off, paced swaps do not wait for a retrace;
// where it keeps sync on (interval 0 refused or forced), pacing knows it,
// and on a display slower than 60 Hz leaves frames out instead of losing
// the schedule.
TEST(GraphicsChildCase, PacingUnderASimulatedRetrace) {
  InitGLDisplayModule();
  ASSERT_NE(Graphics(640, 480, 32, 60, 0), nullptr);
  const int hz = atoi(getenv("LIFESIM_RETRACE_HZ"));
  const bool keptOn = hz == 60 || atoi(getenv("EXPECT_KEPT_ON")) != 0;
  EXPECT_EQ(GraphicsSoftSync(), hz == 60 ? 0 : 1);
  const Int requests = GLDisplaySwapIntervalRequests();
  const long before[2] = {SimulatedSwaps(0), SimulatedSwaps(1)};
  constexpr int kFrames = 60;
  for (int i = 0; i < kFrames; ++i) Flip(-1);
  EXPECT_EQ(GLDisplaySwapIntervalInForce(), keptOn ? 1 : 0);
  const long unsynced = SimulatedSwaps(0) - before[0], synced = SimulatedSwaps(1) - before[1];
  if (hz == 60) {
    EXPECT_EQ(GLDisplaySwapIntervalRequests(), requests);
    EXPECT_EQ(GLDisplayLastSwapInterval(), 1);
    EXPECT_EQ(synced, kFrames);
    EXPECT_EQ(SimulatedSwaps(0), 0);
  } else if (!keptOn) {
    EXPECT_EQ(GraphicsSyncKeptOn(), 0);
    EXPECT_EQ(unsynced, kFrames) << "every paced swap without sync";
  } else {
    EXPECT_EQ(GraphicsSyncKeptOn(), 1);
    EXPECT_TRUE(hz > 60 || unsynced + synced < kFrames) << "none left out";
    EXPECT_GT(unsynced + synced, kFrames / 2);
  }
}

// Steps of the wall clock (forward 20 s, back 25 s, then forward 20 s while
// frames are paced) neither hold a delay or a paced frame up nor cut it
// short: both keep their length on the system's own clock.
TEST(GraphicsChildCase, DelaysAndPacingAcrossWallClockSteps) {
  InitGLDisplayModule();
  auto now = [] {
    timespec t;
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
  };
  timeval wall0;
  gettimeofday(&wall0, nullptr);
  const double start = now();
  double shortest = 1e9, longest = 0;
  while (now() - start < 600) {
    const double t0 = now();
    kxDelay(50);
    shortest = std::min(shortest, now() - t0), longest = std::max(longest, now() - t0);
  }
  EXPECT_GE(shortest, 49);  // whole milliseconds: up to one less in real time
  EXPECT_LT(longest, 2000);
  const double opening = now();  // frames are due from a moment inside Graphics
  ASSERT_NE(Graphics(160, 120, 0, 60, 0), nullptr);
  for (int i = 1; i <= 60; ++i) {
    Flip(-1);
    EXPECT_GE(now() - opening, i * 1000 / 60 - 2) << "frame " << i;
  }
  EXPECT_LT(now() - opening, 5000);
  timeval wall1;
  gettimeofday(&wall1, nullptr);
  const double wallMs = (wall1.tv_sec - wall0.tv_sec) * 1000.0 +
                        (wall1.tv_usec - wall0.tv_usec) / 1e3;
  EXPECT_GT(wallMs - (now() - start), 10000) << "the wall clock was not stepped";
}

// Each child case in its own environment; none may leave the video mode
// changed or the keyboard grabbed.
TEST(GraphicsInChild, CasesInTheirOwnEnvironmentsLeaveTheServerAsFound) {
  REQUIRE_X_SERVER();
  const ModeLine before = ServerMode();
  using Env = std::map<std::string, std::string>;
  // Under the sanitizers the preloaded library comes before their runtime.
  const Env asan = {{"ASAN_OPTIONS", "detect_leaks=0:verify_asan_link_order=0"}};
  // Empty values are left unset.
  auto retraces = [&](const char* hz, const char* jitter, const char* offer, const char* force,
                      const char* keptOn) {
    Env env = asan;
    env.insert({{"LD_PRELOAD", LIFESIM_RETRACESIM},
                {"LIFESIM_RETRACE_HZ", hz},
                {"LIFESIM_RETRACE_JITTER_MS", jitter},
                {"LIFESIM_RETRACE_OFFER", offer},
                {"LIFESIM_RETRACE_FORCE", force},
                {"EXPECT_KEPT_ON", keptOn}});
    return env;
  };
  Env wallClock = asan;
  wallClock.insert({{"LD_PRELOAD", LIFESIM_CALLSHIM},
                    {"LIFESIM_SHIM_WALLCLOCK", "150:+20000,300:-25000,1000:+20000"}});
  const struct {
    const char* child;
    Env env;
    int status;
  } runs[] = {
      {"NoDisplayGivesNull", {{"DISPLAY", ""}}, 0},
      // The signal is reported at the next Flip; the at-exit routines put
      // the video mode back.
      {"TerminatedAtAFlip", {}, 255},
      {"DelaysAndPacingAcrossWallClockSteps", wallClock, 0},
      {"PacingUnderASimulatedRetrace", retraces("60", "0", "", "", ""), 0},
      {"PacingUnderASimulatedRetrace", retraces("60", "2", "", "", ""), 0},
      {"PacingUnderASimulatedRetrace", retraces("75", "", "EXT,SGI", "0", "0"), 0},
      {"PacingUnderASimulatedRetrace", retraces("75", "", "MESA,SGI", "0", "0"), 0},
      {"PacingUnderASimulatedRetrace", retraces("75", "", "SGI", "0", "1"), 0},
      {"PacingUnderASimulatedRetrace", retraces("50", "", "SGI", "0", "1"), 0},
      {"PacingUnderASimulatedRetrace", retraces("50", "", "EXT", "1", "1"), 0},
  };
  for (const auto& run : runs) {
    std::string env;
    for (const auto& [key, value] : run.env) env += " " + key + "=" + value;
    SCOPED_TRACE(run.child + env);
    EXPECT_EQ(RunChildCase(run.child, run.env), run.status);
    EXPECT_EQ(ServerMode(), before);
    EXPECT_TRUE(KeyboardFree());
  }
}

TEST(GraphicsInChild, OnlyAnotherRateOfTheSize) {
  ExtraServer server("xorg-dummy-75hz.conf");
  ASSERT_FALSE(server.display().empty()) << "could not start the 75 Hz server";
  EXPECT_EQ(
      RunChildCase("SixtyHertzAskedOnASeventyFiveHertzServer", {{"DISPLAY", server.display()}}), 0);
}

}  // namespace
