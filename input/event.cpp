// TEvent: the record every window-system report becomes, and its dispatch
// down the EventHookId chain.
#include "input/event.h"

#include "input/hooks.h"
#include "runtime/module.h"

KX_CLASS_RECORD(TEvent, &TEvent::Dispatch, &TEvent::NewEvent)

Int EventHookId = 0;

namespace {

struct EventNameEntry {
  Int id;
  const char* name;
};

constexpr EventNameEntry kEventNames[] = {
    {EVENT_APPSUSPEND, "AppSuspend"},
    {EVENT_APPRESUME, "AppResume"},
    {EVENT_APPTERMINATE, "AppTerminate"},
    {EVENT_APPOPENFILE, "AppOpenFile"},
    {EVENT_KEYDOWN, "KeyDown"},
    {EVENT_KEYUP, "KeyUp"},
    {EVENT_KEYCHAR, "KeyChar"},
    {EVENT_MOUSEDOWN, "MouseDown"},
    {EVENT_MOUSEUP, "MouseUp"},
    {EVENT_MOUSEMOVE, "MouseMove"},
    {EVENT_MOUSEWHEEL, "MouseWheel"},
    {EVENT_MOUSEENTER, "MouseEnter"},
    {EVENT_MOUSELEAVE, "MouseLeave"},
    {EVENT_TIMERTICK, "TimerTick"},
    {EVENT_GADGETACTION, "GadgetAction"},
    {EVENT_GADGETPAINT, "GadgetPaint"},
    {EVENT_GADGETSELECT, "GadgetSelect"},
    {EVENT_GADGETMENU, "GadgetMenu"},
    {EVENT_GADGETOPEN, "GadgetOpen"},
    {EVENT_GADGETCLOSE, "GadgetClose"},
    {EVENT_GADGETDONE, "GadgetDone"},
    {EVENT_WINDOWMOVE, "WindowMove"},
    {EVENT_WINDOWSIZE, "WindowSize"},
    {EVENT_WINDOWCLOSE, "WindowClose"},
    {EVENT_WINDOWACTIVATE, "WindowActivate"},
    {EVENT_WINDOWACCEPT, "WindowAccept"},
    {EVENT_MENUACTION, "MenuAction"},
};

String* EventName(Int id) {
  for (const auto& entry : kEventNames)
    if (entry.id == id) return kxStringDecodeCText(entry.name);
  return kxStringConcat(KX_STR("Unknown Event, id="), kxStringFromInt(id));
}

String* Append(String* text, const char* label, Int value) {
  return kxStringConcat(kxStringConcat(text, kxStringDecodeCText(label)), kxStringFromInt(value));
}

}  // namespace

String* TEvent::AsText() {
  String* text = EventName(id);
  text = Append(text, ": data=", data);
  text = Append(text, ", mods=", mods);
  text = Append(text, ", x=", x);
  text = Append(text, ", y=", y);
  text = kxStringConcat(text, KX_STR(", extra=\""));
  if (String* s = Cast<String>(extra)) text = kxStringConcat(text, s);
  return kxStringConcat(text, KX_STR("\""));
}

void TEvent::Dispatch() { CallHooks(EventHookId, this); }

TEvent* TEvent::NewEvent(Int id, Object* source, Int data, Int mods, Int x, Int y, Object* extra) {
  TEvent* event = New<TEvent>();
  event->id = id;
  event->source = source;
  event->data = data;
  event->mods = mods;
  event->x = x;
  event->y = y;
  event->extra = extra;
  return event;
}

Int InitEventModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  InitHooksModule();
  EventHookId = NewHookId();
  return 0;
}
