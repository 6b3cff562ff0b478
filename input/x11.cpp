// The X11 layer: the one display connection of the process and everything
// that reads from it or acts on the pointer. All of its state is in one
// struct below. Every call into Xlib goes through X11Display(), which gives
// null when no display could be opened and after the connection was lost,
// so at-exit routines that run after a lost server never touch the dead
// connection.
#include "input/x11.h"

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "input/event.h"
#include "runtime/module.h"
#include "runtime/time.h"

namespace {

constexpr int kSignalSlots = 65;       // signal numbers 1 .. 64
constexpr int kLookupBufferSize = 15;  // bytes XLookupString may give per key

// The first X protocol error that no layer trapped, kept from Xlib's error
// handler until the next safe point reports it.
struct UntrappedError {
  bool seen = false;
  int code = 0;
  int major = 0;
  int minor = 0;
  unsigned long resource = 0;
};

struct X11State {
  Display* display = nullptr;
  bool initialised = false;
  volatile sig_atomic_t connectionLost = 0;  // set inside Xlib's I/O error handler
  UntrappedError untrapped;
  Window eventWindow = 0;
  Cursor blankCursor = 0;
  Int (*filter)(XEvent* event) = nullptr;
  void (*signalHandlers[kSignalSlots])(Int signal) = {};
  int fd = -1;
  char name[256] = "";  // kept for messages written after the connection is gone
  Atom protocols = 0, deleteWindow = 0;
};

X11State x11;

// The one line for a lost connection, written with write(2) alone: it is
// also written from the fault handler (see ConnectionDeadAtFault).
void WriteConnectionLost() {
  char line[sizeof x11.name + 64];
  const int n = snprintf(line, sizeof line, "lifesim: lost the connection to the X server %s\n",
                         x11.name[0] ? x11.name : "(unnamed display)");
  if (n > 0) {
    ssize_t ignored = write(
        STDERR_FILENO, line,
        static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);
    (void)ignored;
  }
}

// Xlib calls this when the connection breaks (server killed, or this client
// killed by the server). It must not return: Xlib would exit on its own,
// without a word of why.
int OnConnectionLost(Display*) {
  x11.connectionLost = 1;
  fflush(stderr);
  WriteConnectionLost();
  kxExitProcess(1);
}

// GLX reads the connection through XCB too, where Xlib's handler above never
// runs: a server that dies during start-up can make the GL library fault on
// the dead connection. A fault on the main thread while the server has
// closed its end of the socket is that, and ends as a lost connection.
// Runs inside the fault handler: poll and write only.
bool ConnectionDeadAtFault() {
  if (!x11.display || !kxOnMainThread()) return false;
  pollfd fd{x11.fd, POLLIN | POLLRDHUP, 0};
  if (poll(&fd, 1, 0) != 1 || !(fd.revents & (POLLHUP | POLLRDHUP | POLLERR))) return false;
  x11.connectionLost = 1;
  WriteConnectionLost();
  return true;
}

void NothingAtExit() {}

// Xlib's own default would print and exit from inside Xlib, where no
// request (the video mode's restore among them) can be made any more. The
// error is only recorded here; X11Poll and X11Wait end the program.
int OnUntrappedError(Display*, XErrorEvent* event) {
  UntrappedError& e = x11.untrapped;
  if (e.seen) return 0;
  e.seen = true;
  e.code = event->error_code;
  e.major = event->request_code;
  e.minor = event->minor_code;
  e.resource = event->resourceid;
  return 0;
}

// "X_CreateWindow" for core requests; for an extension's, its name and the
// minor code's entry in the error database ("X_GLXSwapBuffers"), or both
// numbers when the database does not know it.
void RequestName(Display* display, int major, int minor, char* out, int size) {
  char number[32];
  snprintf(out, static_cast<size_t>(size), "request %d", major);
  if (major < 128) {
    snprintf(number, sizeof number, "%d", major);
    XGetErrorDatabaseText(display, "XRequest", number, out, out, size);
    return;
  }
  int count = 0;
  char** names = XListExtensions(display, &count);
  for (int i = 0; names && i < count; ++i) {
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(display, names[i], &opcode, &event, &error) || opcode != major) continue;
    char key[128], fallback[160];
    snprintf(key, sizeof key, "%s.%d", names[i], minor);
    snprintf(fallback, sizeof fallback, "%s request %d", names[i], minor);
    XGetErrorDatabaseText(display, "XRequest", key, fallback, out, size);
    break;
  }
  if (names) XFreeExtensionList(names);
}

// Runs outside Xlib, where requests can still be made: one line naming the
// error and the request, then the normal exit, whose at-exit routines
// restore the video mode.
void ReportUntrappedError() {
  Display* display = X11Display();
  if (!x11.untrapped.seen || !display || kxExitUnderWay() || !kxOnMainThread()) return;
  const UntrappedError e = x11.untrapped;
  char error[160], request[160];
  XGetErrorText(display, e.code, error, sizeof error);
  RequestName(display, e.major, e.minor, request, sizeof request);
  fprintf(stderr, "lifesim: X protocol error %s in %s (resource 0x%lx) at display %s\n", error,
          request, e.resource, DisplayString(display));
  fflush(stderr);
  kxExitProcess(1);
}

// --- error trap ------------------------------------------------------------
// One for every layer that makes requests which may fail harmlessly: the
// first error is kept, the rest are dropped. Traps nest: an inner trap
// starts from no error and gives the outer one's back when it ends.
int trappedError = 0;
int TrapError(Display*, XErrorEvent* event) {
  if (!trappedError) trappedError = event->error_code ? event->error_code : -1;
  return 0;
}

}  // namespace

X11ErrorTrap::X11ErrorTrap() : outer_(trappedError) {
  if (Display* display = X11Display()) XSync(display, False);
  trappedError = 0;
  previous_ = reinterpret_cast<void*>(XSetErrorHandler(&TrapError));
}

X11ErrorTrap::~X11ErrorTrap() {
  if (!finished_) Finish();
}

int X11ErrorTrap::Finish() {
  if (finished_) return 0;
  finished_ = true;
  if (Display* display = X11Display()) XSync(display, False);
  XSetErrorHandler(reinterpret_cast<XErrorHandler>(previous_));
  const int error = trappedError;
  trappedError = outer_;
  return error;
}

namespace {

void RunDeferredSignal() {
  Int signal = PendingSignal;
  if (signal == 0) return;
  // Cleared before the handler runs, so a signal that comes in meanwhile is
  // kept for the next pump rather than wiped.
  PendingSignal = 0;
  if (signal > 0 && signal < kSignalSlots && x11.signalHandlers[signal])
    x11.signalHandlers[signal](signal);
}

// Sleeps up to one second: any signal ends it early (the runtime's 1 ms
// tick in practice), and so does input arriving on the X connection.
void SleepUntilInput(Display* display) {
  if (!display) {
    sleep(1);
    return;
  }
  pollfd fd{ConnectionNumber(display), POLLIN, 0};
  poll(&fd, 1, 1000);
}

Int ButtonData(unsigned int button) {
  Int n = static_cast<Int>(button);
  return n <= 1 ? n : 5 - n;
}

// Codes of keys whose keysym's low byte does not give the code directly.
struct KeyCodeTable {
  Int codes[256];
  constexpr KeyCodeTable() : codes() {
    for (int k = 0; k < 256; ++k) codes[k] = k;
    const Int pairs[][2] = {
        {0xE3, 162}, {0xE4, 163}, {0xE9, 164}, {0xEA, 165}, {0xE1, 160}, {0xE2, 161}, {0x7F, 144},
        {0x14, 145}, {0x9E, 96},  {0x9C, 97},  {0x99, 98},  {0x9B, 99},  {0x96, 100}, {0x9D, 101},
        {0x98, 102}, {0x95, 103}, {0x97, 104}, {0x9A, 105}, {0xEB, 91},  {0xEC, 92},  {0x50, 36},
        {0x55, 33},  {0xFF, 46},  {0x57, 35},  {0x56, 34},  {0x9F, 110}, {0x8D, 13},  {0xAB, 107},
        {0xAD, 109}, {0xAA, 106}, {0xAF, 111}, {0x60, 192}, {0x2D, 107}, {0x3D, 109}, {0x5B, 219},
        {0x5D, 221}, {0x5C, 226}, {0x3B, 186}, {0x27, 222}, {0x2C, 188}, {0x2E, 190}, {0x2F, 191},
    };
    for (const auto& p : pairs) codes[p[0]] = p[1];
  }
};

constexpr KeyCodeTable kKeyCodes;

// The unshifted characters of the US layout's main block, by key code from
// 10 (the key marked 1) to 61 (slash); 0 where the key is not a character.
// The main block has these key codes in both key code sets X servers use.
constexpr int kUsMainBlockFirst = 10;
constexpr char kUsMainBlock[] = "1234567890-=\0\0qwertyuiop[]\0\0asdfghjkl;'`\0\\zxcvbnm,./";

// Letters of scripts other than Latin: the legacy keysym blocks of Kana,
// Arabic, Cyrillic, Greek, Hebrew, Thai and Hangul, and Unicode keysyms
// from Greek on, except the Latin Extended Additional block.
bool IsNonLatinLetter(KeySym k) {
  if ((k >= 0x4a1 && k <= 0x7ff) || (k >= 0xcdf && k <= 0xeff)) return true;
  if (k < 0x1000000 || k > 0x110ffff) return false;
  const unsigned long cp = k - 0x1000000;
  return cp >= 0x370 && !(cp >= 0x1e00 && cp <= 0x1eff);
}

}  // namespace

void X11SystemInit() {
  if (x11.initialised) return;  // one connection for the process
  x11.initialised = true;
  kxRegisterAtExit(&NothingAtExit);
  XSetIOErrorHandler(&OnConnectionLost);
  XSetErrorHandler(&OnUntrappedError);
  snprintf(x11.name, sizeof x11.name, "%s", XDisplayName(nullptr));
  kxSetFaultFilter(&ConnectionDeadAtFault);
  x11.display = XOpenDisplay(nullptr);
  if (!x11.display) return;
  x11.fd = ConnectionNumber(x11.display);
  snprintf(x11.name, sizeof x11.name, "%s", DisplayString(x11.display));
}

const char* X11DisplayName() { return x11.name; }

Display* X11Display() { return x11.connectionLost ? nullptr : x11.display; }

bool X11ConnectionLost() { return x11.connectionLost != 0; }

void X11SetEventWindow(unsigned long window) { x11.eventWindow = window; }

unsigned long X11EventWindow() { return x11.eventWindow; }

unsigned long X11BlankCursor() { return x11.blankCursor; }

void X11Poll() {
  kxCheckSignals();
  Display* display = X11Display();
  if (!display) return;
  // XPending sends what is buffered before it reads, so the pump flushes
  // too; a separate XFlush would cost another two socket reads (Xlib over
  // XCB polls for input on every flush), doubling an empty KeyHit.
  X11PumpEvents();
  RunDeferredSignal();
  ReportUntrappedError();
}

void X11Wait() {
  kxCheckSignals();
  if (X11Display()) X11PumpEvents();
  if (PendingSignal == 0) SleepUntilInput(X11Display());
  kxCheckSignals();
  RunDeferredSignal();
  ReportUntrappedError();
}

void X11PumpEvents() {
  Display* display;
  while ((display = X11Display()) && XPending(display)) {
    XEvent event;
    XNextEvent(display, &event);
    X11TranslateEvent(&event);
  }
}

void X11TranslateEvent(XEvent* event) {
  if (!event) return;
  if (x11.filter && x11.filter(event)) return;
  switch (event->type) {
    case KeyPress: {
      if (!event->xkey.display || X11ConnectionLost()) return;
      char bytes[kLookupBufferSize + 1];
      KeySym keysym;
      int count = XLookupString(&event->xkey, bytes, kLookupBufferSize, &keysym, nullptr);
      for (int i = 0; i < count && i < kLookupBufferSize; ++i)
        EmitSystemEvent(EVENT_KEYCHAR, nullptr, static_cast<unsigned char>(bytes[i]), 0, 0, 0,
                        nullptr);
      EmitSystemEvent(EVENT_KEYDOWN, nullptr, X11KeyCode(event), 0, event->xkey.x, event->xkey.y,
                      nullptr);
      break;
    }
    case KeyRelease:
      if (!event->xkey.display || X11ConnectionLost()) return;
      EmitSystemEvent(EVENT_KEYUP, nullptr, X11KeyCode(event), 0, event->xkey.x, event->xkey.y,
                      nullptr);
      break;
    case ButtonPress: {
      const XButtonEvent& b = event->xbutton;
      if (b.button == Button4)
        EmitSystemEvent(EVENT_MOUSEWHEEL, nullptr, 1, 0, b.x, b.y, nullptr);
      else if (b.button == Button5)
        EmitSystemEvent(EVENT_MOUSEWHEEL, nullptr, -1, 0, b.x, b.y, nullptr);
      else
        EmitSystemEvent(EVENT_MOUSEDOWN, nullptr, ButtonData(b.button), 0, b.x, b.y, nullptr);
      break;
    }
    case ButtonRelease: {
      const XButtonEvent& b = event->xbutton;
      if (b.button == Button4 || b.button == Button5) break;
      EmitSystemEvent(EVENT_MOUSEUP, nullptr, ButtonData(b.button), 0, b.x, b.y, nullptr);
      break;
    }
    case MotionNotify:
      EmitSystemEvent(EVENT_MOUSEMOVE, nullptr, 0, 0, event->xmotion.x, event->xmotion.y, nullptr);
      break;
    case ClientMessage:
      // The window manager's close button on a window this layer described:
      // the program ends as it does on Escape.
      if (x11.deleteWindow && event->xclient.message_type == x11.protocols &&
          static_cast<Atom>(event->xclient.data.l[0]) == x11.deleteWindow)
        kxEnd();
      break;
    default: break;  // focus, exposure and configuration say nothing here
  }
}

// The unshifted keysym decides, as the table says, for every key whose
// unshifted keysym is Latin. Two kinds of key on other layouts would give
// codes nobody asks for and miss the ones programs do:
//  - the number row of AZERTY layouts carries punctuation and accented
//    letters unshifted and the digits shifted: the digit's code;
//  - the letters of other scripts (Cyrillic, Greek ...): the code of the
//    Latin letter the key carries in the US layout.
Int X11KeyCode(XEvent* event) {
  if (!event || !event->xkey.display || X11ConnectionLost()) return 0;
  const KeySym unshifted = XLookupKeysym(&event->xkey, 0);
  if (unshifted < XK_0 || unshifted > XK_9) {
    const KeySym shifted = XLookupKeysym(&event->xkey, 1);
    if (shifted >= XK_0 && shifted <= XK_9) return static_cast<Int>(shifted);
  }
  if (IsNonLatinLetter(unshifted)) {
    const unsigned at = event->xkey.keycode - kUsMainBlockFirst;
    if (event->xkey.keycode >= kUsMainBlockFirst && at < sizeof kUsMainBlock - 1 &&
        kUsMainBlock[at] != 0)
      return X11KeyCodeFromKeysym(static_cast<unsigned char>(kUsMainBlock[at]));
  }
  return X11KeyCodeFromKeysym(unshifted);
}

Int X11KeyCodeFromKeysym(unsigned long keysym) {
  // Print, Insert and Menu share their low byte with a, c and g; told apart
  // by the whole keysym, so that they do not type letters.
  switch (keysym) {
    case XK_Print: return 42;
    case XK_Insert: return 45;
    case XK_Menu: return 93;
    default: break;
  }
  Int k = static_cast<Int>(keysym & 0xff);
  if (k >= 0x61 && k <= 0x7E) return k - 32;  // letters: upper case whatever the shift
  if (k >= 0x51 && k <= 0x54) return k - 44;  // arrows
  if (k >= 0xBE && k <= 0xC9) return k - 78;  // F1 .. F12
  return kKeyCodes.codes[k];
}

void X11SetPointerVisible(Int visible) {
  Display* display = X11Display();
  if (!display || !x11.eventWindow) return;
  X11ErrorTrap trap;
  if (visible) {
    XUndefineCursor(display, x11.eventWindow);
    return;
  }
  if (!x11.blankCursor) {
    // Drawn on the root window, which outlives any event window: a cursor
    // made from a stale window's bitmap would be invalid for the process.
    static const char kBlankBits[8] = {};
    Pixmap bitmap = XCreateBitmapFromData(display, DefaultRootWindow(display), kBlankBits, 8, 8);
    XColor black{};
    black.flags = DoRed | DoGreen | DoBlue;
    x11.blankCursor = XCreatePixmapCursor(display, bitmap, bitmap, &black, &black, 0, 0);
    XFreePixmap(display, bitmap);
  }
  XDefineCursor(display, x11.eventWindow, x11.blankCursor);
}

void X11WarpPointer(Int x, Int y) {
  Display* display = X11Display();
  if (!display) return;
  X11ErrorTrap trap;
  // With no event window yet the warp has no destination and moves the
  // pointer relative to where it is.
  XWarpPointer(display, None, x11.eventWindow, 0, 0, 0, 0, x, y);
}

void X11DescribeWindow(unsigned long window, Int width, Int height) {
  Display* display = X11Display();
  if (!display || !window) return;
  // The program's own name, as a desktop entry's StartupWMClass names it.
  char* name = program_invocation_short_name;
  XStoreName(display, window, name);
  XClassHint hint{name, name};
  XSetClassHint(display, window, &hint);
  XSizeHints size{};
  size.flags = PMinSize | PMaxSize;
  size.min_width = size.max_width = width;
  size.min_height = size.max_height = height;
  XSetWMNormalHints(display, window, &size);
  const long pid = getpid();
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
  x11.protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  x11.deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, window, &x11.deleteWindow, 1);
}

void X11SetEventFilter(Int (*filter)(XEvent* event)) { x11.filter = filter; }

void X11SetSignalHandler(Int signal, void (*handler)(Int signal)) {
  if (signal > 0 && signal < kSignalSlots) x11.signalHandlers[signal] = handler;
}

void EmitSystemEvent(Int id, Object* source, Int data, Int mods, Int x, Int y, Object* extra) {
  TEvent::NewEvent(id, source, data, mods, x, y, extra)->Dispatch();
}
