// The device-independent graphics layer: the current display driver and
// graphics object, the cached mode list, the default graphics object opened
// by Graphics and closed by EndGraphics, and Flip with its vertical-sync
// test and software frame pacing.
#include "graphics/graphics.h"

#include <cstdint>

#include "input/event.h"
#include "input/hooks.h"
#include "input/polled.h"
#include "input/system.h"
#include "runtime/error.h"
#include "runtime/module.h"
#include "runtime/time.h"

KX_CLASS_RECORD(TGraphicsMode)
KX_CLASS_RECORD(TGraphics, &TGraphics::PersistType, &TGraphics::DisplayDriver,
                &TGraphics::ReadSettings, &TGraphics::CloseDisplay)
KX_CLASS_RECORD(TDisplayDriver, &TDisplayDriver::EnumerateModes, &TDisplayDriver::AttachToWidget,
                &TDisplayDriver::CreateDisplay, &TDisplayDriver::SelectDisplay,
                &TDisplayDriver::Present)

namespace {

// A counted module variable without a static destructor: the layer's
// objects stay referenced until the process is gone, so nothing is released
// while the runtime is being torn down.
template <class T>
struct Held {
  T* p = nullptr;
  void Set(T* v) {
    kxRetain(v);  // new value first: v may be kept alive only by the old one
    T* old = p;
    p = v;
    kxRelease(old);
  }
};

// One second of flips decides whether the display's swaps follow the
// retrace; three consecutive flips within 1 ms of the frame period are
// taken as proof.
constexpr Int kSyncTestMillis = 1000;
constexpr Int kSyncRunNeeded = 3;

struct GraphicsLayer {
  Held<TDisplayDriver> driver;
  Int defaultFlags = 0;
  Held<Array> modeCache;
  Held<TGraphics> current;
  Int width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  Held<TGraphics> defaultGraphics;
  Int softSync = 0;
  // Thousandths of a frame. 64 bits, so that neither the clock nor the
  // resynchronisation product elapsed x hertz overflows on long runs.
  Long frameClock = 0;
  Int syncStart = 0;
  Int syncHertz = 0;
  Int syncTestFlip = 0;  // the vertical-sync test's flip under way, from 1
  Int (*swapIntervalReport)() = nullptr;
  // Software pacing on a display whose swaps wait for the retrace although
  // sync 0 was asked for (a driver or compositor that forces it).
  bool syncKeptOn = false;
  bool lastFrameOnTime = true;
  bool endRegistered = false;
};
GraphicsLayer G;

// Millisecond clock differences wrap with the clock.
Int MillisSince(Int start) {
  return static_cast<Int>(static_cast<uint32_t>(kxMilliSecs()) - static_cast<uint32_t>(start));
}

void ClearCurrentSettings() { G.width = G.height = G.depth = G.hertz = G.flags = 0; }

void BumpGeneration() {
  uint32_t next = static_cast<uint32_t>(GraphicsGeneration) + 1u;
  GraphicsGeneration = next == 0 ? 1 : static_cast<Int>(next);
}

void ReleaseCurrentSelection() {
  if (G.driver.p && G.current.p) G.driver.p->SelectDisplay(nullptr);
}

// Switching drivers drops the old driver's selection and its mode list.
void SwitchDriver(TDisplayDriver* driver) {
  ReleaseCurrentSelection();
  G.modeCache.Set(nullptr);
  G.driver.Set(driver);
}

void Present(Int sync) {
  if (G.driver.p) G.driver.p->Present(sync);
}

// Flips until three in a row take one frame period; anything else within
// the second keeps software pacing on.
Int TestVerticalSync(Int hertz) {
  const Int deadline = static_cast<Int>(static_cast<uint32_t>(kxMilliSecs()) + kSyncTestMillis);
  const Int period = 1000 / hertz;
  Int run = 0;
  Int synced = 1;
  while (MillisSince(deadline) < 0) {
    const Int t0 = kxMilliSecs();
    ++G.syncTestFlip;
    Present(1);
    const Int diff = MillisSince(t0) - period;
    if (diff >= -1 && diff <= 1) {
      if (++run == kSyncRunNeeded) {
        synced = 0;
        break;
      }
    } else {
      run = 0;
    }
  }
  G.syncTestFlip = 0;
  return synced;
}

// Paces one frame of Flip(-1) in software: frames are due every 1/hertz s
// from the opening. On time, it waits until due. Late, it restarts the
// schedule from now, as a program that draws slower than the rate needs.
//
// Where sync cannot be turned off, every swap still waits for the next
// retrace, and at a rate other than the pacing rate that wait makes frames
// late that were drawn on time. A frame late by less than a period is then
// presented at once and the schedule kept; one late by up to two periods
// after a frame that was on time is not presented at all (the display is
// slower than the schedule: one retrace more would be lost), and the
// schedule kept. So generations keep the pacing rate on displays slower
// and faster than it, and a program that draws slowly restarts as before.
void PaceFrame() {
  const Int elapsed = MillisSince(G.syncStart);
  G.frameClock += 1000;
  const Long wait = G.frameClock / G.syncHertz - elapsed;
  const Long period = 1000 / G.syncHertz;
  bool present = true;
  if (wait > 0 && wait < 1000) {
    kxDelay(static_cast<Int>(wait));
    G.lastFrameOnTime = true;
  } else if (G.syncKeptOn && -wait < period) {
    G.lastFrameOnTime = true;
  } else if (G.syncKeptOn && -wait < 2 * period && G.lastFrameOnTime) {
    present = false;
    G.lastFrameOnTime = false;
  } else {
    G.frameClock = static_cast<Long>(elapsed) * G.syncHertz;
    G.lastFrameOnTime = true;
  }
  if (!present) {
    PumpSystemEvents();  // what the swap would have done besides
    return;
  }
  Present(0);
  G.syncKeptOn = G.swapIntervalReport && G.swapIntervalReport() > 0;
}

}  // namespace

Int GraphicsGeneration = 1;
Int FlipHookId = 0;

String* TGraphicsMode::AsText() {
  String* s = kxStringFromInt(width);
  s = kxStringConcat(s, KX_STR(","));
  s = kxStringConcat(s, kxStringFromInt(height));
  s = kxStringConcat(s, KX_STR(","));
  s = kxStringConcat(s, kxStringFromInt(depth));
  s = kxStringConcat(s, KX_STR(" "));
  s = kxStringConcat(s, kxStringFromInt(hertz));
  return kxStringConcat(s, KX_STR("Hz"));
}

Object* TGraphics::PersistType() { return DisplayDriver(); }
TDisplayDriver* TGraphics::DisplayDriver() { kxRaiseAbstractCall(); }
void TGraphics::ReadSettings(Int*, Int*, Int*, Int*, Int*) { kxRaiseAbstractCall(); }
void TGraphics::CloseDisplay() { kxRaiseAbstractCall(); }

Array* TDisplayDriver::EnumerateModes() { kxRaiseAbstractCall(); }
TGraphics* TDisplayDriver::AttachToWidget(Object*, Int) { kxRaiseAbstractCall(); }
TGraphics* TDisplayDriver::CreateDisplay(Int, Int, Int, Int, Int) { kxRaiseAbstractCall(); }
void TDisplayDriver::SelectDisplay(TGraphics*) { kxRaiseAbstractCall(); }
void TDisplayDriver::Present(Int) { kxRaiseAbstractCall(); }

void UseDisplayDriver(TDisplayDriver* driver, Int flags) {
  if (driver != G.driver.p) SwitchDriver(driver);
  G.defaultFlags = flags;
  // Also when the driver stays: the caller starts from no selection.
  G.current.Set(nullptr);
  ClearCurrentSettings();
}

TDisplayDriver* CurrentDisplayDriver() { return G.driver.p; }
Int DefaultDisplayFlags() { return G.defaultFlags; }

Array* ListGraphicsModes() {
  if ((!G.modeCache.p || G.modeCache.p->Length() == 0) && G.driver.p) {
    G.modeCache.Set(G.driver.p->EnumerateModes());
  }
  Array* cache = G.modeCache.p;
  const Int n = cache ? cache->Length() : 0;
  Array* copy = kxArrayNew(":TGraphicsMode", 1, n);
  for (Int i = 0; i < n; ++i) kxArraySetRef(copy, i, G.modeCache.p->RefElements()[i]);
  return copy;
}

Int GraphicsModeCount() { return ListGraphicsModes()->Length(); }

void GraphicsModeAt(Int index, Int* width, Int* height, Int* depth, Int* hertz) {
  Array* modes = ListGraphicsModes();
  if (index < 0 || index >= modes->Length()) kxRaiseIndexRange();
  auto* m = static_cast<TGraphicsMode*>(modes->RefElements()[index]);
  if (!m) kxRaiseNullAccess();
  *width = m->width;
  *height = m->height;
  *depth = m->depth;
  *hertz = m->hertz;
}

Int HasGraphicsMode(Int width, Int height, Int depth, Int hertz) {
  Array* modes = ListGraphicsModes();
  for (Int i = 0; i < modes->Length(); ++i) {
    auto* m = static_cast<TGraphicsMode*>(modes->RefElements()[i]);
    if (!m) continue;
    if ((width == 0 || m->width == width) && (height == 0 || m->height == height) &&
        (depth == 0 || m->depth == depth) && (hertz == 0 || m->hertz == hertz)) {
      return 1;
    }
  }
  return 0;
}

TGraphics* OpenGraphics(Int width, Int height, Int depth, Int hertz, Int flags) {
  if (!G.driver.p) return nullptr;
  TGraphics* g = nullptr;
  try {
    KxTry region;
    g = G.driver.p->CreateDisplay(width, height, depth, hertz, flags | G.defaultFlags);
  } catch (const KxThrown&) {
    g = nullptr;
  }
  return g;
}

TGraphics* AttachGraphicsTo(Object* widget, Int flags) {
  if (!G.driver.p) return nullptr;
  TGraphics* g = nullptr;
  try {
    KxTry region;
    g = G.driver.p->AttachToWidget(widget, flags | G.defaultFlags);
  } catch (const KxThrown&) {
    g = nullptr;
  }
  return g;
}

void MakeGraphicsCurrent(TGraphics* graphics) {
  if (!graphics) {
    ReleaseCurrentSelection();
    G.current.Set(nullptr);
    ClearCurrentSettings();
    return;
  }
  TDisplayDriver* d = graphics->DisplayDriver();
  if (d != G.driver.p) SwitchDriver(d);
  graphics->ReadSettings(&G.width, &G.height, &G.depth, &G.hertz, &G.flags);
  d->SelectDisplay(graphics);
  G.current.Set(graphics);
}

void CloseGraphicsObject(TGraphics* graphics) {
  if (!graphics) return;
  Ref<TGraphics> keep(graphics);  // the layer may hold the last reference
  if (graphics == G.defaultGraphics.p) G.defaultGraphics.Set(nullptr);
  if (graphics == G.current.p) MakeGraphicsCurrent(nullptr);
  graphics->CloseDisplay();
}

TGraphics* CurrentGraphics() { return G.current.p; }
TGraphics* DefaultGraphics() { return G.defaultGraphics.p; }
Int CurrentGraphicsWidth() { return G.width; }
Int CurrentGraphicsHeight() { return G.height; }
Int CurrentGraphicsDepth() { return G.depth; }
Int CurrentGraphicsHertz() { return G.hertz; }
Int CurrentGraphicsFlags() { return G.flags; }
Int GraphicsSoftSync() { return G.softSync; }
void SetSwapIntervalReport(Int (*report)()) { G.swapIntervalReport = report; }
Int GraphicsSyncKeptOn() { return G.syncKeptOn ? 1 : 0; }
Int VerticalSyncTestFlip() { return G.syncTestFlip; }
Long GraphicsFrameClock() { return G.frameClock; }

TGraphics* Graphics(Int width, Int height, Int depth, Int hertz, Int flags) {
  // A request that came during start-up (or during a failed open before a
  // fallback) ends the program here, before anything is switched.
  kxCheckSignals();
  EndGraphics();
  TGraphics* g = OpenGraphics(width, height, depth, hertz, flags | G.defaultFlags);
  if (!g) return nullptr;
  BumpGeneration();
  MakeGraphicsCurrent(g);

  G.softSync = 1;
  if (hertz == 0) {
    G.softSync = 0;
  } else if (depth != 0) {
    G.softSync = TestVerticalSync(hertz);
  }
  G.syncHertz = hertz;
  G.syncStart = kxMilliSecs();
  // Frames of this display are due from its opening on; a clock left over
  // from an earlier display would hold the first frame back by up to 1 s.
  G.frameClock = 0;
  G.syncKeptOn = false;
  G.lastFrameOnTime = true;

  G.defaultGraphics.Set(g);
  StartPolledInput(nullptr);
  SetPointerPosition(width / 2, height / 2);
  if (!G.endRegistered) {
    G.endRegistered = true;
    kxRegisterAtExit(EndGraphics);
  }
  return g;
}

void EndGraphics() {
  if (!G.defaultGraphics.p) return;
  BumpGeneration();
  StopPolledInput();
  CloseGraphicsObject(G.defaultGraphics.p);
}

void Flip(Int sync) {
  // A terminating signal is reported here, at a frame boundary, so the
  // at-exit routines restore the video mode from a consistent state.
  kxCheckSignals();
  CallHooks(FlipHookId, nullptr);
  if (sync != -1) {
    Present(sync);
    return;
  }
  if (G.current.p != G.defaultGraphics.p || G.softSync == 0 || G.syncHertz == 0) {
    Present(1);
    return;
  }
  PaceFrame();
}

Int InitGraphicsModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  InitHooksModule();
  InitSystemModule();
  InitEventQueueModule();  // keeps what the event hook carries, from start-up on
  InitPolledInputModule();
  FlipHookId = NewHookId();
  return 0;
}
