// The GL display layer against a real server: mode switching and its
// restoration, the full-screen window and grabs, windowed and hidden
// contexts, swap-interval requests, selection and the shared-context toggle.
#include "tests/graphics/x_observer.h"

#include <GL/glx.h>

#include <vector>

namespace {

class GLDisplayLayer : public testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_X_SERVER();
    InitGLDisplayModule();
    ASSERT_EQ(GLDisplayInit(), 0);
  }
};

TEST(GLDisplayRefreshRate, ModeLinesGiveRoundedRates) {
  EXPECT_EQ(GLDisplayRefreshRate(25175, 800, 525, 0), 60);    // 59.94 rounds up
  EXPECT_EQ(GLDisplayRefreshRate(25175, 800, 525, 16), 120);  // interlaced
  EXPECT_EQ(GLDisplayRefreshRate(25175, 800, 525, 32), 30);   // double scan
  EXPECT_EQ(GLDisplayRefreshRate(25175, 800, 525, 48), 60);   // doubled, then halved
  EXPECT_EQ(GLDisplayRefreshRate(31500, 840, 500, 0), 75);
  EXPECT_EQ(GLDisplayRefreshRate(25175, 0, 525, 0), 0);  // no division by zero
}

TEST_F(GLDisplayLayer, FullScreenSwitchesGrabsAndRestoresTheMode) {
  const ModeLine before = ServerMode();
  ASSERT_NE(before[0], 640) << "the server should start in another mode";
  GLDisplayContext* c = GLDisplayCreate(640, 480, 32, 60, 2);
  ASSERT_NE(c, nullptr);
  const ModeLine mode = ServerMode();
  EXPECT_EQ(std::vector<int>(mode.begin(), mode.begin() + 3), (std::vector<int>{640, 480, 60}));
  XWindowAttributes a = WindowAttributes(c->window);
  EXPECT_EQ((std::vector<int>{a.override_redirect, a.map_state, a.x, a.y, a.width, a.height}),
            (std::vector<int>{1, IsViewable, 0, 0, 640, 480}));
  EXPECT_FALSE(KeyboardFree());

  // Warped to the window's corner, then confined to the window.
  Display* d = Observer();
  Window root, child;
  int rx = -1, ry = -1, wx, wy;
  unsigned mask;
  XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
  EXPECT_TRUE(rx == 0 && ry == 0) << rx << "," << ry;
  XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, 1000, 700);
  XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
  EXPECT_TRUE(rx < 640 && ry < 480) << rx << "," << ry;

  Int s[5];
  GLDisplayQuerySettings(c, &s[0], &s[1], &s[2], &s[3], &s[4]);
  EXPECT_EQ(std::vector<Int>(s, s + 5), (std::vector<Int>{640, 480, 24, 60, 2}));

  // One video mode to hold: a second full-screen creation is refused and
  // must not replace the saved mode.
  EXPECT_EQ(GLDisplayCreate(800, 600, 32, 60, 2), nullptr);
  GLDisplaySelect(c);
  GLDisplayToggleShared();
  EXPECT_EQ(GLDisplayCurrent(), c) << "the toggle does nothing in full-screen";

  const unsigned long window = c->window;
  GLDisplayClose(c);
  EXPECT_EQ(ServerMode(), before);
  EXPECT_FALSE(GLDisplayFullScreenActive());
  EXPECT_TRUE(KeyboardFree());
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  XWindowAttributes gone{};
  EXPECT_EQ(XGetWindowAttributes(d, window, &gone), 0) << "window destroyed";
  XSetErrorHandler(nullptr);
}

TEST_F(GLDisplayLayer, WindowedHiddenAndFailedCreationsLeaveModeAndGrabs) {
  const ModeLine before = ServerMode();
  EXPECT_EQ(GLDisplayCreate(123, 45, 32, 60, 2), nullptr) << "no such mode";
  EXPECT_EQ(GLDisplayCreate(0, 5, 0, 60, 2), nullptr) << "a window needs both sizes";
  GLDisplayContext* c = GLDisplayCreate(320, 200, 0, 75, 2);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(ServerMode(), before);
  EXPECT_TRUE(KeyboardFree());
  XWindowAttributes a = WindowAttributes(c->window);
  EXPECT_EQ((std::vector<int>{a.override_redirect, a.map_state, a.width, int(c->hertz)}),
            (std::vector<int>{0, IsViewable, 320, 75}));

  // Every display flag at once: the attribute list has room for all of them
  // and the window keeps its size (ASan reports the overflow otherwise).
  GLDisplayContext* all = GLDisplayCreate(320, 200, 0, 60, 2 | 4 | 8 | 16 | 32);
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(WindowAttributes(all->window).width, 320);
  GLDisplayClose(all);

  GLDisplayContext* hidden = GLDisplayCreate(0, 0, 0, 0, 0);
  ASSERT_NE(hidden, nullptr);
  a = WindowAttributes(hidden->window);
  EXPECT_EQ((std::vector<int>{a.map_state, a.width, a.height}),
            (std::vector<int>{IsUnmapped, 100, 100}));
  GLDisplayClose(hidden);
  GLDisplayClose(c);
}

TEST_F(GLDisplayLayer, SwapIntervalIsRequestedOncePerChangeAndContext) {
  GLDisplayContext* c = GLDisplayCreate(64, 64, 0, 60, 2);
  ASSERT_NE(c, nullptr);
  GLDisplaySelect(c);
  const Int base = GLDisplaySwapIntervalRequests();
  // sync, then requests so far and the interval swapped with: any nonzero sync is 1.
  const Int flips[][3] = {{1, 1, 1}, {1, 1, 1}, {0, 2, 0}, {0, 2, 0}, {7, 3, 1}};
  for (const auto& f : flips) {
    GLDisplayFlip(f[0]);
    EXPECT_EQ(GLDisplaySwapIntervalRequests() - base, f[1]) << "sync " << f[0];
    EXPECT_EQ(GLDisplayLastSwapInterval(), f[2]) << "sync " << f[0];
  }
  GLDisplayContext* other = GLDisplayCreate(64, 64, 0, 60, 2);
  ASSERT_NE(other, nullptr);
  GLDisplaySelect(other);
  GLDisplayFlip(1);
  EXPECT_EQ(GLDisplaySwapIntervalRequests(), base + 4) << "a new context asks again";
  GLDisplayClose(other);
  GLDisplayClose(c);
  GLDisplayFlip(1);  // nothing current: no request, no crash
  EXPECT_EQ(GLDisplaySwapIntervalRequests(), base + 4);
}

TEST_F(GLDisplayLayer, SelectionCreationAndToggleKeepTheBoundContext) {
  GLDisplayContext* a = GLDisplayCreate(64, 64, 0, 0, 2);
  ASSERT_NE(a, nullptr);
  GLDisplaySelect(a);
  GLDisplayContext* b = GLDisplayCreate(64, 64, 0, 0, 2);
  ASSERT_NE(b, nullptr);
  // Creating b bound it for its map; the layer still reports a, so GLX
  // must have a bound too.
  EXPECT_EQ(GLDisplayCurrent(), a);
  EXPECT_EQ(glXGetCurrentContext(), a->glxContext);
  GLDisplayToggleShared();
  EXPECT_EQ(glXGetCurrentContext(), GLDisplaySharedContext()->glxContext);
  GLDisplayToggleShared();
  EXPECT_EQ(GLDisplayCurrent(), a);
  GLDisplayClose(b);
  EXPECT_EQ(glXGetCurrentContext(), a->glxContext) << "closing another keeps a bound";

  // The last selected context closed while the shared one is bound: the
  // toggle back must not touch it (ASan reports a use after free here).
  GLDisplayToggleShared();
  GLDisplayClose(a);
  GLDisplayToggleShared();
  EXPECT_EQ(GLDisplayCurrent(), nullptr);
  EXPECT_EQ(glXGetCurrentContext(), nullptr);
}

}  // namespace
