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
constexpr Int PollFirst = 1;  // every query pumps the system events first

// The arrays are runtime objects held for the process; the element
// pointers below stay valid as long as those references do.
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

bool IsKey(Int key) { return key >= 0 && key < kKeyCount; }
bool IsButton(Int button) { return button >= 0 && button < kButtonCount; }

void Poll() {
  if (PollFirst) PumpSystemEvents();
}

void Press(Int* states, Int* hits, Int index) {
  if (states[index]) return;  // still held: a press counts only after a release
  states[index] = 1;
  hits[index] += 1;
}

Object* PolledInputHook(Int, Object* data, Object*) {
  TEvent* event = Cast<TEvent>(data);
  if (!event) return data;
  if (sourceFilter && event->source.get() != sourceFilter.get()) return data;
  Int value = event->data;
  switch (event->id) {
    case EVENT_APPSUSPEND:
      ClearKeys();
      ClearMouse();
      suspended = 1;
      break;
    case EVENT_APPRESUME:
      ClearKeys();
      ClearMouse();
      suspended = 0;
      break;
    case EVENT_APPTERMINATE: terminateRequest = 1; break;
    case EVENT_KEYDOWN:
      if (IsKey(value)) Press(keyStates, keyHits, value);
      break;
    case EVENT_KEYUP:
      if (IsKey(value)) keyStates[value] = 0;
      break;
    case EVENT_KEYCHAR:
      if (charPut - charGet >= kCharQueueSize) break;  // full: the character is lost
      charQueue[charPut % kCharQueueSize] = value;
      charPut += 1;
      break;
    case EVENT_MOUSEDOWN:
      if (IsButton(value)) Press(buttonStates, buttonHits, value);
      break;
    case EVENT_MOUSEUP:
      if (IsButton(value)) buttonStates[value] = 0;
      break;
    case EVENT_MOUSEMOVE:
      pointerX = event->x;
      pointerY = event->y;
      break;
    case EVENT_MOUSEWHEEL:
      wheelTotal = static_cast<Int>(static_cast<uint32_t>(wheelTotal) + static_cast<uint32_t>(value));
      break;
    default: break;
  }
  return data;
}

// The waits have nothing to wait for when no key can ever arrive: polled
// input is off, or the X11 driver has no display. They answer 0 then
// instead of hanging the program.
bool NothingCanArrive() {
  if (!active) return true;
  return Cast<TX11HostSystem>(CurrentHostSystem()) && !X11Display();
}

Int* IntElements(Ref<Array>& array, Int length) {
  array = kxArrayNew("i", 1, length);
  return array->Elements<Int>();
}

}  // namespace

void StartPolledInput(Object* source) {
  InitPolledInputModule();
  if (active) return;
  sourceFilter = source;
  ClearKeys();
  ClearMouse();
  AttachHook(EventHookId, &PolledInputHook, nullptr, kPolledHookPriority);
  active = 1;
}

void StopPolledInput() {
  InitPolledInputModule();
  if (!active) return;
  DetachHook(EventHookId, &PolledInputHook, nullptr);
  ClearKeys();
  ClearMouse();
  sourceFilter = nullptr;
  active = 0;
}

Int PolledInputActive() { return active; }

Int KeyHit(Int key) {
  Poll();
  if (!IsKey(key) || !keyHits) return 0;
  Int hits = keyHits[key];
  keyHits[key] = 0;
  return hits;
}

Int KeyIsDown(Int key) {
  Poll();
  return IsKey(key) && keyStates ? keyStates[key] : 0;
}

Int NextChar() {
  Poll();
  if (charPut == charGet || !charQueue) return 0;
  Int c = charQueue[charGet % kCharQueueSize];
  charGet += 1;
  return c;
}

void ClearKeys() {
  PumpSystemEvents();
  charPut = charGet = 0;
  for (Int i = 0; keyStates && i < kKeyCount; ++i) keyStates[i] = keyHits[i] = 0;
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
  Poll();
  if (!IsButton(button) || !buttonHits) return 0;
  Int hits = buttonHits[button];
  buttonHits[button] = 0;
  return hits;
}

Int MouseButtonIsDown(Int button) {
  Poll();
  return IsButton(button) && buttonStates ? buttonStates[button] : 0;
}

Int PointerX() {
  Poll();
  return pointerX;
}

Int PointerY() {
  Poll();
  return pointerY;
}

Int WheelTotal() {
  Poll();
  return wheelTotal;
}

void ClearMouse() {
  PumpSystemEvents();
  for (Int i = 0; buttonStates && i < kButtonCount; ++i) buttonStates[i] = buttonHits[i] = 0;
  wheelTotal = 0;
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
  Poll();
  return suspended;
}

Int TerminateRequested() {
  Poll();
  Int request = terminateRequest;
  terminateRequest = 0;
  return request;
}

Int InitPolledInputModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  InitHooksModule();
  InitEventModule();
  InitSystemModule();
  keyStates = IntElements(keyStateArray, kKeyCount);
  keyHits = IntElements(keyHitArray, kKeyCount);
  charQueue = IntElements(charQueueArray, static_cast<Int>(kCharQueueSize));
  buttonStates = IntElements(buttonStateArray, kButtonCount);
  buttonHits = IntElements(buttonHitArray, kButtonCount);
  return 0;
}
