// The graphics layer over the GL display driver: Graphics / EndGraphics,
// the generation counter, the mode list, the sync decision and software
// frame pacing, and failures (no such mode, no display, a signal).
#include "tests/graphics/x_observer.h"

#include <csignal>
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

TEST_F(GraphicsLayer, SoftPacingDeliversFramesOnTheSixtyHertzSchedule) {
  const Int opening = kxMilliSecs();
  ASSERT_NE(Graphics(160, 120, 0, 60, 0), nullptr);  // windowed: paced without a test
  const Int opened = kxMilliSecs();  // the schedule starts in between
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
}

TEST_F(GraphicsLayer, ExplicitSyncOtherGraphicsAndZeroHertzAreNotPaced) {
  ASSERT_NE(Graphics(160, 120, 0, 60, 0), nullptr);
  Flip(-1);
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

TEST(GraphicsInChild, NoDisplayAtAll) {
  EXPECT_EQ(RunChildCase("NoDisplayGivesNull", {{"DISPLAY", ""}}), 0);
}

TEST(GraphicsInChild, OnlyAnotherRateOfTheSize) {
  ExtraServer server("xorg-dummy-75hz.conf");
  ASSERT_FALSE(server.display().empty()) << "could not start the 75 Hz server";
  EXPECT_EQ(RunChildCase("SixtyHertzAskedOnASeventyFiveHertzServer",
                         {{"DISPLAY", server.display()}}),
            0);
}

// The signal is reported at the next Flip; the at-exit routines put the
// video mode back.
TEST(GraphicsInChild, SignalRestoresTheMode) {
  REQUIRE_X_SERVER();
  const ModeLine before = ServerMode();
  EXPECT_EQ(RunChildCase("TerminatedAtAFlip", {}), 255);
  EXPECT_EQ(ServerMode(), before);
  EXPECT_TRUE(KeyboardFree());
}

}  // namespace
