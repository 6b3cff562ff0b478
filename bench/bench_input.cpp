// Input costs per frame: one key event down the event chain into polled
// input, and a KeyHit query that finds nothing pending (the simulator makes
// five of those per frame). The second needs an X server (DISPLAY).
#include <benchmark/benchmark.h>

#include "input/event.h"
#include "input/polled.h"
#include "input/system.h"
#include "input/x11.h"

namespace {

void SetUpInput() {
  InitEventQueueModule();
  InitPolledInputModule();
  StartPolledInput(nullptr);
}

// A prepared event, as the pump hands it down: the hook chain, polled
// input's state change and the queue's drop once it is full.
void BM_DispatchKeyDown(benchmark::State& state) {
  SetUpInput();
  Ref<TEvent> down = TEvent::NewEvent(EVENT_KEYDOWN, nullptr, 65, 0, 0, 0, nullptr);
  Ref<TEvent> up = TEvent::NewEvent(EVENT_KEYUP, nullptr, 65, 0, 0, 0, nullptr);
  for (auto _ : state) {
    down->Dispatch();
    up->Dispatch();
  }
  state.SetItemsProcessed(state.iterations() * 2);
  state.SetLabel("per pair KeyDown + KeyUp");
}
BENCHMARK(BM_DispatchKeyDown);

// The same with the event made on the way, as EmitSystemEvent does.
void BM_EmitKeyDown(benchmark::State& state) {
  SetUpInput();
  for (auto _ : state) EmitSystemEvent(EVENT_KEYDOWN, nullptr, 65, 0, 0, 0, nullptr);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EmitKeyDown);

void BM_KeyHitNothingPending(benchmark::State& state) {
  SetUpInput();
  if (!X11Display()) {
    state.SkipWithError("no X display: run under tools/with-xserver.sh");
    return;
  }
  PumpSystemEvents();
  for (auto _ : state) benchmark::DoNotOptimize(KeyHit(27));
}
BENCHMARK(BM_KeyHitNothingPending);

}  // namespace
