// The event queue: a ring of 256 events fed by a hook at the very end of the
// EventHookId chain, for programs that read events one at a time. The put
// and get counters only grow (modulo 2^32); a counter's slot is its low
// byte, the queue is empty when they are equal and full when put - get is
// 256, so the counters are kept unsigned and wrap without harm.
#include <cstdint>

#include "input/event.h"
#include "input/hooks.h"
#include "input/system.h"
#include "runtime/array.h"
#include "runtime/module.h"

namespace {

constexpr uint32_t kQueueSize = 256;
constexpr Int kQueueHookPriority = -10000;

Ref<Array> ring;  // ":TEvent"[256]
uint32_t putCount = 0;
uint32_t getCount = 0;
Ref<TEvent> nullEvent;
Ref<TEvent> currentEvent;

uint32_t Pending() { return putCount - getCount; }

TEvent* Slot(uint32_t counter) {
  return static_cast<TEvent*>(ring->RefElements()[counter % kQueueSize]);
}

// Ids whose newest report replaces an older one still waiting: ticks, moves
// and resizes are states, not happenings.
bool MergesById(Int id) {
  return id == EVENT_TIMERTICK || id == EVENT_GADGETACTION || id == EVENT_WINDOWMOVE ||
         id == EVENT_WINDOWSIZE;
}

Object* QueueHook(Int, Object* data, Object*) {
  TEvent* event = Cast<TEvent>(data);
  if (!event) return nullptr;
  QueueEvent(event, MergesById(event->id));
  return event;
}

// Takes the event at get, or the null event when nothing arrives.
Int TakeNext() {
  if (Pending() == 0) {
    currentEvent = nullEvent.get();
    return 0;
  }
  currentEvent = Slot(getCount);
  getCount += 1;
  return currentEvent->id;
}

// Readers may come before anything was queued: the null event answers them.
TEvent* Current() {
  InitEventQueueModule();
  return currentEvent;
}

}  // namespace

void QueueEvent(TEvent* event, bool merge) {
  InitEventQueueModule();
  if (!event) return;
  if (merge) {
    for (uint32_t i = getCount; i != putCount; ++i) {
      TEvent* queued = Slot(i);
      if (queued->id != event->id || queued->source.get() != event->source.get()) continue;
      queued->data = event->data;
      queued->mods = event->mods;
      queued->x = event->x;
      queued->y = event->y;
      queued->extra = event->extra.get();
      return;
    }
  }
  if (Pending() >= kQueueSize) return;  // full: the newcomer is lost
  kxArraySetRef(ring, static_cast<Int>(putCount % kQueueSize), event);
  putCount += 1;
}

TEvent* PeekQueuedEvent() {
  InitEventQueueModule();
  if (Pending() == 0) PumpSystemEvents();
  return Pending() == 0 ? nullptr : Slot(getCount);
}

Int NextQueuedEvent() {
  InitEventQueueModule();
  if (Pending() == 0) PumpSystemEvents();
  return TakeNext();
}

Int WaitQueuedEvent() {
  InitEventQueueModule();
  while (Pending() == 0) WaitSystemEvents();
  return TakeNext();
}

Int QueuedEventCount() { return static_cast<Int>(Pending()); }

Int QueuedEventId() { return Current()->id; }
Int QueuedEventData() { return Current()->data; }
Int QueuedEventMods() { return Current()->mods; }
Int QueuedEventX() { return Current()->x; }
Int QueuedEventY() { return Current()->y; }
Object* QueuedEventExtra() { return Current()->extra; }
Object* QueuedEventSource() { return Current()->source; }
Int QueuedEventSourceHandle() { return kxObjectToHandle(Current()->source); }

String* QueuedEventExtraText() {
  String* s = Cast<String>(Current()->extra);
  return s ? s : &kxBlankString;
}

Int InitEventQueueModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  InitEventModule();
  InitSystemModule();
  ring = kxArrayNew(":TEvent", 1, static_cast<Int>(kQueueSize));
  nullEvent = New<TEvent>();
  currentEvent = nullEvent.get();
  AttachHook(EventHookId, &QueueHook, nullptr, kQueueHookPriority);
  return 0;
}
