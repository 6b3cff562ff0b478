// Helpers of the input tests: a driver that pumps nothing and a hook that
// records what goes down the event chain.
#pragma once

#include <initializer_list>
#include <utility>
#include <vector>

#include "input/event.h"
#include "input/system.h"

// A system driver with no window system: Poll and Wait count their calls
// and run what the test put in onPoll / onWait.
class TTestSystem : public THostSystem {
  KX_CLASS(TTestSystem, THostSystem)
 public:
  void Poll() override {
    ++polls;
    if (onPoll) onPoll(this);
  }
  void Wait() override {
    ++waits;
    if (onWait) onWait(this);
  }
  int polls = 0, waits = 0;
  void (*onPoll)(TTestSystem* self) = nullptr;
  void (*onWait)(TTestSystem* self) = nullptr;
};

// Makes a TTestSystem current while it lives, then restores the driver.
class TestSystemScope {
 public:
  TestSystemScope();
  ~TestSystemScope() { SetHostSystem(previous_); }
  TTestSystem* operator->() const { return system_; }

 private:
  Ref<THostSystem> previous_;
  Ref<TTestSystem> system_;
};

struct RecordedEvent {
  Int id, data, x, y;
  bool operator==(const RecordedEvent&) const = default;
};
using Pairs = std::vector<std::pair<Int, Int>>;

// Records every event dispatched on EventHookId while it lives.
class EventRecorder {
 public:
  EventRecorder();
  ~EventRecorder();
  std::vector<RecordedEvent> events;
  Pairs Only(std::initializer_list<Int> ids) const;  // (id, data) of these ids
};
