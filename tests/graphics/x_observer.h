// Helpers for the display tests: a second X connection that watches what
// the program under test does to the server, and child runs of this test
// program in another environment.
#pragma once

// gtest before Xlib: Xlib's macros (None, Bool...) break gtest's templates.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <X11/extensions/xf86vmode.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "graphics/gldisplay.h"
#include "graphics/gldisplay_layer.h"
#include "input/x11.h"

// Fails (never skips) the calling test when no server is given.
inline Display* Observer() {
  static Display* observer = nullptr;
  const char* name = getenv("DISPLAY");
  if (!observer && name && *name) observer = XOpenDisplay(name);
  return observer;
}
#define REQUIRE_X_SERVER() \
  ASSERT_NE(Observer(), nullptr) << "these tests need DISPLAY (run under tools/with-xserver.sh)"

struct ModeLine {
  int dotclock = 0;
  XF86VidModeModeLine line{};
  int Rate() const { return GLDisplayRefreshRate(dotclock, line.htotal, line.vtotal, line.flags); }
  bool operator==(const ModeLine& o) const {
    return dotclock == o.dotclock && line.hdisplay == o.line.hdisplay &&
           line.vdisplay == o.line.vdisplay && line.htotal == o.line.htotal &&
           line.vtotal == o.line.vtotal && line.hsyncstart == o.line.hsyncstart &&
           line.vsyncstart == o.line.vsyncstart && line.flags == o.line.flags;
  }
};

inline ModeLine ServerMode() {
  ModeLine m;
  Display* d = Observer();
  XF86VidModeGetModeLine(d, DefaultScreen(d), &m.dotclock, &m.line);
  if (m.line.privsize > 0) XFree(m.line.c_private);
  return m;
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

inline std::string SourceDir() {
  if (const char* s = getenv("LIFESIM_SOURCE_DIR")) return s;
  char exe[4096] = {};
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string path(exe, n > 0 ? static_cast<size_t>(n) : 0);
  // build-dir/tests/test_graphics -> the source tree above the build dir.
  for (int i = 0; i < 3; ++i) path = path.substr(0, path.rfind('/'));
  return path;
}

// Runs the named disabled case of this program in a child with the given
// environment changes (empty value: unset); returns its wait status.
inline int RunChildCase(const std::string& name, const std::map<std::string, std::string>& env) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [key, value] : env) {
      if (value.empty()) unsetenv(key.c_str());
      else setenv(key.c_str(), value.c_str(), 1);
    }
    std::string filter = "--gtest_filter=*DISABLED_" + name;
    execl("/proc/self/exe", "test_graphics", filter.c_str(), "--gtest_also_run_disabled_tests",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// A server of another configuration for one test, stopped on destruction.
class ExtraServer {
 public:
  explicit ExtraServer(const std::string& config) {
    std::string cmd = SourceDir() + "/tools/xserver.sh start " + config;
    if (FILE* p = popen(cmd.c_str(), "r")) {
      char buf[64] = {};
      if (fgets(buf, sizeof buf, p)) display_ = std::string(buf).substr(0, std::string(buf).find('\n'));
      pclose(p);
    }
  }
  ~ExtraServer() {
    if (!display_.empty())
      (void)!system((SourceDir() + "/tools/xserver.sh stop " + display_).c_str());
  }
  const std::string& display() const { return display_; }

 private:
  std::string display_;
};
