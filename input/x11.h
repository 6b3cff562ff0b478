// The X11 layer under the system driver: the display connection (opened
// once, kept for the process), event pumping and translation into TEvents,
// key codes, pointer visibility and warping, the raw event filter and the
// deferred signal handlers. Xlib types stay out of this header.
#pragma once

#include "runtime/object.h"

struct _XDisplay;  // Xlib's Display
union _XEvent;     // Xlib's XEvent

void X11SystemInit();
struct _XDisplay* X11Display();  // null when no display could be opened
// True once the connection has failed (server gone): nothing may call into it.
bool X11ConnectionLost();
void X11SetEventWindow(unsigned long window);
unsigned long X11EventWindow();
// The cursor HideMouse shows (made on first use, kept), or 0 before that.
unsigned long X11BlankCursor();
void X11Poll();
void X11Wait();
// Reads every pending event.
void X11PumpEvents();
void X11TranslateEvent(union _XEvent* event);
Int X11KeyCode(union _XEvent* event);
Int X11KeyCodeFromKeysym(unsigned long keysym);
void X11SetPointerVisible(Int visible);
void X11WarpPointer(Int x, Int y);
// The display name the connection was opened with ("" when none was).
const char* X11DisplayName();
// Marks a window made by another layer as a top-level window of this
// program for the window manager: title, class, process id, a fixed size
// and the close button (WM_DELETE_WINDOW), which ends the program as
// Escape does.
void X11DescribeWindow(unsigned long window, Int width, Int height);

// Runs the X requests made while it lives under a handler that records
// their first error instead of ending the program. Earlier requests are
// synchronised first, so their errors still reach the usual handler.
// Nothing is synchronised once the connection is lost.
class X11ErrorTrap {
 public:
  X11ErrorTrap();
  ~X11ErrorTrap();
  // Synchronises and ends the trap: the first error's code, 0 for none.
  int Finish();
  X11ErrorTrap(const X11ErrorTrap&) = delete;
  X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

 private:
  void* previous_;  // Xlib's XErrorHandler
  int outer_;       // the error an enclosing trap had recorded
  bool finished_ = false;
};

void X11SetEventFilter(Int (*filter)(union _XEvent* event));
void X11SetSignalHandler(Int signal, void (*handler)(Int signal));
void EmitSystemEvent(Int id, Object* source, Int data, Int mods, Int x, Int y, Object* extra);
