// What other clients of lifesim's X server do to it, as a test needs them:
//   grabcheck               try to grab keyboard and pointer on the root
//                           window and print the server's answers (lifesim
//                           holds the grabs or not)
//   grabcheck hold SECONDS  hold a keyboard grab on the root window, as an
//                           open menu or a screen locker does; prints "held"
//   grabcheck kill          XKillClient on lifesim's window (xkill, a window
//                           manager's force-quit)
//   grabcheck find          print lifesim's window id
//   grabcheck close         the window manager's close button: a
//                           WM_DELETE_WINDOW message to lifesim's window
// lifesim's window is the top-level window of class "lifesim", or else the
// mapped override-redirect window of 640x480.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

static Window FindLifesim(Display* d) {
  Window root, parent, *children = nullptr, found = 0;
  unsigned n = 0;
  if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n)) return 0;
  for (unsigned i = 0; i < n && !found; ++i) {
    XClassHint hint{};
    if (XGetClassHint(d, children[i], &hint)) {
      if (hint.res_class && strcmp(hint.res_class, "lifesim") == 0) found = children[i];
      XFree(hint.res_name);
      XFree(hint.res_class);
    }
  }
  for (unsigned i = 0; i < n && !found; ++i) {
    XWindowAttributes a;
    if (XGetWindowAttributes(d, children[i], &a) && a.override_redirect &&
        a.map_state == IsViewable && a.width == 640 && a.height == 480)
      found = children[i];
  }
  if (children) XFree(children);
  return found;
}

int main(int argc, char** argv) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    printf("no-display\n");
    return 1;
  }
  Window root = DefaultRootWindow(d);
  const char* what = argc > 1 ? argv[1] : "";
  if (strcmp(what, "hold") == 0) {
    int k = XGrabKeyboard(d, root, True, GrabModeAsync, GrabModeAsync, CurrentTime);
    printf("%s\n", k == GrabSuccess ? "held" : GrabName(k));
    fflush(stdout);
    sleep(argc > 2 ? static_cast<unsigned>(atoi(argv[2])) : 3600);
    XCloseDisplay(d);
    return 0;
  }
  if (strcmp(what, "kill") == 0 || strcmp(what, "close") == 0 || strcmp(what, "find") == 0) {
    Window w = FindLifesim(d);
    if (!w) {
      printf("no-window\n");
      return 1;
    }
    if (what[0] == 'k') {
      XKillClient(d, w);
    } else if (what[0] == 'c') {
      XEvent e{};
      e.xclient.type = ClientMessage;
      e.xclient.window = w;
      e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
      e.xclient.format = 32;
      e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
      e.xclient.data.l[1] = CurrentTime;
      XSendEvent(d, w, False, NoEventMask, &e);
    }
    XSync(d, False);
    printf("0x%lx\n", w);
    XCloseDisplay(d);
    return 0;
  }
  int k = XGrabKeyboard(d, root, True, GrabModeAsync, GrabModeAsync, CurrentTime);
  int p = XGrabPointer(d, root, True, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None,
                       CurrentTime);
  printf("keyboard=%s pointer=%s\n", GrabName(k), GrabName(p));
  XUngrabKeyboard(d, CurrentTime);
  XUngrabPointer(d, CurrentTime);
  XCloseDisplay(d);
  return 0;
}
