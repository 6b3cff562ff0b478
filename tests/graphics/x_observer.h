// Helpers for the display tests: a second X connection that watches what
// the code under test does to the server, and child runs of this program.
#pragma once

// gtest before Xlib: Xlib's macros (None, Bool...) break gtest's templates.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <X11/extensions/xf86vmode.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

#include "graphics/gldisplay.h"
#include "graphics/gldisplay_layer.h"
#include "input/x11.h"

inline Display* Observer() {
  static Display* observer = nullptr;
  const char* name = getenv("DISPLAY");
  if (!observer && name && *name) observer = XOpenDisplay(name);
  return observer;
}
// X tests fail, never skip, without a server.
#define REQUIRE_X_SERVER() \
  ASSERT_NE(Observer(), nullptr) << "needs DISPLAY (run under tools/with-xserver.sh)"

// The server's mode line: width, height, rate, dot clock, totals, flags.
using ModeLine = std::array<int, 7>;
inline ModeLine ServerMode(Display* d = Observer()) {
  int clock = 0;
  XF86VidModeModeLine m{};
  XF86VidModeGetModeLine(d, DefaultScreen(d), &clock, &m);
  if (m.privsize > 0) XFree(m.c_private);
  const int rate = GLDisplayRefreshRate(clock, m.htotal, m.vtotal, static_cast<Int>(m.flags));
  return {m.hdisplay, m.vdisplay, rate, clock, m.htotal, m.vtotal, static_cast<int>(m.flags)};
}

// True when another client can take the keyboard (then it gives it back).
inline bool KeyboardFree() {
  Display* d = Observer();
  int r = XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync, CurrentTime);
  if (r == GrabSuccess) XUngrabKeyboard(d, CurrentTime);
  XSync(d, False);
  return r == GrabSuccess;
}

inline XWindowAttributes WindowAttributes(unsigned long window) {
  XWindowAttributes a{};
  XGetWindowAttributes(Observer(), window, &a);
  return a;
}

// The source tree: from the environment, else the one this was built from.
inline std::string SourceDir() {
  const char* src = getenv("LIFESIM_SOURCE_DIR");
  return src ? src : LIFESIM_SOURCE_DIR;
}

// A server of another configuration for one test, stopped on destruction.
class ExtraServer {
 public:
  explicit ExtraServer(const char* config) {
    script_ = SourceDir() + "/tools/xserver.sh";
    if (FILE* p = popen((script_ + " start " + config).c_str(), "r")) {
      char buf[64] = {};
      if (fgets(buf, sizeof buf, p)) display_ = std::string(buf, strcspn(buf, "\n"));
      pclose(p);
    }
  }
  ~ExtraServer() {
    if (!display_.empty()) (void)!system((script_ + " stop " + display_).c_str());
  }
  const std::string& display() const { return display_; }

 private:
  std::string script_, display_;
};
