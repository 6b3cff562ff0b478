// The GL display layer over Xlib, GLX and the video-mode extension. All of
// its state is the one Layer record below: the borrowed connection, the
// swap-control entry point, the current, last selected and shared contexts,
// and while a full-screen context lives, the mode list and the mode it
// replaced.
//
// Invariants kept here:
//  - at most one full-screen context exists; it alone holds the video mode,
//    the grabs and the saved mode, and the at-exit shutdown closes it even
//    when it is not current;
//  - no call goes into the connection once the system layer reports it lost;
//  - every X or GLX request whose failure would otherwise end the process
//    (through the default X error handler) or crash runs under an error trap
//    and turns into a failed creation;
//  - a failed creation leaves its reason in words (GLDisplayFailureReason),
//    recorded where the failure happened;
//  - a full-screen context holds the keyboard: when the grab is refused
//    for longer than a menu or a key release keeps it, the context is given
//    up and the mode put back rather than kept without its keys.
#include "graphics/gldisplay_layer.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/xf86vmode.h>
#include <GL/glx.h>

#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "graphics/graphics.h"
#include "input/x11.h"
#include "runtime/module.h"
#include "runtime/time.h"

namespace {

// Mode-line flag bits of the video-mode extension.
constexpr unsigned kModeInterlace = 16;
constexpr unsigned kModeDoubleScan = 32;

constexpr long kFullScreenEvents = StructureNotifyMask | ResizeRedirectMask | FocusChangeMask;
constexpr long kWindowedEvents = StructureNotifyMask | ResizeRedirectMask;
constexpr long kInputEvents = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                              PointerMotionMask | ResizeRedirectMask;

// Swap-control entry points, by extension. EXT and MESA allow interval 0
// and report the interval in force; SGI refuses 0 (GLX_BAD_VALUE).
using SwapIntervalExtProc = void (*)(Display*, GLXDrawable, int);
using SwapIntervalMesaProc = int (*)(unsigned);
using GetSwapIntervalMesaProc = int (*)();
using SwapIntervalSgiProc = int (*)(int);

struct SwapControl {
  SwapIntervalExtProc ext;
  SwapIntervalMesaProc mesa;
  GetSwapIntervalMesaProc getMesa;
  SwapIntervalSgiProc sgi;
  bool Any() const { return ext || mesa || sgi; }
};

struct Layer {
  bool initialised;
  bool atExitRegistered;
  bool hasVidMode;
  Display* display;
  int screen;
  SwapControl swap;
  GLDisplayContext* current;
  GLDisplayContext* lastSelected;
  GLDisplayContext* shared;
  GLDisplayContext* fullScreen;  // non-null exactly while full-screen is active
  XF86VidModeModeInfo** modeList;
  XF86VidModeModeInfo* selectedMode;
  XF86VidModeModeInfo savedVideoMode;
  Int swapRequests;
  Int lastSwapInterval;
  char failure[320];
};
Layer L = {};

// How long a refused grab is tried again, and how often: menus, drags and
// key releases hold the keyboard for a moment only.
constexpr int kGrabRetryMs = 1000;
constexpr int kGrabRetryStepMs = 20;

const char* Name() {
  const char* name = X11DisplayName();
  return *name ? name : "(DISPLAY is not set)";
}

// Records why a creation failed; null, so that failures read `return Fail(...)`.
__attribute__((format(printf, 1, 2))) std::nullptr_t Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(L.failure, sizeof L.failure, format, args);
  va_end(args);
  return nullptr;
}

bool Connected() { return L.display && !X11ConnectionLost(); }

GLXContext GlxOf(GLDisplayContext* c) { return static_cast<GLXContext>(c->glxContext); }

bool HasExtension(const char* list, const char* name) {
  if (!list) return false;
  const size_t n = strlen(name);
  for (const char* p = strstr(list, name); p; p = strstr(p + 1, name)) {
    const bool starts = p == list || p[-1] == ' ';
    const bool ends = p[n] == '\0' || p[n] == ' ';
    if (starts && ends) return true;
  }
  return false;
}

Int RateOf(const XF86VidModeModeInfo* m) {
  return GLDisplayRefreshRate(static_cast<Int>(m->dotclock), m->htotal, m->vtotal,
                              static_cast<Int>(m->flags));
}

GLDisplayContext* NewRecord(Int kind, Int flags) {
  auto* c = static_cast<GLDisplayContext*>(calloc(1, sizeof(GLDisplayContext)));
  if (!c) return nullptr;
  c->kind = kind;
  c->flags = flags;
  c->swapState = -1;
  // Every swap-control extension starts drawables at interval 1.
  c->swapInForce = L.swap.Any() ? 1 : -1;
  return c;
}

template <class F>
F ProcAddress(const char* name) {
  return reinterpret_cast<F>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}

// The first extension offered, in order of preference: those that allow
// interval 0 before the one that does not.
SwapControl FindSwapControl(const char* extensions) {
  SwapControl found = {};
  if (HasExtension(extensions, "GLX_EXT_swap_control"))
    found.ext = ProcAddress<SwapIntervalExtProc>("glXSwapIntervalEXT");
  if (!found.ext && HasExtension(extensions, "GLX_MESA_swap_control")) {
    found.mesa = ProcAddress<SwapIntervalMesaProc>("glXSwapIntervalMESA");
    found.getMesa = ProcAddress<GetSwapIntervalMesaProc>("glXGetSwapIntervalMESA");
    if (!found.getMesa) found.mesa = nullptr;
  }
  if (!found.ext && !found.mesa && HasExtension(extensions, "GLX_SGI_swap_control"))
    found.sgi = ProcAddress<SwapIntervalSgiProc>("glXSwapIntervalSGI");
  return found;
}

// Asks for interval s on the current context's drawable and returns the
// interval in force afterwards: what the extension reports where it can be
// asked, else the request when it was accepted, else what was in force.
Int RequestSwapInterval(GLDisplayContext* c, Int s) {
  const SwapControl& sc = L.swap;
  const Int kept = c->swapInForce >= 0 ? c->swapInForce : 1;
  if (sc.ext) {
    X11ErrorTrap trap;  // a refused value comes back as an X error
    sc.ext(L.display, c->window, s);
    unsigned int value = 0;
    glXQueryDrawable(L.display, c->window, GLX_SWAP_INTERVAL_EXT, &value);
    return trap.Finish() == 0 ? static_cast<Int>(value) : kept;
  }
  if (sc.mesa) return sc.mesa(static_cast<unsigned>(s)) == 0 ? sc.getMesa() : kept;
  if (sc.sgi) return sc.sgi(s) == 0 ? s : kept;
  return -1;
}

bool EnsureShared() {
  if (!L.shared) L.shared = GLDisplayCreate(0, 0, 0, 0, 0);
  return L.shared != nullptr;
}

// The layer's notion of current, and GLX's, change together here.
void MakeCurrent(GLDisplayContext* c) {
  if (c && c->glxContext) {
    glXMakeCurrent(L.display, c->window, GlxOf(c));
    L.current = c;
  } else {
    glXMakeCurrent(L.display, None, nullptr);
    L.current = nullptr;
  }
}

bool SaveVideoMode(XF86VidModeModeInfo* out) {
  int dotclock = 0;
  XF86VidModeModeLine line;
  memset(&line, 0, sizeof line);
  if (!XF86VidModeGetModeLine(L.display, L.screen, &dotclock, &line)) return false;
  if (line.privsize > 0 && line.c_private) XFree(line.c_private);
  memset(out, 0, sizeof *out);
  out->dotclock = static_cast<unsigned>(dotclock);
  out->hdisplay = line.hdisplay;
  out->hsyncstart = line.hsyncstart;
  out->hsyncend = line.hsyncend;
  out->htotal = line.htotal;
  out->hskew = line.hskew;
  out->vdisplay = line.vdisplay;
  out->vsyncstart = line.vsyncstart;
  out->vsyncend = line.vsyncend;
  out->vtotal = line.vtotal;
  out->flags = line.flags;
  return true;
}

// First the exact size at the exact rate, then the exact size at any rate.
XF86VidModeModeInfo* FindMode(XF86VidModeModeInfo** modes, int count, Int width, Int height,
                              Int hertz) {
  for (int i = 0; i < count; ++i) {
    if (modes[i]->hdisplay == width && modes[i]->vdisplay == height && RateOf(modes[i]) == hertz)
      return modes[i];
  }
  for (int i = 0; i < count; ++i) {
    if (modes[i]->hdisplay == width && modes[i]->vdisplay == height) return modes[i];
  }
  return nullptr;
}

void RestoreVideoMode() {
  XF86VidModeSwitchToMode(L.display, L.screen, &L.savedVideoMode);
  XF86VidModeSetViewPort(L.display, L.screen, 0, 0);
  // A round trip, not a flush: at exit the process may be gone before the
  // server reads a request that was only flushed.
  XSync(L.display, False);
}

// Killed by the server (xkill, a window manager's force-quit), this client
// has lost its connection while the server lives on in the mode this layer
// chose: a connection of its own puts the saved mode back. A server that is
// gone refuses the connection at once.
void RestoreOnNewConnection() {
  Display* display = XOpenDisplay(X11DisplayName());
  if (!display) return;
  XF86VidModeSwitchToMode(display, L.screen, &L.savedVideoMode);
  XF86VidModeSetViewPort(display, L.screen, 0, 0);
  XSync(display, False);
  XCloseDisplay(display);
}

Bool IsMapNotifyOf(Display*, XEvent* event, XPointer window) {
  return event->type == MapNotify && event->xmap.window == *reinterpret_cast<Window*>(window);
}

// Grabs keyboard and pointer for a full-screen window, trying again for a
// moment while another client holds them. True when the keyboard is ours;
// without the pointer the keys still work, so that alone is no failure.
bool GrabInput(Window window) {
  int keyboard = AlreadyGrabbed, pointer = AlreadyGrabbed;
  for (int waited = 0;; waited += kGrabRetryStepMs) {
    if (keyboard != GrabSuccess)
      keyboard = XGrabKeyboard(L.display, window, True, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (pointer != GrabSuccess)
      pointer = XGrabPointer(L.display, window, True, ButtonPressMask, GrabModeAsync, GrabModeAsync,
                             window, None, CurrentTime);
    if ((keyboard == GrabSuccess && pointer == GrabSuccess) || waited >= kGrabRetryMs) break;
    kxCheckSignals();
    const timespec step = {0, kGrabRetryStepMs * 1000L * 1000L};
    nanosleep(&step, nullptr);
  }
  return keyboard == GrabSuccess;
}

// Shows a made window: mapped, for full-screen with pointer and keyboard
// grabbed, the context bound, and input events selected once it is mapped.
// False, with nothing bound, when a full-screen window cannot have the keys.
bool ShowWindow(Window window, GLXContext glx, bool fullScreen) {
  XMapRaised(L.display, window);
  if (fullScreen) {
    XWarpPointer(L.display, None, window, 0, 0, 0, 0, 0, 0);
    if (!GrabInput(window)) return false;
  }
  glXMakeCurrent(L.display, window, glx);
  XEvent event;
  XIfEvent(L.display, &event, IsMapNotifyOf, reinterpret_cast<XPointer>(&window));
  XSelectInput(L.display, window, kInputEvents);
  X11SetEventWindow(window);
  return true;
}

// Refreshes an attached context's size from its window; false when the
// window is gone.
bool RefreshGeometry(GLDisplayContext* c) {
  Window root;
  int x, y;
  unsigned width = 0, height = 0, border, depth;
  X11ErrorTrap trap;
  Status ok = XGetGeometry(L.display, c->window, &root, &x, &y, &width, &height, &border, &depth);
  if (trap.Finish() != 0 || !ok) return false;
  c->width = static_cast<Int>(width);
  c->height = static_cast<Int>(height);
  return true;
}

// Makes the GL context of an attached window on its first selection.
bool MakeAttachedContext(GLDisplayContext* c) {
  if (!EnsureShared()) return false;
  auto* visual = static_cast<XVisualInfo*>(GLDisplayChooseVisual(c->flags));
  if (!visual) return false;
  X11ErrorTrap trap;
  GLXContext glx = glXCreateContext(L.display, visual, GlxOf(L.shared), True);
  bool bound = glx && glXMakeCurrent(L.display, c->window, glx);
  const bool ok = trap.Finish() == 0 && bound;
  XFree(visual);
  if (!ok) {
    if (glx) {
      glXMakeCurrent(L.display, None, nullptr);
      glXDestroyContext(L.display, glx);
    }
    // What was bound before is bound again.
    MakeCurrent(L.current);
    return false;
  }
  c->glxContext = glx;
  X11SetEventWindow(c->window);
  return true;
}

// Gives back everything a context holds (GL context, window, colormap and,
// for full-screen, the video mode) and leaves an empty record.
void ReleaseContext(GLDisplayContext* c) {
  if (c == L.current) L.current = nullptr;
  if (c == L.lastSelected) L.lastSelected = nullptr;
  if (c == L.shared) L.shared = nullptr;
  if (Connected()) {
    if (c->glxContext) {
      // Only unbind when this context is the bound one: another context
      // that the layer reports current must stay usable.
      if (glXGetCurrentContext() == GlxOf(c)) glXMakeCurrent(L.display, None, nullptr);
      glXDestroyContext(L.display, GlxOf(c));
    }
    if (c->window && c->kind != GLDISPLAY_ATTACHED) {
      XDestroyWindow(L.display, c->window);
      if (c->colormap) XFreeColormap(L.display, c->colormap);
    }
    if (c == L.fullScreen) RestoreVideoMode();
  } else if (c == L.fullScreen && X11ConnectionLost()) {
    RestoreOnNewConnection();
  }
  if (c == L.fullScreen) {
    XFree(L.modeList);  // client memory only: safe with a dead connection
    L.modeList = nullptr;
    L.selectedMode = nullptr;
    L.fullScreen = nullptr;
  }
  c->glxContext = nullptr;
  c->window = 0;
  c->colormap = 0;
}

}  // namespace

Int GLDisplayRefreshRate(Int dotclock, Int htotal, Int vtotal, Int modeFlags) {
  const double total = static_cast<double>(htotal) * static_cast<double>(vtotal);
  if (total <= 0) return 0;  // a degenerate mode line has no rate
  uint32_t rate = static_cast<uint32_t>(
      kxTruncateToInt(static_cast<double>(dotclock) * 1000.0 / total + 0.5));
  if (static_cast<unsigned>(modeFlags) & kModeInterlace) rate <<= 1;
  Int result = static_cast<Int>(rate);
  if (static_cast<unsigned>(modeFlags) & kModeDoubleScan) result >>= 1;
  return result;
}

Int GLDisplayInit() {
  if (L.initialised) return Connected() ? 0 : -1;
  Display* display = X11Display();
  if (!display) {
    Fail("no X server answers at display %s", Name());
    return -1;
  }
  int major = 0, minor = 0;
  if (!glXQueryVersion(display, &major, &minor)) {
    Fail("the X server at display %s has no OpenGL extension (GLX)", Name());
    return -1;
  }
  L.display = display;
  // Without the extension (Xvfb, for one) there is no full-screen mode.
  int event = 0, error = 0;
  L.hasVidMode = XF86VidModeQueryExtension(display, &event, &error) &&
                 XF86VidModeQueryVersion(display, &major, &minor);
  L.screen = DefaultScreen(display);
  L.swap = FindSwapControl(glXQueryExtensionsString(display, L.screen));
  L.lastSwapInterval = -1;
  if (!L.atExitRegistered) {
    L.atExitRegistered = true;
    kxRegisterAtExit(GLDisplayShutdown);
  }
  L.initialised = true;
  return 0;
}

Int GLDisplayListModes(Int* room, Int max) {
  if (GLDisplayInit() != 0 || !L.hasVidMode || max <= 0) return 0;
  int count = 0;
  XF86VidModeModeInfo** modes = nullptr;
  if (!XF86VidModeGetAllModeLines(L.display, L.screen, &count, &modes) || !modes) return 0;
  const Int n = count < max ? count : max;
  for (Int i = 0; i < n; ++i) {
    room[4 * i] = modes[i]->hdisplay;
    room[4 * i + 1] = modes[i]->vdisplay;
    room[4 * i + 2] = 24;
    room[4 * i + 3] = RateOf(modes[i]);
  }
  XFree(modes);
  return n;
}

void* GLDisplayChooseVisual(Int flags) {
  if (GLDisplayInit() != 0) return nullptr;
  // GLX_RGBA, GLX_DOUBLEBUFFER, three size pairs, four accumulation pairs
  // and the closing None.
  int attributes[2 + 3 * 2 + 4 * 2 + 1];
  int n = 0;
  attributes[n++] = GLX_RGBA;
  if (flags & DISPLAY_BACK_BUFFER) attributes[n++] = GLX_DOUBLEBUFFER;
  if (flags & DISPLAY_ALPHA_BUFFER) attributes[n++] = GLX_ALPHA_SIZE, attributes[n++] = 1;
  if (flags & DISPLAY_DEPTH_BUFFER) attributes[n++] = GLX_DEPTH_SIZE, attributes[n++] = 1;
  if (flags & DISPLAY_STENCIL_BUFFER) attributes[n++] = GLX_STENCIL_SIZE, attributes[n++] = 1;
  if (flags & DISPLAY_ACCUM_BUFFER) {
    for (int a :
         {GLX_ACCUM_RED_SIZE, GLX_ACCUM_GREEN_SIZE, GLX_ACCUM_BLUE_SIZE, GLX_ACCUM_ALPHA_SIZE}) {
      attributes[n++] = a;
      attributes[n++] = 1;
    }
  }
  attributes[n] = None;
  return glXChooseVisual(L.display, L.screen, attributes);
}

void GLDisplayFreeVisual(void* visual) {
  if (visual) XFree(visual);
}

GLDisplayContext* GLDisplayCreate(Int width, Int height, Int depth, Int hertz, Int flags) {
  L.failure[0] = '\0';
  if (GLDisplayInit() != 0) return nullptr;
  const bool makingShared = width == 0 && height == 0;
  GLXContext shareList = nullptr;
  if (makingShared) {
    width = height = 100;
  } else {
    if (!EnsureShared()) return nullptr;
    shareList = GlxOf(L.shared);
  }
  const bool fullScreen = depth != 0;
  // A second full-screen context would overwrite the saved mode that the
  // first must restore; there is one screen mode to hold.
  if (fullScreen && L.fullScreen) return Fail("a full-screen display is already open");
  if (fullScreen && !L.hasVidMode)
    return Fail("the X server at display %s has no video-mode extension (XFree86-VidModeExtension)",
                Name());
  if (!fullScreen && (width <= 0 || height <= 0))
    return Fail("a window of %dx%d pixels cannot be made", width, height);

  auto* visual = static_cast<XVisualInfo*>(GLDisplayChooseVisual(flags));
  if (!visual)
    return Fail("the X server at display %s offers no %sRGB visual for OpenGL (GLX)", Name(),
                flags & DISPLAY_BACK_BUFFER ? "double-buffered " : "");

  XF86VidModeModeInfo saved;
  XF86VidModeModeInfo** modes = nullptr;
  XF86VidModeModeInfo* mode = nullptr;
  if (fullScreen) {
    int count = 0;
    if (SaveVideoMode(&saved) && XF86VidModeGetAllModeLines(L.display, L.screen, &count, &modes))
      mode = modes ? FindMode(modes, count, width, height, hertz) : nullptr;
    if (!mode) {
      if (modes) XFree(modes);
      XFree(visual);
      return Fail("the X server at display %s offers no %dx%d video mode", Name(), width, height);
    }
    width = mode->hdisplay;
    height = mode->vdisplay;
  }

  const Window root = RootWindow(L.display, L.screen);
  XSetWindowAttributes attributes;
  memset(&attributes, 0, sizeof attributes);
  attributes.border_pixel = 0;
  unsigned long mask = CWBorderPixel | CWEventMask | CWColormap;
  if (fullScreen) {
    mask |= CWOverrideRedirect;
    attributes.override_redirect = True;
    attributes.event_mask = kFullScreenEvents;
  } else {
    attributes.event_mask = kWindowedEvents;
  }

  X11ErrorTrap trap;
  const Colormap colormap = XCreateColormap(L.display, root, visual->visual, AllocNone);
  attributes.colormap = colormap;
  if (fullScreen) {
    XF86VidModeSwitchToMode(L.display, L.screen, mode);
    XF86VidModeSetViewPort(L.display, L.screen, 0, 0);
  }
  const Window window = XCreateWindow(L.display, root, 0, 0, width, height, 0, visual->depth,
                                      InputOutput, visual->visual, mask, &attributes);
  GLXContext glx = glXCreateContext(L.display, visual, shareList, True);
  const bool ok = trap.Finish() == 0 && glx;
  XFree(visual);
  GLDisplayContext* c = ok ? NewRecord(fullScreen ? GLDISPLAY_FULLSCREEN : GLDISPLAY_WINDOWED,
                                       flags)
                           : nullptr;
  if (!c) {
    X11ErrorTrap cleanup;
    if (glx) glXDestroyContext(L.display, glx);
    if (window) XDestroyWindow(L.display, window);
    if (colormap) XFreeColormap(L.display, colormap);
    if (fullScreen) {
      L.savedVideoMode = saved;
      RestoreVideoMode();
      XFree(modes);
    }
    return Fail("GLX could not make an OpenGL context and its window at display %s", Name());
  }
  c->width = width;
  c->height = height;
  c->depth = 24;
  c->hertz = hertz;
  c->window = window;
  c->glxContext = glx;
  c->colormap = colormap;
  if (fullScreen) {
    L.fullScreen = c;
    L.modeList = modes;
    L.selectedMode = mode;
    L.savedVideoMode = saved;
  }
  if (!makingShared) {
    if (!fullScreen) X11DescribeWindow(window, width, height);
    if (!ShowWindow(window, glx, fullScreen)) {
      GLDisplayClose(c);  // the mode goes back with the window
      return Fail(
          "another program holds the keyboard at display %s (a menu, a screen locker or "
          "another full-screen program)",
          Name());
    }
    // Creation binds the new context for the map; selection decides what
    // is current, so the binding the layer reports is put back.
    if (L.current) MakeCurrent(L.current);
  }
  X11Poll();
  return c;
}

GLDisplayContext* GLDisplayAttach(unsigned long window, Int flags) {
  GLDisplayContext* c = NewRecord(GLDISPLAY_ATTACHED, flags);
  if (c) c->window = window;
  return c;
}

void GLDisplaySelect(GLDisplayContext* c) {
  if (!c || GLDisplayInit() != 0) return;
  if (c->kind == GLDISPLAY_ATTACHED) {
    if (!RefreshGeometry(c)) return;
    if (!c->glxContext && !MakeAttachedContext(c)) return;
  }
  // A made context that has been released has nothing left to bind.
  if (!c->glxContext) return;
  if (c != L.current) {
    MakeCurrent(c);
    L.lastSelected = c;
  }
}

void GLDisplayFlip(Int sync) {
  GLDisplayContext* c = L.current;
  if (!c || !Connected()) return;
  const Int s = sync != 0 ? 1 : 0;
  if (s != c->swapState) {
    c->swapState = s;
    ++L.swapRequests;
    L.lastSwapInterval = s;
    c->swapInForce = RequestSwapInterval(c, s);
  }
  glXSwapBuffers(L.display, c->window);
  X11Poll();
}

void GLDisplayStartQueuedWork() {
  if (L.current && Connected()) glFlush();
}

void GLDisplayQuerySettings(GLDisplayContext* c, Int* width, Int* height, Int* depth, Int* hertz,
                            Int* flags) {
  if (!c) {
    *width = *height = *depth = *hertz = *flags = 0;
    return;
  }
  if (c->kind == GLDISPLAY_ATTACHED && GLDisplayInit() == 0) RefreshGeometry(c);
  *width = c->width;
  *height = c->height;
  *depth = c->depth;
  *hertz = c->hertz;
  *flags = c->flags;
}

void GLDisplayToggleShared() {
  if (L.fullScreen || GLDisplayInit() != 0) return;
  if (L.current && L.current == L.shared) {
    // lastSelected is forgotten when it is closed: then nothing is bound,
    // as before the first toggle.
    MakeCurrent(L.lastSelected);
  } else if (EnsureShared()) {
    MakeCurrent(L.shared);
  }
}

void GLDisplayClose(GLDisplayContext* c) {
  if (!c) return;
  ReleaseContext(c);
  free(c);
}

void GLDisplayShutdown() {
  // Records owned by graphics objects are emptied, not freed: their owners
  // may still close them. The shared context belongs to the layer.
  GLDisplayContext* current = L.current;
  if (current && current != L.shared) ReleaseContext(current);
  // The full-screen context holds the video mode even when it is not current.
  if (L.fullScreen) ReleaseContext(L.fullScreen);
  if (L.shared) GLDisplayClose(L.shared);
  L.current = nullptr;
  L.lastSelected = nullptr;
  L.shared = nullptr;
}

const char* GLDisplayFailureReason() { return L.failure; }
GLDisplayContext* GLDisplayCurrent() { return L.current; }
GLDisplayContext* GLDisplaySharedContext() { return L.shared; }
GLDisplayContext* GLDisplayLastSelected() { return L.lastSelected; }
bool GLDisplayFullScreenActive() { return L.fullScreen != nullptr; }
bool GLDisplayHasSwapControl() { return L.swap.Any(); }
Int GLDisplaySwapIntervalInForce() { return L.current ? L.current->swapInForce : -1; }
bool GLDisplayHasVideoModes() { return GLDisplayInit() == 0 && L.hasVidMode; }
Int GLDisplaySwapIntervalRequests() { return L.swapRequests; }
Int GLDisplayLastSwapInterval() { return L.initialised ? L.lastSwapInterval : -1; }
