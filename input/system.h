// The system driver: the current THostSystem and the functions that forward
// to it. TX11HostSystem over the X11 layer (input/x11.h) is made current at
// start-up.
#pragma once

#include "runtime/kxstring.h"
#include "runtime/object.h"

class THostSystem : public Object {
  KX_CLASS(THostSystem, Object)
 public:
  virtual void Poll();
  virtual void Wait();
  virtual void MovePointer(Int x, Int y);
  virtual void SetPointerVisible(Int visible);
  virtual void ShowMessage(String* text, Int serious);
  virtual Int AskYesNo(String* text, Int serious);
  virtual Int AskYesNoCancel(String* text, Int serious);
  virtual String* AskFileName(String* text, String* extensions, Int save, String* path);
  virtual String* AskDirectory(String* text, String* path);
  virtual void OpenAddress(String* address);
};

class TX11HostSystem : public THostSystem {
  KX_CLASS(TX11HostSystem, THostSystem)
 public:
  TX11HostSystem();  // X11SystemInit
  void Poll() override;
  void Wait() override;
  void MovePointer(Int x, Int y) override;
  void SetPointerVisible(Int visible) override;
  void ShowMessage(String* text, Int serious) override;
  Int AskYesNo(String* text, Int serious) override;
  Int AskYesNoCancel(String* text, Int serious) override;
  String* AskFileName(String* text, String* extensions, Int save, String* path) override;
  String* AskDirectory(String* text, String* path) override;
  void OpenAddress(String* address) override;
};

THostSystem* CurrentHostSystem();
void SetHostSystem(THostSystem* system);

void PumpSystemEvents();
void WaitSystemEvents();
void SetPointerPosition(Int x, Int y);
void ShowMouse();
void HideMouse();
void ShowMessage(String* text, Int serious);
Int AskYesNo(String* text, Int serious);
Int AskYesNoCancel(String* text, Int serious);
String* AskFileName(String* text, String* extensions, Int save, String* path);
String* AskDirectory(String* text, String* path);
void OpenAddress(String* address);
String* DateString();
String* TimeString();

Int InitSystemModule();
