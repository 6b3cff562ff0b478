// The GL display layer: GLX contexts with their X windows, video-mode
// switching and the hidden shared context, as plain functions over the X
// connection that the system layer owns. Internal to graphics/; no Xlib or
// GLX type reaches this header (windows are unsigned long, GLX contexts and
// visuals opaque pointers).
#pragma once

#include "runtime/object.h"

enum : Int {
  GLDISPLAY_ATTACHED = 1,
  GLDISPLAY_WINDOWED = 2,
  GLDISPLAY_FULLSCREEN = 3,
};

// One GLX context and its window; heap memory owned by the layer, freed by
// GLDisplayClose.
struct GLDisplayContext {
  Int kind;
  Int width, height;
  Int depth;  // 24 for made contexts, 0 for attached ones
  Int hertz;  // as requested, whatever rate the chosen mode has
  Int flags;
  Int swapState;    // swap interval last requested: -1 never, 0 or 1
  Int swapInForce;  // the interval the display keeps: -1 unknown (no swap control)
  unsigned long window;
  void* glxContext;        // GLXContext; null until made
  unsigned long colormap;  // made with the window, freed with it
};

Int GLDisplayInit();
Int GLDisplayListModes(Int* room, Int max);
// Refresh rate of a mode line: dot clock in kHz as the video-mode extension
// reports it, totals, and the mode flags (interlace doubles, double scan
// halves).
Int GLDisplayRefreshRate(Int dotclock, Int htotal, Int vtotal, Int modeFlags);
// An XVisualInfo* from glXChooseVisual, or null; release with
// GLDisplayFreeVisual.
void* GLDisplayChooseVisual(Int flags);
void GLDisplayFreeVisual(void* visual);
GLDisplayContext* GLDisplayCreate(Int width, Int height, Int depth, Int hertz, Int flags);
GLDisplayContext* GLDisplayAttach(unsigned long window, Int flags);
void GLDisplaySelect(GLDisplayContext* context);
void GLDisplayFlip(Int sync);
// Hands the drawing queued for the current context to the rasteriser
// (glFlush) without waiting for it; installed as the runtime's delay-start
// hook, so a frame's rasterising overlaps the waits before its swap.
void GLDisplayStartQueuedWork();
void GLDisplayQuerySettings(GLDisplayContext* context, Int* width, Int* height, Int* depth,
                            Int* hertz, Int* flags);
void GLDisplayToggleShared();
void GLDisplayClose(GLDisplayContext* context);
void GLDisplayShutdown();
// Why the last GLDisplayInit or GLDisplayCreate failed, in words that name
// the display ("" when nothing failed since the last creation began).
const char* GLDisplayFailureReason();

// Observation points for tests and diagnostics.
GLDisplayContext* GLDisplayCurrent();
GLDisplayContext* GLDisplaySharedContext();
GLDisplayContext* GLDisplayLastSelected();
bool GLDisplayFullScreenActive();
bool GLDisplayHasSwapControl();
// Swap-interval changes requested by GLDisplayFlip (counted whether or not
// the server offers swap control), and the last value requested (-1 none).
Int GLDisplaySwapIntervalRequests();
Int GLDisplayLastSwapInterval();
// The swap interval in force on the current context's drawable, as the
// swap-control extension answered the last request; -1 when unknown (no
// swap control, or nothing current). A display that cannot turn vertical
// sync off keeps 1 after a request for 0.
Int GLDisplaySwapIntervalInForce();
