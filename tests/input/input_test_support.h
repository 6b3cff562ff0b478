// Helpers of the input tests: a driver that pumps nothing, a hook that
// records what goes down the event chain, and child processes that run a
// named scenario of this same program (for what needs a fresh process: no
// display, console input, a lost server, a terminating signal).
#pragma once

#include <initializer_list>
#include <map>
#include <string>
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

struct ChildResult {
  int status = -1;  // exit status, 128 + signal, or -1 when it had to be killed
  std::string out, err;
};

// Runs scenario `name` in a new process of this program, with `env` set (an
// empty value unsets) and `input` on its standard input.
ChildResult RunChild(const std::string& name, const std::map<std::string, std::string>& env = {},
                     const std::string& input = "");

// Registers a scenario; the function's result is the child's exit status.
struct ChildScenario {
  ChildScenario(const char* name, int (*run)());
};
