#include "tests/input/input_test_support.h"

#include "input/hooks.h"

KX_CLASS_RECORD(TTestSystem)

TestSystemScope::TestSystemScope() {
  InitSystemModule();
  previous_ = CurrentHostSystem();
  system_ = New<TTestSystem>();
  SetHostSystem(system_);
}

namespace {

EventRecorder* recorder = nullptr;

Object* Record(Int, Object* data, Object*) {
  if (TEvent* e = Cast<TEvent>(data); e && recorder)
    recorder->events.push_back({e->id, e->data, e->x, e->y});
  return data;
}

}  // namespace

EventRecorder::EventRecorder() {
  InitEventModule();
  recorder = this;
  AttachHook(EventHookId, &Record, nullptr, 1000);
}

EventRecorder::~EventRecorder() {
  DetachHook(EventHookId, &Record, nullptr);
  recorder = nullptr;
}

Pairs EventRecorder::Only(std::initializer_list<Int> ids) const {
  Pairs out;
  for (const auto& e : events)
    for (Int id : ids)
      if (e.id == id) out.emplace_back(e.id, e.data);
  return out;
}
