// Events dispatched on EventHookId, and the event queue that keeps up to
// 256 of them for programs that read events one by one.
#pragma once

#include "runtime/kxstring.h"
#include "runtime/object.h"

enum : Int {
  EVENT_APPSUSPEND = 0x101,
  EVENT_APPRESUME = 0x102,
  EVENT_APPTERMINATE = 0x103,
  EVENT_APPOPENFILE = 0x104,
  EVENT_KEYDOWN = 0x201,
  EVENT_KEYUP = 0x202,
  EVENT_KEYCHAR = 0x203,
  EVENT_MOUSEDOWN = 0x401,
  EVENT_MOUSEUP = 0x402,
  EVENT_MOUSEMOVE = 0x403,
  EVENT_MOUSEWHEEL = 0x404,
  EVENT_MOUSEENTER = 0x405,
  EVENT_MOUSELEAVE = 0x406,
  EVENT_TIMERTICK = 0x801,
  EVENT_GADGETACTION = 0x2001,
  EVENT_GADGETPAINT = 0x2002,
  EVENT_GADGETSELECT = 0x2003,
  EVENT_GADGETMENU = 0x2004,
  EVENT_GADGETOPEN = 0x2005,
  EVENT_GADGETCLOSE = 0x2006,
  EVENT_GADGETDONE = 0x2007,
  EVENT_WINDOWMOVE = 0x4001,
  EVENT_WINDOWSIZE = 0x4002,
  EVENT_WINDOWCLOSE = 0x4003,
  EVENT_WINDOWACTIVATE = 0x4004,
  EVENT_WINDOWACCEPT = 0x4005,
  EVENT_MENUACTION = 0x8001,
};

class TEvent : public Object {
  KX_CLASS(TEvent, Object)
 public:
  Int id = 0;
  Ref<Object> source;
  Int data = 0;
  Int mods = 0;
  Int x = 0;
  Int y = 0;
  Ref<Object> extra;

  String* AsText() override;
  virtual void Dispatch();
  static TEvent* NewEvent(Int id, Object* source, Int data, Int mods, Int x, Int y, Object* extra);
};

extern Int EventHookId;

void QueueEvent(TEvent* event, bool merge);
TEvent* PeekQueuedEvent();
Int NextQueuedEvent();
Int WaitQueuedEvent();
Int QueuedEventCount();  // events waiting; reading it does not start the queue
Int QueuedEventId();
Int QueuedEventData();
Int QueuedEventMods();
Int QueuedEventX();
Int QueuedEventY();
Object* QueuedEventExtra();
String* QueuedEventExtraText();
Object* QueuedEventSource();
Int QueuedEventSourceHandle();

Int InitEventModule();
Int InitEventQueueModule();
