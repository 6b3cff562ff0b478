// The GL display layer against a real server: mode switching and its
// restoration, the full-screen window and grabs, windowed and hidden
// contexts, swap-interval requests, selection and the shared-context toggle.
#include "tests/graphics/x_observer.h"

#include <GL/glx.h>

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
  EXPECT_EQ(GLDisplayRefreshRate(25175, 800, 525, 0), 60);   // 59.94 rounds up
  EXPECT_EQ(GLDisplayRefreshRate(25175, 800, 525, 16), 120); // interlaced
  EXPECT_EQ(GLDisplayRefreshRate(25175, 800, 525, 32), 30);  // double scan
  EXPECT_EQ(GLDisplayRefreshRate(25175, 800, 525, 48), 60);  // doubled, then halved
  EXPECT_EQ(GLDisplayRefreshRate(31500, 840, 500, 0), 75);
  EXPECT_EQ(GLDisplayRefreshRate(65000, 1344, 806, 0), 60);
  // Degenerate lines must not divide by zero.
  EXPECT_EQ(GLDisplayRefreshRate(25175, 0, 525, 0), 0);
  EXPECT_EQ(GLDisplayRefreshRate(25175, 800, 0, 0), 0);
}

TEST_F(GLDisplayLayer, FullScreenSwitchesGrabsAndRestoresTheMode) {
  const ModeLine before = ServerMode();
  ASSERT_NE(before.line.hdisplay, 640) << "the server should start in another mode";

  GLDisplayContext* c = GLDisplayCreate(640, 480, 32, 60, 2);
  ASSERT_NE(c, nullptr);
  const ModeLine during = ServerMode();
  EXPECT_EQ(during.line.hdisplay, 640);
  EXPECT_EQ(during.line.vdisplay, 480);
  EXPECT_EQ(during.Rate(), 60);
  EXPECT_TRUE(GLDisplayFullScreenActive());

  XWindowAttributes a = WindowAttributes(c->window);
  EXPECT_TRUE(a.override_redirect);
  EXPECT_EQ(a.map_state, IsViewable);
  EXPECT_EQ(a.x, 0);
  EXPECT_EQ(a.y, 0);
  EXPECT_EQ(a.width, 640);
  EXPECT_EQ(a.height, 480);
  EXPECT_FALSE(KeyboardFree());

  // Warped to the window's corner, and confined to the window.
  Display* d = Observer();
  Window root, child;
  int rx = -1, ry = -1, wx, wy;
  unsigned mask;
  XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
  EXPECT_EQ(rx, 0);
  EXPECT_EQ(ry, 0);
  XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, 1000, 700);
  XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
  EXPECT_LT(rx, 640);
  EXPECT_LT(ry, 480);

  Int w, h, depth, hertz, flags;
  GLDisplayQuerySettings(c, &w, &h, &depth, &hertz, &flags);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  EXPECT_EQ(depth, 24);
  EXPECT_EQ(hertz, 60);
  EXPECT_EQ(flags, 2);

  // One video mode to hold: a second full-screen creation is refused and
  // must not disturb the saved mode.
  EXPECT_EQ(GLDisplayCreate(800, 600, 32, 60, 2), nullptr);
  GLDisplaySelect(c);
  GLDisplayToggleShared();
  EXPECT_EQ(GLDisplayCurrent(), c) << "the toggle does nothing in full-screen";

  const unsigned long window = c->window;
  GLDisplayClose(c);
  EXPECT_EQ(ServerMode(), before);
  EXPECT_FALSE(GLDisplayFullScreenActive());
  EXPECT_TRUE(KeyboardFree());
  EXPECT_EQ(GLDisplayCurrent(), nullptr);
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  XWindowAttributes gone{};
  EXPECT_EQ(XGetWindowAttributes(d, window, &gone), 0) << "window destroyed";
  XSetErrorHandler(nullptr);
}

TEST_F(GLDisplayLayer, MissingModeFailsAndLeavesTheServerAlone) {
  const ModeLine before = ServerMode();
  EXPECT_EQ(GLDisplayCreate(123, 45, 32, 60, 2), nullptr);
  EXPECT_EQ(ServerMode(), before);
  EXPECT_FALSE(GLDisplayFullScreenActive());
  EXPECT_EQ(GLDisplayCreate(0, 5, 0, 60, 2), nullptr) << "a window needs both sizes";
}

TEST_F(GLDisplayLayer, WindowedAndHiddenContextsLeaveModeAndGrabs) {
  const ModeLine before = ServerMode();
  GLDisplayContext* c = GLDisplayCreate(320, 200, 0, 75, 2 | 8);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(ServerMode(), before);
  EXPECT_TRUE(KeyboardFree());
  XWindowAttributes a = WindowAttributes(c->window);
  EXPECT_FALSE(a.override_redirect);
  EXPECT_EQ(a.map_state, IsViewable);
  EXPECT_EQ(a.width, 320);
  EXPECT_EQ(c->depth, 24);
  EXPECT_EQ(c->hertz, 75);
  ASSERT_NE(GLDisplaySharedContext(), nullptr) << "made with the first visible context";

  GLDisplayContext* hidden = GLDisplayCreate(0, 0, 0, 0, 0);
  ASSERT_NE(hidden, nullptr);
  a = WindowAttributes(hidden->window);
  EXPECT_EQ(a.map_state, IsUnmapped);
  EXPECT_EQ(a.width, 100);
  EXPECT_EQ(a.height, 100);
  GLDisplayClose(hidden);
  GLDisplayClose(c);
}

TEST_F(GLDisplayLayer, VisualFollowsTheFlags) {
  Display* d = X11Display();
  auto* plain = static_cast<XVisualInfo*>(GLDisplayChooseVisual(0));
  auto* rich = static_cast<XVisualInfo*>(GLDisplayChooseVisual(2 | 8 | 16));
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(rich, nullptr);
  int value = -1;
  glXGetConfig(d, plain, GLX_DOUBLEBUFFER, &value);
  EXPECT_EQ(value, 0);
  glXGetConfig(d, rich, GLX_DOUBLEBUFFER, &value);
  EXPECT_EQ(value, 1);
  glXGetConfig(d, rich, GLX_DEPTH_SIZE, &value);
  EXPECT_GE(value, 1);
  glXGetConfig(d, rich, GLX_STENCIL_SIZE, &value);
  EXPECT_GE(value, 1);
  GLDisplayFreeVisual(plain);
  GLDisplayFreeVisual(rich);
}

TEST_F(GLDisplayLayer, SwapIntervalIsRequestedOncePerChange) {
  GLDisplayContext* c = GLDisplayCreate(64, 64, 0, 60, 2);
  ASSERT_NE(c, nullptr);
  GLDisplaySelect(c);
  const Int base = GLDisplaySwapIntervalRequests();
  GLDisplayFlip(1);
  EXPECT_EQ(GLDisplaySwapIntervalRequests(), base + 1);
  EXPECT_EQ(GLDisplayLastSwapInterval(), 1);
  GLDisplayFlip(1);
  EXPECT_EQ(GLDisplaySwapIntervalRequests(), base + 1);
  GLDisplayFlip(0);
  EXPECT_EQ(GLDisplaySwapIntervalRequests(), base + 2);
  EXPECT_EQ(GLDisplayLastSwapInterval(), 0);
  GLDisplayFlip(0);
  GLDisplayFlip(7);  // any nonzero sync is 1
  EXPECT_EQ(GLDisplaySwapIntervalRequests(), base + 3);
  EXPECT_EQ(GLDisplayLastSwapInterval(), 1);

  // A new context starts with no interval requested.
  GLDisplayContext* other = GLDisplayCreate(64, 64, 0, 60, 2);
  ASSERT_NE(other, nullptr);
  GLDisplaySelect(other);
  GLDisplayFlip(1);
  EXPECT_EQ(GLDisplaySwapIntervalRequests(), base + 4);
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
  EXPECT_EQ(GLDisplayCurrent(), GLDisplaySharedContext());
  EXPECT_EQ(glXGetCurrentContext(), GLDisplaySharedContext()->glxContext);
  GLDisplayToggleShared();
  EXPECT_EQ(GLDisplayCurrent(), a);

  // Closing another context leaves the bound one usable.
  GLDisplayClose(b);
  EXPECT_EQ(glXGetCurrentContext(), a->glxContext);

  // The last selected context closed while the shared one is bound: the
  // toggle back must not touch it (ASan reports a use after free here).
  GLDisplayToggleShared();
  GLDisplayClose(a);
  EXPECT_EQ(GLDisplayLastSelected(), nullptr);
  GLDisplayToggleShared();
  EXPECT_EQ(GLDisplayCurrent(), nullptr);
  EXPECT_EQ(glXGetCurrentContext(), nullptr);
  GLDisplayToggleShared();
  EXPECT_EQ(GLDisplayCurrent(), GLDisplaySharedContext());
  GLDisplayToggleShared();
}

TEST_F(GLDisplayLayer, AttachedWindowGetsItsContextOnSelection) {
  Display* d = X11Display();
  auto* visual = static_cast<XVisualInfo*>(GLDisplayChooseVisual(2));
  ASSERT_NE(visual, nullptr);
  XSetWindowAttributes wa{};
  wa.colormap = XCreateColormap(d, DefaultRootWindow(d), visual->visual, AllocNone);
  Window w = XCreateWindow(d, DefaultRootWindow(d), 0, 0, 200, 150, 0, visual->depth, InputOutput,
                           visual->visual, CWColormap, &wa);
  GLDisplayFreeVisual(visual);
  XSync(d, False);

  GLDisplayContext* c = GLDisplayAttach(w, 2);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->kind, GLDISPLAY_ATTACHED);
  EXPECT_EQ(c->glxContext, nullptr);
  GLDisplaySelect(c);
  ASSERT_NE(c->glxContext, nullptr);
  EXPECT_EQ(glXGetCurrentContext(), c->glxContext);
  EXPECT_EQ(c->width, 200);

  XResizeWindow(d, w, 120, 90);
  XSync(d, False);
  Int width, height, depth, hertz, flags;
  GLDisplayQuerySettings(c, &width, &height, &depth, &hertz, &flags);
  EXPECT_EQ(width, 120);
  EXPECT_EQ(height, 90);
  EXPECT_EQ(depth, 0);
  GLDisplayClose(c);
  EXPECT_EQ(WindowAttributes(w).width, 120) << "an attached window is not ours to destroy";
  XDestroyWindow(d, w);
  XFreeColormap(d, wa.colormap);
}

}  // namespace
