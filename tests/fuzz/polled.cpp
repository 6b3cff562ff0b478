// Polled input: random events of every kind (with any key, button and
// character values, and from a filtered source or not) dispatched to the
// polled-input hook, interleaved with every query, clear, start and stop,
// against a model of the key, button, character, pointer and wheel state.
// No X server: the system driver has no display, so the waits return 0.
#include <algorithm>
#include <deque>

#include "input/event.h"
#include "input/polled.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

constexpr Int kKeys = 256, kButtons = 4, kQueue = 256;

struct Model {
  bool active = false;
  Object* filter = nullptr;
  Int keyDown[kKeys] = {}, keyHits[kKeys] = {};
  Int buttonDown[kButtons] = {}, buttonHits[kButtons] = {};
  std::deque<Int> chars;
  Int x = 0, y = 0, wheel = 0, suspended = 0, terminate = 0;

  void ClearKeys() {
    std::fill(std::begin(keyDown), std::end(keyDown), 0);
    std::fill(std::begin(keyHits), std::end(keyHits), 0);
    chars.clear();
  }
  void ClearMouse() {
    std::fill(std::begin(buttonDown), std::end(buttonDown), 0);
    std::fill(std::begin(buttonHits), std::end(buttonHits), 0);
    wheel = 0;
  }
  void ClearAll() { ClearKeys(), ClearMouse(); }
  void Press(Int* down, Int* hits, Int i) {
    if (!down[i]) down[i] = 1, hits[i] += 1;
  }
  void Event(TEvent* e) {
    if (!active || (filter && e->source.get() != filter)) return;
    const Int v = e->data;
    switch (e->id) {
      case EVENT_APPSUSPEND: ClearAll(), suspended = 1; break;
      case EVENT_APPRESUME: ClearAll(), suspended = 0; break;
      case EVENT_APPTERMINATE: terminate = 1; break;
      case EVENT_KEYDOWN:
        if (v >= 0 && v < kKeys) Press(keyDown, keyHits, v);
        break;
      case EVENT_KEYUP:
        if (v >= 0 && v < kKeys) keyDown[v] = 0;
        break;
      case EVENT_KEYCHAR:
        if (Int(chars.size()) < kQueue) chars.push_back(v);
        break;
      case EVENT_MOUSEDOWN:
        if (v >= 0 && v < kButtons) Press(buttonDown, buttonHits, v);
        break;
      case EVENT_MOUSEUP:
        if (v >= 0 && v < kButtons) buttonDown[v] = 0;
        break;
      case EVENT_MOUSEMOVE: x = e->x, y = e->y; break;
      case EVENT_MOUSEWHEEL: wheel = Int(uint32_t(wheel) + uint32_t(v)); break;
      default: break;
    }
  }
};

Model model;
Ref<Object> source;

const Int kEvents[] = {EVENT_APPSUSPEND, EVENT_APPRESUME,  EVENT_APPTERMINATE, EVENT_KEYDOWN,
                       EVENT_KEYUP,      EVENT_KEYCHAR,    EVENT_MOUSEDOWN,    EVENT_MOUSEUP,
                       EVENT_MOUSEMOVE,  EVENT_MOUSEWHEEL, EVENT_TIMERTICK,    EVENT_KEYDOWN};

Int Value(FuzzInput& in) { return in.Byte() % 4 ? in.Range(-2, 260) : in.Take<Int>(); }

// The model's answer for key or button `which` (0 outside the table); a
// hit count is answered once.
Int Answer(Int* table, Int size, Int which, bool taken) {
  if (which < 0 || which >= size) return 0;
  const Int v = table[which];
  if (taken) table[which] = 0;
  return v;
}

void Step(FuzzInput& in) {
  const Int which = Value(in);
  switch (in.Byte() % 16) {
    case 0: {
      Object* filter = in.Byte() % 4 == 0 ? source.get() : nullptr;
      StartPolledInput(filter);
      if (!model.active) model.active = true, model.filter = filter, model.ClearAll();
      break;
    }
    case 1:
      StopPolledInput();
      if (model.active) model.active = false, model.filter = nullptr, model.ClearAll();
      break;
    case 2: FUZZ_CHECK(KeyHit(which) == Answer(model.keyHits, kKeys, which, true)); break;
    case 3: FUZZ_CHECK(KeyIsDown(which) == Answer(model.keyDown, kKeys, which, false)); break;
    case 4: {
      const Int c = model.chars.empty() ? 0 : model.chars.front();
      if (!model.chars.empty()) model.chars.pop_front();
      FUZZ_CHECK(NextChar() == c);
      break;
    }
    case 5:
      FUZZ_CHECK(MouseButtonHits(which) == Answer(model.buttonHits, kButtons, which, true));
      break;
    case 6:
      FUZZ_CHECK(MouseButtonIsDown(which) == Answer(model.buttonDown, kButtons, which, false));
      break;
    case 7:
      FUZZ_CHECK(PointerX() == model.x && PointerY() == model.y && WheelTotal() == model.wheel);
      FUZZ_CHECK(AppIsSuspended() == model.suspended && PolledInputActive() == Int(model.active));
      FUZZ_CHECK(TerminateRequested() == model.terminate);
      model.terminate = 0;
      break;
    case 8: ClearKeys(), model.ClearKeys(); break;
    case 9: ClearMouse(), model.ClearMouse(); break;
    case 10:
      // Nothing can arrive without polled input: the waits answer at once.
      if (model.active) break;
      FUZZ_CHECK(WaitForKey() == 0 && WaitForChar() == 0 && WaitForMouseButton() == 0);
      model.ClearAll();
      break;
    default: {
      Object* from = in.Flag() ? source.get() : nullptr;
      TEvent* e = TEvent::NewEvent(kEvents[in.Range(0, 11)], from, which, in.Take<Int>(),
                                   in.Position(), in.Position(), nullptr);
      e->Dispatch();
      model.Event(e);
      break;
    }
  }
}

void SetUp() {
  InitPolledInputModule();
  source = TEvent::NewEvent(0, nullptr, 0, 0, 0, 0, nullptr);  // any object names a source
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBegin(__builtin_frame_address(0), &SetUp);
  FuzzInput in(data, size);
  for (int steps = 0; steps < 256 && !in.Empty(); ++steps) Step(in);
  kxCollectGarbage();
  return 0;
}
