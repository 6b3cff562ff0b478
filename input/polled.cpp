// Polled input: a hook on EventHookId keeps key, character and mouse state
// that programs read whenever they like. Every query pumps the system
// events first, so a program that only asks still sees fresh input.
//
// Data outside the arrays is dropped at the hook: key codes outside 0..255
// and button numbers outside 0..3 (buttons above 5 arrive as negative data)
// are never written, and queries about them answer 0.
#include "input/polled.h"

#include <cstdint>

#include "input/event.h"
#include "input/hooks.h"
#include "input/system.h"
#include "input/x11.h"
#include "runtime/array.h"
#include "runtime/module.h"

namespace {

constexpr Int kKeyCount = 256;
constexpr Int kButtonCount = 4;
constexpr uint32_t kCharQueueSize = 256;
constexpr Int kPolledHookPriority = 0;

// All of the module's state. The arrays are runtime objects held for the
// process; the element pointers stay valid as long as those references do.
struct PolledState {
  Ref<Array> keyStateArray, keyHitArray, charQueueArray, buttonStateArray, buttonHitArray;
  Int* keyStates = nullptr;
  Int* keyHits = nullptr;
  Int* charQueue = nullptr;
  Int* buttonStates = nullptr;
  Int* buttonHits = nullptr;
  uint32_t charPut = 0;  // counters wrap modulo 2^32; put - get is the fill
  uint32_t charGet = 0;
  Int pointerX = 0, pointerY = 0, wheelTotal = 0;
  Int suspended = 0;
  Int terminateRequest = 0;
  Ref<Object> sourceFilter;
  Int active = 0;
};

PolledState polled;

bool IsKey(Int key) { return key >= 0 && key < kKeyCount; }
bool IsButton(Int button) { return button >= 0 && button < kButtonCount; }

void Press(Int* states, Int* hits, Int index) {
  if (states[index]) return;  // still held: a press counts only after a release
  states[index] = 1;
  hits[index] += 1;
}

Object* PolledInputHook(Int, Object* data, Object*) {
  TEvent* event = Cast<TEvent>(data);
  if (!event) return data;
  if (polled.sourceFilter && event->source.get() != polled.sourceFilter.get()) return data;
  Int value = event->data;
  switch (event->id) {
    case EVENT_APPSUSPEND:
      ClearKeys();
      ClearMouse();
      polled.suspended = 1;
      break;
    case EVENT_APPRESUME:
      ClearKeys();
      ClearMouse();
      polled.suspended = 0;
      break;
    case EVENT_APPTERMINATE: polled.terminateRequest = 1; break;
    case EVENT_KEYDOWN:
      if (IsKey(value)) Press(polled.keyStates, polled.keyHits, value);
      break;
    case EVENT_KEYUP:
      if (IsKey(value)) polled.keyStates[value] = 0;
      break;
    case EVENT_KEYCHAR:
      if (polled.charPut - polled.charGet >= kCharQueueSize) break;  // full: the character is lost
      polled.charQueue[polled.charPut % kCharQueueSize] = value;
      polled.charPut += 1;
      break;
    case EVENT_MOUSEDOWN:
      if (IsButton(value)) Press(polled.buttonStates, polled.buttonHits, value);
      break;
    case EVENT_MOUSEUP:
      if (IsButton(value)) polled.buttonStates[value] = 0;
      break;
    case EVENT_MOUSEMOVE:
      polled.pointerX = event->x;
      polled.pointerY = event->y;
      break;
    case EVENT_MOUSEWHEEL:
      polled.wheelTotal = static_cast<Int>(static_cast<uint32_t>(polled.wheelTotal) +
                                           static_cast<uint32_t>(value));
      break;
    default: break;
  }
  return data;
}

// The waits have nothing to wait for when no key can ever arrive: polled
// input is off, or the X11 driver has no display. They answer 0 then
// instead of hanging the program.
bool NothingCanArrive() {
  if (!polled.active) return true;
  return Cast<TX11HostSystem>(CurrentHostSystem()) && !X11Display();
}

Int* IntElements(Ref<Array>& array, Int length) {
  array = kxArrayNew("i", 1, length);
  return array->Elements<Int>();
}

}  // namespace

void StartPolledInput(Object* source) {
  InitPolledInputModule();
  if (polled.active) return;
  polled.sourceFilter = source;
  ClearKeys();
  ClearMouse();
  AttachHook(EventHookId, &PolledInputHook, nullptr, kPolledHookPriority);
  polled.active = 1;
}

void StopPolledInput() {
  InitPolledInputModule();
  if (!polled.active) return;
  DetachHook(EventHookId, &PolledInputHook, nullptr);
  ClearKeys();
  ClearMouse();
  polled.sourceFilter = nullptr;
  polled.active = 0;
}

Int PolledInputActive() { return polled.active; }

Int KeyHit(Int key) {
  PumpSystemEvents();
  if (!IsKey(key) || !polled.keyHits) return 0;
  Int hits = polled.keyHits[key];
  polled.keyHits[key] = 0;
  return hits;
}

Int KeyIsDown(Int key) {
  PumpSystemEvents();
  return IsKey(key) && polled.keyStates ? polled.keyStates[key] : 0;
}

Int NextChar() {
  PumpSystemEvents();
  if (polled.charPut == polled.charGet || !polled.charQueue) return 0;
  Int c = polled.charQueue[polled.charGet % kCharQueueSize];
  polled.charGet += 1;
  return c;
}

void ClearKeys() {
  PumpSystemEvents();
  polled.charPut = polled.charGet = 0;
  for (Int i = 0; polled.keyStates && i < kKeyCount; ++i)
    polled.keyStates[i] = polled.keyHits[i] = 0;
}

Int WaitForKey() {
  ClearKeys();
  for (;;) {
    if (NothingCanArrive()) return 0;
    WaitSystemEvents();
    for (Int code = 1; code < kKeyCount; ++code)
      if (KeyHit(code)) return code;
  }
}

Int WaitForChar() {
  ClearKeys();
  for (;;) {
    if (NothingCanArrive()) return 0;
    WaitSystemEvents();
    if (Int c = NextChar()) return c;
  }
}

Int MouseButtonHits(Int button) {
  PumpSystemEvents();
  if (!IsButton(button) || !polled.buttonHits) return 0;
  Int hits = polled.buttonHits[button];
  polled.buttonHits[button] = 0;
  return hits;
}

Int MouseButtonIsDown(Int button) {
  PumpSystemEvents();
  return IsButton(button) && polled.buttonStates ? polled.buttonStates[button] : 0;
}

Int PointerX() {
  PumpSystemEvents();
  return polled.pointerX;
}

Int PointerY() {
  PumpSystemEvents();
  return polled.pointerY;
}

Int WheelTotal() {
  PumpSystemEvents();
  return polled.wheelTotal;
}

void ClearMouse() {
  PumpSystemEvents();
  for (Int i = 0; polled.buttonStates && i < kButtonCount; ++i)
    polled.buttonStates[i] = polled.buttonHits[i] = 0;
  polled.wheelTotal = 0;
}

Int WaitForMouseButton() {
  ClearMouse();
  for (;;) {
    if (NothingCanArrive()) return 0;
    WaitSystemEvents();
    for (Int button = 1; button < kButtonCount; ++button)
      if (MouseButtonHits(button)) return button;
  }
}

Int AppIsSuspended() {
  PumpSystemEvents();
  return polled.suspended;
}

Int TerminateRequested() {
  PumpSystemEvents();
  Int request = polled.terminateRequest;
  polled.terminateRequest = 0;
  return request;
}

Int InitPolledInputModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  InitHooksModule();
  InitEventModule();
  InitSystemModule();
  polled.keyStates = IntElements(polled.keyStateArray, kKeyCount);
  polled.keyHits = IntElements(polled.keyHitArray, kKeyCount);
  polled.charQueue = IntElements(polled.charQueueArray, static_cast<Int>(kCharQueueSize));
  polled.buttonStates = IntElements(polled.buttonStateArray, kButtonCount);
  polled.buttonHits = IntElements(polled.buttonHitArray, kButtonCount);
  return 0;
}
