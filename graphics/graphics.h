// The device-independent graphics layer: display drivers, video modes, the
// default graphics object, Graphics / EndGraphics and Flip with its
// vertical-sync test and software pacing.
#pragma once

#include "runtime/array.h"
#include "runtime/kxstring.h"
#include "runtime/object.h"

enum : Int {
  DISPLAY_BACK_BUFFER = 2,
  DISPLAY_ALPHA_BUFFER = 4,
  DISPLAY_DEPTH_BUFFER = 8,
  DISPLAY_STENCIL_BUFFER = 16,
  DISPLAY_ACCUM_BUFFER = 32,
};

class TGraphicsMode : public Object {
  KX_CLASS(TGraphicsMode, Object)
 public:
  Int width = 0, height = 0, depth = 0, hertz = 0;
  String* AsText() override;  // "640,480,24 60Hz"
};

class TDisplayDriver;

class TGraphics : public Object {
  KX_CLASS(TGraphics, Object)
 public:
  virtual Object* PersistType();  // answers DisplayDriver()
  virtual TDisplayDriver* DisplayDriver();
  virtual void ReadSettings(Int* width, Int* height, Int* depth, Int* hertz, Int* flags);
  virtual void CloseDisplay();
};

// Abstract driver. The object-stream slots (type name, read, write) are not
// built; the order of the others is kept.
class TDisplayDriver : public Object {
  KX_CLASS(TDisplayDriver, Object)
 public:
  virtual Array* EnumerateModes();  // of TGraphicsMode
  virtual TGraphics* AttachToWidget(Object* widget, Int flags);
  virtual TGraphics* CreateDisplay(Int width, Int height, Int depth, Int hertz, Int flags);
  virtual void SelectDisplay(TGraphics* graphics);
  virtual void Present(Int sync);
};

extern Int GraphicsGeneration;
extern Int FlipHookId;

void UseDisplayDriver(TDisplayDriver* driver, Int flags);
TDisplayDriver* CurrentDisplayDriver();
Int DefaultDisplayFlags();
Array* ListGraphicsModes();
Int GraphicsModeCount();
void GraphicsModeAt(Int index, Int* width, Int* height, Int* depth, Int* hertz);
Int HasGraphicsMode(Int width, Int height, Int depth, Int hertz);
TGraphics* OpenGraphics(Int width, Int height, Int depth, Int hertz, Int flags);
TGraphics* AttachGraphicsTo(Object* widget, Int flags);
void CloseGraphicsObject(TGraphics* graphics);
void MakeGraphicsCurrent(TGraphics* graphics);
TGraphics* CurrentGraphics();
TGraphics* DefaultGraphics();
Int CurrentGraphicsWidth();
Int CurrentGraphicsHeight();
Int CurrentGraphicsDepth();
Int CurrentGraphicsHertz();
Int CurrentGraphicsFlags();
TGraphics* Graphics(Int width, Int height, Int depth, Int hertz, Int flags);
void EndGraphics();
void Flip(Int sync);
Int GraphicsSoftSync();  // 1 when Flip(-1) paces frames in software
// Where the display tells the swap interval in force for the current
// graphics (-1 unknown); installed by the display module. Software pacing
// asks it whether a swap made without sync still waits for the retrace.
void SetSwapIntervalReport(Int (*report)());
// 1 while software pacing finds that the display keeps vertical sync on.
Int GraphicsSyncKeptOn();
// The number of the vertical-sync test's flip being presented, from 1; 0
// outside the test. A driver may prepare there what a first frame would
// otherwise wait for, since the test waits anyway.
Int VerticalSyncTestFlip();
// Virtual time of software pacing in thousandths of a frame: grows by 1000
// per paced frame, restarts with each Graphics.
Long GraphicsFrameClock();

Int InitGraphicsModule();
