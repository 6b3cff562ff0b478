// X11 key translation without a server: random keysyms through the key-code
// mapping, and hand-made pointer and key events through the event
// translation, whose TEvents are caught on the event hook chain.
#include <vector>

#include "input/event.h"
#include "input/hooks.h"
#include "input/x11.h"
#include "tests/fuzz/fuzz_input.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

struct Seen {
  Int id, data, x, y;
};
std::vector<Seen> seen;

Object* Catch(Int, Object* data, Object*) {
  TEvent* e = Cast<TEvent>(data);
  FUZZ_CHECK(e != nullptr);
  seen.push_back({e->id, e->data, e->x, e->y});
  return data;
}

bool Special(unsigned long keysym) {
  return keysym == XK_Print || keysym == XK_Insert || keysym == XK_Menu;
}

void CheckKeysym(unsigned long keysym, unsigned long high) {
  const Int code = X11KeyCodeFromKeysym(keysym);
  FUZZ_CHECK(code >= 0 && code <= 255);
  // Only the low byte decides, except for the three keys told apart whole.
  const unsigned long low = keysym & 0xff;
  const unsigned long other = (high << 8) | low;
  if (!Special(keysym) && !Special(other)) FUZZ_CHECK(X11KeyCodeFromKeysym(other) == code);
  // Unshifted letters (and { | } ~) give their capital's code; digits their own.
  if (!Special(keysym)) {
    if (low >= 0x61 && low <= 0x7e) FUZZ_CHECK(code == Int(low) - 32);
    if (low >= '0' && low <= '9') FUZZ_CHECK(code == Int(low));
  }
}

void CheckTranslation(FuzzInput& in) {
  static const int kTypes[] = {
      KeyPress,      KeyRelease, ButtonPress, ButtonRelease, MotionNotify, FocusIn, Expose,
      ClientMessage, 0,          200};
  XEvent event;
  std::memset(&event, 0, sizeof event);
  event.type = kTypes[in.Byte() % 10];
  const Int x = in.Take<Int>(), y = in.Take<Int>();
  const unsigned button = in.Flag() ? in.Range(0, 9) : in.Take<uint32_t>();
  switch (event.type) {
    case ButtonPress:
    case ButtonRelease:
      event.xbutton.x = x;
      event.xbutton.y = y;
      event.xbutton.button = button;
      break;
    case MotionNotify:
      event.xmotion.x = x;
      event.xmotion.y = y;
      break;
    default:
      event.xkey.keycode = button;  // no display: key events must say nothing
      break;
  }
  seen.clear();
  X11TranslateEvent(&event);
  const bool wheel = button == Button4 || button == Button5;
  switch (event.type) {
    case ButtonPress:
      FUZZ_CHECK(seen.size() == 1 && seen[0].x == x && seen[0].y == y);
      if (wheel)
        FUZZ_CHECK(seen[0].id == EVENT_MOUSEWHEEL && seen[0].data == (button == Button4 ? 1 : -1));
      else
        FUZZ_CHECK(seen[0].id == EVENT_MOUSEDOWN);
      break;
    case ButtonRelease:
      FUZZ_CHECK(seen.size() == (wheel ? 0u : 1u));
      if (!wheel) FUZZ_CHECK(seen[0].id == EVENT_MOUSEUP && seen[0].x == x);
      break;
    case MotionNotify:
      FUZZ_CHECK(seen.size() == 1 && seen[0].id == EVENT_MOUSEMOVE && seen[0].y == y);
      break;
    default: FUZZ_CHECK(seen.empty()); break;
  }
  FUZZ_CHECK(X11KeyCode(&event) == 0 && X11KeyCode(nullptr) == 0);
}

void SetUp() {
  InitEventModule();
  AttachHook(EventHookId, &Catch, nullptr, 0);
  // The simulator's own keys and the three whole-keysym ones.
  FUZZ_CHECK(X11KeyCodeFromKeysym(XK_Escape) == 27 && X11KeyCodeFromKeysym(XK_space) == 32);
  FUZZ_CHECK(X11KeyCodeFromKeysym(XK_1) == 49 && X11KeyCodeFromKeysym(XK_2) == 50);
  FUZZ_CHECK(X11KeyCodeFromKeysym(XK_s) == 83);
  FUZZ_CHECK(X11KeyCodeFromKeysym(XK_Print) == 42 && X11KeyCodeFromKeysym(XK_Insert) == 45);
  FUZZ_CHECK(X11KeyCodeFromKeysym(XK_Menu) == 93);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBegin(__builtin_frame_address(0), &SetUp);
  FuzzInput in(data, size);
  while (!in.Empty()) {
    if (in.Flag()) {
      const unsigned long keysym = in.Flag() ? in.Take<uint32_t>() : 0xff00u | in.Byte();
      CheckKeysym(keysym, in.Take<uint32_t>() & 0xffffff);
    } else {
      CheckTranslation(in);
    }
  }
  kxCollectGarbage();
  return 0;
}
