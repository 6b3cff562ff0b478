// Hook chains and the event queue: random sequences of attach, detach and
// call (with hooks that detach themselves while the chain runs), and of
// queueing, merging, dispatching and reading events, against a model of
// what each chain and the queue must hold.
#include <deque>
#include <vector>

#include "input/event.h"
#include "input/hooks.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

struct Hook {
  Int function;  // index into kFunctions
  Object* context;
  Int priority;
};

struct Call {
  Int function;
  Object* context;
};

std::vector<Call> trace;
Int chainId = -1;  // the chain under test, allocated once

Object* Returns(Int f, Object* data, Object* context) {
  switch (f) {
    case 1: return context;
    case 2: return nullptr;
    default: return data;
  }
}

template <Int F>
Object* Function(Int id, Object* data, Object* context) {
  FUZZ_CHECK(id == chainId);
  trace.push_back({F, context});
  if (F == 3) DetachHook(id, &Function<3>, context);  // leaves while the chain runs
  return Returns(F, data, context);
}

const HookFunction kFunctions[] = {&Function<0>, &Function<1>, &Function<2>, &Function<3>};

// Descending priority; equal priorities in the order attached.
void ModelAttach(std::vector<Hook>& chain, Hook h) {
  size_t at = 0;
  while (at < chain.size() && chain[at].priority >= h.priority) ++at;
  chain.insert(chain.begin() + long(at), h);
}

void ModelDetach(std::vector<Hook>& chain, Int f, Object* context) {
  for (size_t i = 0; i < chain.size(); ++i)
    if (chain[i].function == f && chain[i].context == context) {
      chain.erase(chain.begin() + long(i));
      return;
    }
}

void CheckCall(std::vector<Hook>& chain, Object* data) {
  trace.clear();
  Object* got = CallHooks(chainId, data);
  FUZZ_CHECK(trace.size() == chain.size());
  Object* want = data;
  for (size_t i = 0; i < chain.size(); ++i) {
    FUZZ_CHECK(trace[i].function == chain[i].function && trace[i].context == chain[i].context);
    want = Returns(chain[i].function, want, chain[i].context);
  }
  FUZZ_CHECK(got == want);
  std::vector<Hook> left;
  for (const Hook& h : chain)
    if (h.function != 3) left.push_back(h);
  chain = left;
}

Int TakePriority(FuzzInput& in) {
  switch (in.Byte() % 6) {
    case 0: return INT32_MIN;
    case 1: return INT32_MAX;
    case 2: return -10000;
    default: return in.Range(-3, 3);
  }
}

// What one queued event carries.
struct Queued {
  Int id, data, mods, x, y;
  Object* source;
  Object* extra;
};

bool Merges(Int id) {
  return id == EVENT_TIMERTICK || id == EVENT_GADGETACTION || id == EVENT_WINDOWMOVE ||
         id == EVENT_WINDOWSIZE;
}

void ModelQueue(std::deque<Queued>& queue, const Queued& e, bool merge) {
  if (merge)
    for (Queued& q : queue)
      if (q.id == e.id && q.source == e.source) {
        const Int id = q.id;
        Object* source = q.source;
        q = e;
        q.id = id;
        q.source = source;
        return;
      }
  if (queue.size() < 256) queue.push_back(e);
}

void CheckRead(std::deque<Queued>& queue) {
  TEvent* peeked = PeekQueuedEvent();
  FUZZ_CHECK((peeked == nullptr) == queue.empty());
  const Int id = NextQueuedEvent();
  if (queue.empty()) {
    FUZZ_CHECK(id == 0 && QueuedEventId() == 0 && QueuedEventSource() == nullptr);
    return;
  }
  const Queued want = queue.front();
  queue.pop_front();
  FUZZ_CHECK(id == want.id && QueuedEventData() == want.data && QueuedEventMods() == want.mods);
  FUZZ_CHECK(QueuedEventX() == want.x && QueuedEventY() == want.y);
  FUZZ_CHECK(QueuedEventSource() == want.source && QueuedEventExtra() == want.extra);
  String* text = QueuedEventExtraText();
  FUZZ_CHECK(want.extra && Cast<String>(want.extra) ? text == want.extra : text == &kxBlankString);
}

void Start() {
  InitEventQueueModule();
  chainId = NewHookId();
  // Ids run out after 256 with a runtime error, never past the heads.
  Int more = 0;
  while (!*RaisedText([] { NewHookId(); })) ++more;
  FUZZ_CHECK(chainId + more == 255);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBegin(__builtin_frame_address(0));
  if (chainId < 0) Start();
  FuzzInput in(data, size);
  Object* objects[3] = {nullptr, kxStringFromInt(1), kxArrayNewOneDim("i", 1)};
  auto object = [&] { return objects[in.Byte() % 3]; };
  std::vector<Hook> chain;
  std::deque<Queued> queue;
  for (Int step = 0; step < 600 && !in.Empty(); ++step) {
    const Int f = in.Range(0, 3);
    switch (in.Byte() % 8) {
      case 0:
      case 1: {
        Hook h{f, object(), TakePriority(in)};
        AttachHook(chainId, kFunctions[f], h.context, h.priority);
        ModelAttach(chain, h);
        break;
      }
      case 2: {
        Object* context = object();
        DetachHook(chainId, kFunctions[f], context);
        ModelDetach(chain, f, context);
        break;
      }
      case 3: CheckCall(chain, object()); break;
      case 4: {
        // Ids that were never handed out are refused.
        const Int bad = in.Flag() ? in.Range(256, 1000) : -in.Range(1, 1000);
        FUZZ_CHECK(*RaisedText([&] { CallHooks(bad, nullptr); }) != 0);
        FUZZ_CHECK(*RaisedText([&] { AttachHook(bad, kFunctions[f], nullptr, 0); }) != 0);
        break;
      }
      case 5:
      case 6: {
        // Dispatched down the event chain (the queue merges states), or
        // queued directly with either merge setting; a burst may overfill it.
        const Int ids[] = {EVENT_KEYDOWN, EVENT_MOUSEMOVE, EVENT_TIMERTICK, EVENT_WINDOWSIZE, 0,
                           in.Take<Int>()};
        const Int count = in.Flag() ? in.Range(1, 300) : 1;
        const bool dispatch = in.Flag(), merge = in.Flag();
        for (Int k = 0; k < count; ++k) {
          Queued e{ids[in.Byte() % 6], in.Take<Int>(), in.Take<Int>(), in.Take<Int>(),
                   in.Take<Int>(),     object(),       object()};
          TEvent* event = TEvent::NewEvent(e.id, e.source, e.data, e.mods, e.x, e.y, e.extra);
          if (dispatch) {
            event->Dispatch();
            ModelQueue(queue, e, Merges(e.id));
          } else {
            QueueEvent(event, merge);
            ModelQueue(queue, e, merge);
          }
        }
        break;
      }
      default: CheckRead(queue); break;
    }
  }
  CheckCall(chain, nullptr);
  for (const Hook& h : chain) DetachHook(chainId, kFunctions[h.function], h.context);
  chain.clear();
  CheckCall(chain, nullptr);
  while (!queue.empty()) CheckRead(queue);
  CheckRead(queue);
  kxCollectGarbage();
  return 0;
}
