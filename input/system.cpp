// The system driver: the current THostSystem, the public functions that
// forward to it, and TX11HostSystem, whose requesters talk on the console.
#include "input/system.h"

#include <ctime>

#include "input/event.h"
#include "input/x11.h"
#include "runtime/error.h"
#include "runtime/module.h"

KX_CLASS_RECORD(THostSystem, &THostSystem::Poll, &THostSystem::Wait, &THostSystem::MovePointer,
                &THostSystem::SetPointerVisible, &THostSystem::ShowMessage, &THostSystem::AskYesNo,
                &THostSystem::AskYesNoCancel, &THostSystem::AskFileName, &THostSystem::AskDirectory,
                &THostSystem::OpenAddress)
KX_CLASS_RECORD(TX11HostSystem, &TX11HostSystem::Poll, &TX11HostSystem::Wait,
                &TX11HostSystem::MovePointer, &TX11HostSystem::SetPointerVisible,
                &TX11HostSystem::ShowMessage, &TX11HostSystem::AskYesNo,
                &TX11HostSystem::AskYesNoCancel, &TX11HostSystem::AskFileName,
                &TX11HostSystem::AskDirectory, &TX11HostSystem::OpenAddress)

namespace {

Ref<THostSystem> currentSystem;

// Set while the driver pumps, so that hooks which query input from inside
// a pump do not start another one.
bool pumping = false;

class PumpGuard {
 public:
  PumpGuard() { pumping = true; }
  ~PumpGuard() { pumping = false; }  // also when a handler raises
  PumpGuard(const PumpGuard&) = delete;
  PumpGuard& operator=(const PumpGuard&) = delete;
};

// The reply to a question, lower-cased; empty when nothing was typed.
String* ReadAnswer() {
  String* line = kxReadInputLine();
  return line ? kxStringLowerAscii(line) : &kxBlankString;
}

Int FirstUnit(String* s) { return s && s->length > 0 ? s->units[0] : 0; }

String* LocalTimeText(const char* format) {
  time_t now = time(nullptr);
  tm local{};
  char buffer[256] = {};
  if (localtime_r(&now, &local)) strftime(buffer, sizeof buffer, format, &local);
  return kxStringDecodeCText(buffer);
}

}  // namespace

// --- THostSystem: every slot is abstract ----------------------------------
void THostSystem::Poll() { kxRaiseAbstractCall(); }
void THostSystem::Wait() { kxRaiseAbstractCall(); }
void THostSystem::MovePointer(Int, Int) { kxRaiseAbstractCall(); }
void THostSystem::SetPointerVisible(Int) { kxRaiseAbstractCall(); }
void THostSystem::ShowMessage(String*, Int) { kxRaiseAbstractCall(); }
Int THostSystem::AskYesNo(String*, Int) { kxRaiseAbstractCall(); }
Int THostSystem::AskYesNoCancel(String*, Int) { kxRaiseAbstractCall(); }
String* THostSystem::AskFileName(String*, String*, Int, String*) { kxRaiseAbstractCall(); }
String* THostSystem::AskDirectory(String*, String*) { kxRaiseAbstractCall(); }
void THostSystem::OpenAddress(String*) { kxRaiseAbstractCall(); }

// --- TX11HostSystem ---------------------------------------------------------
TX11HostSystem::TX11HostSystem() { X11SystemInit(); }
void TX11HostSystem::Poll() { X11Poll(); }
void TX11HostSystem::Wait() { X11Wait(); }
void TX11HostSystem::MovePointer(Int x, Int y) { X11WarpPointer(x, y); }
void TX11HostSystem::SetPointerVisible(Int visible) { X11SetPointerVisible(visible); }

void TX11HostSystem::ShowMessage(String* text, Int) {
  kxWriteStdout(kxStringConcat(text, KX_STR("\r\n")));
}

Int TX11HostSystem::AskYesNo(String* text, Int) {
  kxWriteStdout(kxStringConcat(text, KX_STR(" (Yes/No)?")));
  return FirstUnit(ReadAnswer()) == 'y' ? 1 : 0;
}

Int TX11HostSystem::AskYesNoCancel(String* text, Int) {
  kxWriteStdout(kxStringConcat(text, KX_STR(" (Yes/No/Cancel)?")));
  switch (FirstUnit(ReadAnswer())) {
    case 'y': return 1;
    case 'n': return 0;
    default: return -1;
  }
}

String* TX11HostSystem::AskFileName(String*, String*, Int, String*) {
  kxWriteStdout(KX_STR("Enter a filename:"));
  String* line = kxReadInputLine();
  return line ? line : &kxBlankString;
}

String* TX11HostSystem::AskDirectory(String*, String*) {
  kxWriteStdout(KX_STR("Enter a directory name:"));
  String* line = kxReadInputLine();
  return line ? line : &kxBlankString;
}

void TX11HostSystem::OpenAddress(String*) {
  kxRaiseError(KX_STR("Attempt to open an address: not supported on X11"));
}

// --- the current driver -----------------------------------------------------
THostSystem* CurrentHostSystem() { return currentSystem; }
void SetHostSystem(THostSystem* system) { currentSystem = system; }

void PumpSystemEvents() {
  if (pumping || !currentSystem) return;
  PumpGuard guard;
  currentSystem->Poll();
}

void WaitSystemEvents() {
  if (pumping || !currentSystem) return;
  PumpGuard guard;
  currentSystem->Wait();
}

void SetPointerPosition(Int x, Int y) {
  if (currentSystem) currentSystem->MovePointer(x, y);
}
void ShowMouse() {
  if (currentSystem) currentSystem->SetPointerVisible(1);
}
void HideMouse() {
  if (currentSystem) currentSystem->SetPointerVisible(0);
}

// The requesters go to the driver as they are: with no driver there is no
// one to ask, and that is a caller's mistake worth a runtime error.
static THostSystem* RequireSystem() {
  if (!currentSystem) kxRaiseNullAccess();
  return currentSystem;
}

void ShowMessage(String* text, Int serious) { RequireSystem()->ShowMessage(text, serious); }
Int AskYesNo(String* text, Int serious) { return RequireSystem()->AskYesNo(text, serious); }
Int AskYesNoCancel(String* text, Int serious) {
  return RequireSystem()->AskYesNoCancel(text, serious);
}
String* AskFileName(String* text, String* extensions, Int save, String* path) {
  return RequireSystem()->AskFileName(text, extensions, save, path);
}
String* AskDirectory(String* text, String* path) {
  return RequireSystem()->AskDirectory(text, path);
}
void OpenAddress(String* address) { RequireSystem()->OpenAddress(address); }

String* DateString() { return LocalTimeText("%d %b %Y"); }
String* TimeString() { return LocalTimeText("%H:%M:%S"); }

Int InitSystemModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  InitEventModule();
  SetHostSystem(New<TX11HostSystem>());
  return 0;
}
