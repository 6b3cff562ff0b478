// The X11 driver against the test X server: keys and buttons injected with
// XTEST into a window of the test's own, the key code table on the server's
// real keyboard, pointer hiding and warping, and a server that goes away.
// gtest and the project's headers first: Xlib's macros (None, Bool, Status)
// must not reach them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "input/event.h"
#include "input/polled.h"
#include "input/system.h"
#include "input/x11.h"
#include "runtime/module.h"
#include "tests/input/input_test_support.h"
#include "tests/support/test_util.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// Injected input goes to whichever window has the focus, so test programs
// that inject on one display take turns.
class DisplayLock {
 public:
  DisplayLock() {
    std::string name = "/tmp/lifesim-input-test";
    for (const char* p = getenv("DISPLAY"); p && *p; ++p) name += (*p == '/' ? '_' : *p);
    fd_ = open((name + ".lock").c_str(), O_CREAT | O_RDWR, 0666);
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~DisplayLock() {
    if (fd_ >= 0) close(fd_);
  }

 private:
  int fd_ = -1;
};

struct CountArgs {
  int keys = 0, buttons = 0;
};

Bool CountInput(Display*, XEvent* e, XPointer arg) {
  auto* c = reinterpret_cast<CountArgs*>(arg);
  if (e->type == KeyPress || e->type == KeyRelease) ++c->keys;
  if (e->type == ButtonPress || e->type == ButtonRelease) ++c->buttons;
  return False;  // look at every event, take none
}

class XServerTest : public testing::Test {
 protected:
  static constexpr int kLeft = 10, kTop = 20, kWidth = 200, kHeight = 150;

  void SetUp() override {
    const char* name = getenv("DISPLAY");
    ASSERT_TRUE(name && *name) << "no DISPLAY: run under tools/with-xserver.sh";
    InitEventQueueModule();
    InitPolledInputModule();
    d_ = X11Display();
    ASSERT_NE(d_, nullptr) << "no X server answers at " << name;
    lock_ = std::make_unique<DisplayLock>();

    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                            PointerMotionMask | StructureNotifyMask;
    window_ = XCreateWindow(d_, DefaultRootWindow(d_), kLeft, kTop, kWidth, kHeight, 0,
                            CopyFromParent, InputOutput, CopyFromParent,
                            CWOverrideRedirect | CWEventMask, &attributes);
    XMapRaised(d_, window_);
    XEvent e;
    do XWindowEvent(d_, window_, StructureNotifyMask, &e);
    while (e.type != MapNotify);
    AwaitNoForeignGrab();
    XSetInputFocus(d_, window_, RevertToPointerRoot, CurrentTime);
    MovePointer(kWidth / 2, kHeight / 2);
    X11SetEventWindow(window_);
    StartPolledInput(nullptr);
    ClearKeys();
    ClearMouse();
  }

  void TearDown() override {
    if (!d_) return;
    X11SetEventFilter(nullptr);
    StopPolledInput();
    X11SetEventWindow(0);
    XDestroyWindow(d_, window_);
    XSync(d_, False);
    PumpSystemEvents();
  }

  unsigned KeyCodeOf(KeySym keysym) { return XKeysymToKeycode(d_, keysym); }
  // The code the driver gives a press of `keycode` with the keymap of `d`.
  Int CodeOfPress(Display* d, unsigned keycode, unsigned state = 0) {
    XEvent event{};
    event.xkey.type = KeyPress;
    event.xkey.display = d;
    event.xkey.window = window_;
    event.xkey.keycode = keycode;
    event.xkey.state = state;
    return X11KeyCode(&event);
  }
  void Key(KeySym keysym, bool down) {
    XTestFakeKeyEvent(d_, KeyCodeOf(keysym), down, CurrentTime);
  }
  void Tap(KeySym keysym) {
    Key(keysym, true);
    Key(keysym, false);
  }
  void Button(unsigned button, bool down) { XTestFakeButtonEvent(d_, button, down, CurrentTime); }
  void Click(unsigned button) {
    Button(button, true);
    Button(button, false);
  }
  // Window coordinates.
  void MovePointer(int x, int y) {
    XTestFakeMotionEvent(d_, DefaultScreen(d_), kLeft + x, kTop + y, CurrentTime);
    XSync(d_, False);
  }

  // Other suites on the same server open full-screen displays that grab the
  // keyboard and pointer; injected input would go to them. Wait until no
  // client holds a grab (probing with a grab of our own, released at once).
  void AwaitNoForeignGrab() {
    for (int i = 0; i < 1500; ++i) {
      bool keyboard = XGrabKeyboard(d_, window_, False, GrabModeAsync, GrabModeAsync,
                                    CurrentTime) == GrabSuccess;
      if (keyboard) XUngrabKeyboard(d_, CurrentTime);
      bool pointer = XGrabPointer(d_, window_, False, 0, GrabModeAsync, GrabModeAsync, None, None,
                                  CurrentTime) == GrabSuccess;
      if (pointer) XUngrabPointer(d_, CurrentTime);
      XSync(d_, False);
      if (keyboard && pointer) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // Waits until the injected events have reached this client's queue, so
  // that the next query takes all of them in one pump.
  bool AwaitQueued(int keys, int buttons, int seconds = 10) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      XSync(d_, False);
      CountArgs count;
      XEvent unused;
      XCheckIfEvent(d_, &unused, &CountInput, reinterpret_cast<XPointer>(&count));
      if (count.keys >= keys && count.buttons >= buttons) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ADD_FAILURE() << "injected input did not arrive: did another client grab it?";
    return false;
  }

  Display* d_ = nullptr;
  Window window_ = 0;
  std::unique_ptr<DisplayLock> lock_;
};

TEST_F(XServerTest, KeysGiveCharactersAndCodesAndAFloodIsTakenInOneQuery) {
  EventRecorder recorder;
  Tap(XK_s);
  Key(XK_Shift_L, true);
  Tap(XK_s);
  Key(XK_Shift_L, false);
  Tap(XK_Escape);
  ASSERT_TRUE(AwaitQueued(8, 0));
  EXPECT_EQ(KeyHit(83), 2);
  EXPECT_EQ(recorder.Only({EVENT_KEYCHAR, EVENT_KEYDOWN, EVENT_KEYUP}), (Pairs{{EVENT_KEYCHAR, 115},
                                                                               {EVENT_KEYDOWN, 83},
                                                                               {EVENT_KEYUP, 83},
                                                                               {EVENT_KEYDOWN, 160},
                                                                               {EVENT_KEYCHAR, 83},
                                                                               {EVENT_KEYDOWN, 83},
                                                                               {EVENT_KEYUP, 83},
                                                                               {EVENT_KEYUP, 160},
                                                                               {EVENT_KEYCHAR, 27},
                                                                               {EVENT_KEYDOWN, 27},
                                                                               {EVENT_KEYUP, 27}}));
  EXPECT_EQ(NextChar(), 115);
  EXPECT_EQ(NextChar(), 83);
  EXPECT_EQ(NextChar(), 27);
  EXPECT_EQ(KeyHit(27), 1);
  for (const auto& e : recorder.events) {  // key events carry the pointer's place
    if (e.id != EVENT_KEYDOWN) continue;
    EXPECT_EQ(std::make_pair(e.x, e.y), std::make_pair(kWidth / 2, kHeight / 2));
  }

  for (int i = 0; i < 3; ++i) Tap(XK_space);
  Key(XK_1, true);
  ASSERT_TRUE(AwaitQueued(7, 0));
  EXPECT_EQ(KeyHit(32), 3);
  EXPECT_EQ(KeyHit(32), 0);
  EXPECT_EQ(KeyIsDown(49), 1);
  Key(XK_1, false);
  ASSERT_TRUE(AwaitQueued(1, 0));
  EXPECT_EQ(KeyIsDown(49), 0);

  // A flood of ten thousand key events is taken in one query.
  ClearKeys();
  recorder.events.clear();
  for (int i = 0; i < 5000; ++i) Tap(XK_a);
  ASSERT_TRUE(AwaitQueued(10000, 0, 60));
  EXPECT_EQ(KeyHit(65), 5000);
  EXPECT_EQ(recorder.Only({EVENT_KEYDOWN}).size(), 5000u);
  int chars = 0;
  while (NextChar() == 'a') ++chars;
  EXPECT_EQ(chars, 256);  // the character queue kept the first 256
  EXPECT_EQ(KeyHit(65), 0);
}

TEST_F(XServerTest, ButtonsAreLeftOneMiddleThreeRightTwoAndTheWheelSteps) {
  EventRecorder recorder;
  MovePointer(30, 40);
  for (unsigned button : {1, 2, 3, 4, 4, 5}) Click(button);
  ASSERT_TRUE(AwaitQueued(0, 12));
  EXPECT_EQ(MouseButtonHits(1) + MouseButtonHits(2) + MouseButtonHits(3), 3);
  EXPECT_EQ(std::make_pair(PointerX(), PointerY()), std::make_pair(30, 40));
  EXPECT_EQ(WheelTotal(), 1);
  EXPECT_EQ(recorder.Only({EVENT_MOUSEDOWN, EVENT_MOUSEUP, EVENT_MOUSEWHEEL}),
            (Pairs{{EVENT_MOUSEDOWN, 1},
                   {EVENT_MOUSEUP, 1},
                   {EVENT_MOUSEDOWN, 3},
                   {EVENT_MOUSEUP, 3},
                   {EVENT_MOUSEDOWN, 2},
                   {EVENT_MOUSEUP, 2},
                   {EVENT_MOUSEWHEEL, 1},
                   {EVENT_MOUSEWHEEL, 1},
                   {EVENT_MOUSEWHEEL, -1}}));
}

Int ClaimKeyPresses(XEvent* event) { return event->type == KeyPress; }

TEST_F(XServerTest, PointerHidingWarpingAndAStaleWindow) {
  HideMouse();
  unsigned long cursor = X11BlankCursor();
  EXPECT_NE(cursor, 0u);
  HideMouse();
  EXPECT_EQ(X11BlankCursor(), cursor);  // made once
  ShowMouse();

  Window root, child;
  int rootX, rootY, x, y;
  unsigned mask;
  SetPointerPosition(30, 40);
  XQueryPointer(d_, window_, &root, &child, &rootX, &rootY, &x, &y, &mask);
  EXPECT_EQ(std::make_pair(x, y), std::make_pair(30, 40));
  X11SetEventWindow(0);  // no window: the warp is relative
  SetPointerPosition(5, 7);
  XQueryPointer(d_, window_, &root, &child, &rootX, &rootY, &x, &y, &mask);
  EXPECT_EQ(std::make_pair(x, y), std::make_pair(35, 47));

  Window gone = XCreateSimpleWindow(d_, DefaultRootWindow(d_), 0, 0, 10, 10, 0, 0, 0);
  X11SetEventWindow(gone);
  XDestroyWindow(d_, gone);
  HideMouse();  // BadWindow from any of these would end the program
  ShowMouse();
  SetPointerPosition(3, 3);

  // The connection still serves input; the filter claims key presses.
  EventRecorder recorder;
  X11SetEventFilter(&ClaimKeyPresses);
  MovePointer(kWidth / 2, kHeight / 2);
  Tap(XK_2);
  ASSERT_TRUE(AwaitQueued(2, 0));
  EXPECT_EQ(KeyHit(50), 0);
  EXPECT_EQ(recorder.Only({EVENT_KEYCHAR, EVENT_KEYDOWN, EVENT_KEYUP}), (Pairs{{EVENT_KEYUP, 50}}));
}

int deferredRuns = 0;
Int deferredSignal = 0;
void CountDeferred(Int signal) {
  ++deferredRuns;
  deferredSignal = signal;
}

TEST_F(XServerTest, DeferredSignalHandlersRunFromThePump) {
  // The clock's 1 ms tick (signal 14) is recorded by its handler and run
  // here, outside it.
  X11SetSignalHandler(SIGALRM, &CountDeferred);
  X11SetSignalHandler(0, &CountDeferred);  // out of the table: ignored
  X11SetSignalHandler(1000, &CountDeferred);
  for (int i = 0; i < 500 && deferredRuns == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    PumpSystemEvents();
  }
  X11SetSignalHandler(SIGALRM, nullptr);
  EXPECT_GT(deferredRuns, 0);
  EXPECT_EQ(deferredSignal, SIGALRM);
}

// A poll misses neither input that only reaches the socket (sent by another
// client while this one makes no call) nor a request left in the output
// buffer.
TEST_F(XServerTest, PollsMissNothing) {
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  PumpSystemEvents();

  const unsigned s = XKeysymToKeycode(other, XK_s);
  XTestFakeKeyEvent(other, s, True, CurrentTime);
  XTestFakeKeyEvent(other, s, False, CurrentTime);
  XSync(other, False);
  Int hits = 0;
  for (int i = 0; i < 2000 && hits == 0; ++i) {
    hits = KeyHit(83);
    if (hits == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(hits, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  PumpSystemEvents();  // the release, read before the request below is made

  static const unsigned char kMark[] = "polled";
  XChangeProperty(d_, window_, XA_WM_NAME, XA_STRING, 8, PropModeReplace, kMark, 6);
  KeyHit(83);  // the only flush of this connection from here on
  bool seen = false;
  for (int i = 0; i < 2000 && !seen; ++i) {
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, left = 0;
    unsigned char* value = nullptr;
    if (XGetWindowProperty(other, window_, XA_WM_NAME, 0, 16, False, XA_STRING, &type, &format,
                           &items, &left, &value) == Success &&
        value) {
      seen = items == 6 && std::string(reinterpret_cast<char*>(value), 6) == "polled";
      XFree(value);
    }
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(seen);
  XCloseDisplay(other);
}

// Every row of the key table, through a key event of the server's own
// keyboard where the keysym sits unshifted on a key; the others by keysym.
TEST_F(XServerTest, KeyCodeTableOnTheServersKeyboard) {
  struct Row {
    KeySym keysym;
    Int code;
  };
  std::vector<Row> rows = {
      {XK_Left, 37},         {XK_Up, 38},           {XK_Right, 39},        {XK_Down, 40},
      {XK_Control_L, 162},   {XK_Control_R, 163},   {XK_Alt_L, 164},       {XK_Alt_R, 165},
      {XK_Shift_L, 160},     {XK_Shift_R, 161},     {XK_Num_Lock, 144},    {XK_Scroll_Lock, 145},
      {XK_KP_Insert, 96},    {XK_KP_End, 97},       {XK_KP_Down, 98},      {XK_KP_Next, 99},
      {XK_KP_Left, 100},     {XK_KP_Begin, 101},    {XK_KP_Right, 102},    {XK_KP_Home, 103},
      {XK_KP_Up, 104},       {XK_KP_Prior, 105},    {XK_Super_L, 91},      {XK_Super_R, 92},
      {XK_Home, 36},         {XK_Prior, 33},        {XK_Delete, 46},       {XK_End, 35},
      {XK_Next, 34},         {XK_KP_Delete, 110},   {XK_KP_Enter, 13},     {XK_KP_Add, 107},
      {XK_KP_Subtract, 109}, {XK_KP_Multiply, 106}, {XK_KP_Divide, 111},   {XK_grave, 192},
      {XK_minus, 107},       {XK_equal, 109},       {XK_bracketleft, 219}, {XK_bracketright, 221},
      {XK_backslash, 226},   {XK_semicolon, 186},   {XK_apostrophe, 222},  {XK_comma, 188},
      {XK_period, 190},      {XK_slash, 191},       {XK_Escape, 27},       {XK_Return, 13},
      {XK_BackSpace, 8},     {XK_Tab, 9},           {XK_Pause, 19},        {XK_space, 32},
      {XK_Caps_Lock, 229},   {XK_braceleft, 91},    {XK_bar, 92},          {XK_braceright, 93},
      {XK_asciitilde, 94},   {XK_Print, 42},        {XK_Insert, 45},       {XK_Menu, 93},
  };
  for (KeySym k = XK_a; k <= XK_z; ++k) rows.push_back({k, static_cast<Int>(k - XK_a + 65)});
  for (KeySym k = XK_0; k <= XK_9; ++k) rows.push_back({k, static_cast<Int>(k - XK_0 + 48)});
  for (Int i = 0; i < 12; ++i) rows.push_back({static_cast<KeySym>(XK_F1 + i), 112 + i});

  int onKeyboard = 0;
  for (const Row& row : rows) {
    const char* name = XKeysymToString(row.keysym);
    EXPECT_EQ(X11KeyCodeFromKeysym(row.keysym), row.code) << name;
    KeyCode keycode = XKeysymToKeycode(d_, row.keysym);
    if (!keycode || XkbKeycodeToKeysym(d_, keycode, 0, 0) != row.keysym) continue;
    // The unshifted keysym counts, whatever the state.
    EXPECT_EQ(CodeOfPress(d_, keycode, ShiftMask), row.code) << name;
    ++onKeyboard;
  }
  // The default keyboard carries nearly all of them unshifted.
  EXPECT_GE(onKeyboard, static_cast<int>(rows.size()) - 15) << onKeyboard << " of " << rows.size();
}

// The five keys of the simulator on the layouts of the keyboards it meets,
// switched on the test server with setxkbmap: Escape, space, the keys marked
// 1 and 2 (AZERTY carries the digits shifted) and S (Cyrillic and Greek
// letters on Russian and Greek keyboards). On US and German keyboards every
// key still gives what its unshifted keysym gives through the table.
TEST_F(XServerTest, KeyCodesOnOtherLayouts) {
  const std::string display = getenv("DISPLAY");
  auto setLayout = [&](const std::string& layout) {
    return system(("setxkbmap -display " + display + " " + layout).c_str()) == 0;
  };
  std::string before = "us";
  if (FILE* p = popen(("setxkbmap -display " + display + " -query").c_str(), "r")) {
    char line[256];
    while (fgets(line, sizeof line, p))
      if (strncmp(line, "layout:", 7) == 0) before = strtok(line + 7, " \n");
    pclose(p);
  }
  ASSERT_TRUE(setLayout("us"));
  const KeySym marks[] = {XK_Escape, XK_space, XK_1, XK_2, XK_s};
  std::vector<KeyCode> keys;
  {
    Display* us = XOpenDisplay(display.c_str());
    for (KeySym k : marks) keys.push_back(XKeysymToKeycode(us, k));
    XCloseDisplay(us);
  }
  for (const char* layout : {"fr", "be", "de", "ru", "gr", "us"}) {
    ASSERT_TRUE(setLayout(layout)) << layout;
    Display* d = XOpenDisplay(display.c_str());  // a keymap fetched after the switch
    std::vector<Int> codes;
    for (KeyCode k : keys) codes.push_back(CodeOfPress(d, k));
    EXPECT_EQ(codes, (std::vector<Int>{27, 32, 49, 50, 83})) << layout;
    if (strcmp(layout, "us") == 0 || strcmp(layout, "de") == 0) {
      int low = 0, high = 0;
      XDisplayKeycodes(d, &low, &high);
      XKeyEvent key{};
      key.display = d;
      for (int k = low; k <= high; ++k) {
        key.keycode = static_cast<unsigned>(k);
        EXPECT_EQ(CodeOfPress(d, key.keycode), X11KeyCodeFromKeysym(XLookupKeysym(&key, 0)))
            << layout << " key " << k;
      }
    }
    XCloseDisplay(d);
  }
  EXPECT_TRUE(setLayout(before));
}

// The translation of button and motion events needs no server.
TEST(X11Translate, ButtonsAndMotionBecomeMouseEvents) {
  InitEventModule();
  EventRecorder recorder;
  auto send = [](int type, unsigned button, int x, int y) {
    XEvent e{};
    e.xbutton.type = type;
    e.xbutton.button = button;
    e.xbutton.x = x;
    e.xbutton.y = y;
    X11TranslateEvent(&e);
  };
  for (unsigned b = 1; b <= 7; ++b) {
    send(ButtonPress, b, static_cast<int>(b), 2);
    send(ButtonRelease, b, 3, 4);
  }
  XEvent motion{};
  motion.xmotion.type = MotionNotify;
  motion.xmotion.x = -6;
  motion.xmotion.y = 66;
  X11TranslateEvent(&motion);
  XEvent focus{};
  focus.type = FocusOut;
  X11TranslateEvent(&focus);
  std::vector<RecordedEvent> expected = {
      {EVENT_MOUSEDOWN, 1, 1, 2},   {EVENT_MOUSEUP, 1, 3, 4},     {EVENT_MOUSEDOWN, 3, 2, 2},
      {EVENT_MOUSEUP, 3, 3, 4},     {EVENT_MOUSEDOWN, 2, 3, 2},   {EVENT_MOUSEUP, 2, 3, 4},
      {EVENT_MOUSEWHEEL, 1, 4, 2},  {EVENT_MOUSEWHEEL, -1, 5, 2}, {EVENT_MOUSEDOWN, -1, 6, 2},
      {EVENT_MOUSEUP, -1, 3, 4},    {EVENT_MOUSEDOWN, -2, 7, 2},  {EVENT_MOUSEUP, -2, 3, 4},
      {EVENT_MOUSEMOVE, 0, -6, 66},
  };
  EXPECT_EQ(recorder.events, expected);
}

// --- in a child process --------------------------------------------------------

void TouchXAtExit() {
  HideMouse();
  ShowMouse();
  SetPointerPosition(1, 1);
  PumpSystemEvents();
  X11Poll();
  printf("at-exit ran, lost=%d display=%p\n", X11ConnectionLost() ? 1 : 0,
         static_cast<void*>(X11Display()));
}

int LoseTheServer() {
  InitPolledInputModule();
  Display* d = X11Display();
  if (!d) return 10;
  X11SetEventWindow(DefaultRootWindow(d));
  kxRegisterAtExit(&TouchXAtExit);
  shutdown(ConnectionNumber(d), SHUT_RDWR);  // as if the server had gone
  PumpSystemEvents();
  printf("the pump came back\n");
  return 2;
}
TEST(X11ChildCase, LoseTheServer) { std::exit(LoseTheServer()); }

TEST(X11Server, LosingTheServerEndsWithOneLineAndStatus1) {
  const char* display = getenv("DISPLAY");
  ASSERT_TRUE(display && *display) << "no DISPLAY: run under tools/with-xserver.sh";
  ChildResult r = RunChildCaseCaught("LoseTheServer");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(r.err, "lifesim: lost the connection to the X server " + std::string(display) + "\n");
  EXPECT_EQ(r.out, "at-exit ran, lost=1 display=(nil)\n");
}

int TerminateDuringPoll() {
  kxInstallSignalHandlers();
  InitSystemModule();
  raise(SIGTERM);
  printf("recorded\n");
  fflush(stdout);
  if (getenv("LIFESIM_INPUT_WAIT"))
    WaitSystemEvents();
  else
    PumpSystemEvents();
  printf("the pump came back\n");
  return 3;
}
TEST(X11ChildCase, TerminateDuringPoll) { std::exit(TerminateDuringPoll()); }

TEST(X11Server, TerminationSignalIsReportedAtTheNextPump) {
  for (const char* wait : {"", "1"}) {
    ChildResult r = RunChildCaseCaught("TerminateDuringPoll", {{"LIFESIM_INPUT_WAIT", wait}});
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_EQ(r.out, "recorded\n");
    EXPECT_NE(r.err.find(std::to_string(SIGTERM)), std::string::npos) << r.err;
  }
}

}  // namespace
