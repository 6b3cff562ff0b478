// The simulator's main module body: start-up, the frame loop and the end.
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "app/life.h"
#include "audio/audio.h"
#include "graphics/gldisplay.h"
#include "graphics/gldisplay_layer.h"
#include "graphics/graphics.h"
#include "input/hooks.h"
#include "input/polled.h"
#include "input/system.h"
#include "input/x11.h"
#include "random/random.h"
#include "render2d/font.h"
#include "render2d/gl2d.h"
#include "render2d/render2d.h"
#include "runtime/module.h"
#include "runtime/object.h"
#include "runtime/time.h"

namespace {

constexpr Int kKeyEscape = 27, kKeySpace = 32, kKeyOne = 49, kKeyTwo = 50, kKeyS = 83;

// The display layer records why an open failed where it failed; this only
// words the line around it. With no server at all, the window is tried
// anyway, but the line does not promise it.
// A creation that failed for want of memory (the GL library's own
// allocations, which the display layer cannot see) ends with the memory line.
void ReportFullScreenFailure() {
  if (kxMemoryExhausted()) kxOutOfMemory(0);
  const char* why = GLDisplayFailureReason();
  if (!*why) why = "OpenGL (GLX) could not start a 640x480 display";
  fprintf(stderr, "lifesim: cannot open full screen: %s%s\n", why,
          X11Display() ? "; opening a window instead" : "");
  fflush(stderr);
}

[[noreturn]] void ReportWindowFailure() {
  if (kxMemoryExhausted()) kxOutOfMemory(0);
  const char* why = GLDisplayFailureReason();
  if (!*why) why = "OpenGL (GLX) is not available";
  fprintf(stderr, "lifesim: cannot open a 640x480 window either: %s\n", why);
  fflush(stderr);
  kxExitProcess(1);
}

// Full screen 640x480 at 60 Hz; a window of the same size when the screen
// cannot be switched; the end of the program when neither opens.
void OpenDisplay() {
  if (Graphics(640, 480, 32, 60, 0)) return;
  ReportFullScreenFailure();
  if (Graphics(640, 480, 0, 60, 0)) return;
  ReportWindowFailure();
}

// LIFESIM_DEBUG_MEMORY=N prints the resident memory and the runtime's bytes
// in use every N frames on standard error (for endurance runs).
Long debugMemoryEvery = 0;

void ReportMemory(Long frame) {
  long pages = 0, resident = 0;
  if (FILE* f = fopen("/proc/self/statm", "r")) {
    if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    fclose(f);
  }
  fprintf(stderr, "lifesim-memory frame=%lld rss_kb=%ld bytes_in_use=%d\n",
          static_cast<long long>(frame), resident * (sysconf(_SC_PAGESIZE) / 1024), kxBytesInUse());
  fflush(stderr);
}

String* StatusLine330() {
  String* line = kxStringConcat(KX_STR("Mode de rendu : "), kxStringFromInt(iModeRendu));
  line = kxStringConcat(line, KX_STR(" -- Generation number "));
  return kxStringConcat(line, kxStringFromLong(iComptBoucles));
}

}  // namespace

void InitImportedModules() {
  InitRuntimeModule();
  InitRandomModule();  // part of the core's services; only runs the core's routine
  InitHooksModule();
  InitGLRender2DModule();  // graphics, 2D, images, fonts, pixmaps, system, polled input
  // The remaining imports have no module in this program (loaders,
  // toolkits, networking, other platforms' drivers), or are the application
  // stub, which is the caller of this body.
  InitAudioModule();
}

void RunFrame() {
  kxWriteStdout(KX_STR("      <MAIN LOOP TOP OK>      "));
  if (KeyHit(kKeySpace)) {
    iComptBoucles = 0;
    initSim();
  }
  if (KeyHit(kKeyOne))
    iModeRendu = 1;
  else if (KeyHit(kKeyTwo))
    iModeRendu = 2;
  if (KeyHit(kKeyS)) bVitesseSimulationMaximale = bVitesseSimulationMaximale == 1 ? 0 : 1;

  StepGeneration();
  CopyBack();
  kxLongAdd(&iComptBoucles, iComptBoucles, 1);

  Cls();
  afficherTexte(KX_STR("== Version 1.1.1 - 05/08/2007 =="), KX_STR("blanc"), 1, 10, 270);
  afficherTexte(KX_STR("This life simulator uses John Horton Conway's algorithm."), KX_STR("blanc"),
                1, 10, 290);
  afficherTexte(KX_STR("[ESC] to quit - [SPACE] to restart"), KX_STR("blanc"), 1, 10, 310);
  afficherTexte(StatusLine330(), KX_STR("blanc"), 1, 10, 330);
  demarrerRendu(iModeRendu);
  if (bVitesseSimulationMaximale == 1) {
    kxDelay(5);
    afficherTexte(KX_STR("Simulation speed : MAX"), KX_STR("blanc"), 1, 10, 350);
  } else {
    kxDelay(50);
    afficherTexte(KX_STR("Simulation speed : NORMAL"), KX_STR("blanc"), 1, 10, 350);
  }
  Flip(-1);
  kxWriteStdout(KX_STR("      <MAIN LOOP BOTTOM OK>      "));
}

extern "C" Int _kx_main() {
  KX_MODULE_ONCE();
  InitImportedModules();
  if (const char* every = getenv("LIFESIM_DEBUG_MEMORY")) debugMemoryEvery = atoll(every);

  OpenDisplay();
  HideMouse();
  SetBlend(BLEND_TRANSLUCENT);
  SetAlpha(1.0f);
  CreateGrids();
  kxWriteStdout(KX_STR("      <VAR OK>      "));
  initSim();

  Long frame = 0;
  while (!KeyHit(kKeyEscape)) {
    RunFrame();
    ++frame;
    if (debugMemoryEvery > 0 && frame % debugMemoryEvery == 0) ReportMemory(frame);
  }
  ShowMouse();
  EndGraphics();
  kxEnd();
  return 0;
}
