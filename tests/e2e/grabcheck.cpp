// Tries to grab the keyboard and the pointer on the root window and prints
// what the server answers, so a test can see that lifesim holds the grabs.
#include <X11/Xlib.h>

#include <cstdio>

static const char* GrabName(int status) {
  switch (status) {
    case GrabSuccess: return "GrabSuccess";
    case AlreadyGrabbed: return "AlreadyGrabbed";
    case GrabInvalidTime: return "GrabInvalidTime";
    case GrabNotViewable: return "GrabNotViewable";
    case GrabFrozen: return "GrabFrozen";
  }
  return "Unknown";
}

int main() {
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    printf("no-display\n");
    return 1;
  }
  Window root = DefaultRootWindow(d);
  int k = XGrabKeyboard(d, root, True, GrabModeAsync, GrabModeAsync, CurrentTime);
  int p = XGrabPointer(d, root, True, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None,
                       CurrentTime);
  printf("keyboard=%s pointer=%s\n", GrabName(k), GrabName(p));
  XUngrabKeyboard(d, CurrentTime);
  XUngrabPointer(d, CurrentTime);
  XCloseDisplay(d);
  return 0;
}
