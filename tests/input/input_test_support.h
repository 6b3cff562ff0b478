// Helpers of the input tests: a driver that pumps nothing, a hook that
// records what goes down the event chain, and child processes that run a
// named scenario of this same program (for what must happen in a fresh
// process: no display, console input, a lost server, a terminating signal).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "input/event.h"
#include "input/system.h"

// A system driver with no window system: Poll and Wait run what the test
// put in onPoll / onWait and count the calls.
class TTestSystem : public THostSystem {
  KX_CLASS(TTestSystem, THostSystem)
 public:
  void Poll() override;
  void Wait() override;
  void MovePointer(Int, Int) override {}
  void SetPointerVisible(Int) override {}
  int polls = 0;
  int waits = 0;
  void (*onPoll)(TTestSystem* self) = nullptr;
  void (*onWait)(TTestSystem* self) = nullptr;
};

// Makes a TTestSystem current for the life of the guard, then puts the
// previous driver back.
class TestSystemScope {
 public:
  TestSystemScope();
  ~TestSystemScope();
  TTestSystem* system() const { return system_; }

 private:
  Ref<THostSystem> previous_;
  Ref<TTestSystem> system_;
};

struct RecordedEvent {
  Int id, data, x, y;
  bool operator==(const RecordedEvent& o) const {
    return id == o.id && data == o.data && x == o.x && y == o.y;
  }
};

// Records every TEvent dispatched on EventHookId while it lives (attached
// at a priority above every listener of the program).
class EventRecorder {
 public:
  EventRecorder();
  ~EventRecorder();
  std::vector<RecordedEvent> events;
  // The recorded events of these ids only, in order, as (id, data) pairs.
  std::vector<std::pair<Int, Int>> Only(std::initializer_list<Int> ids) const;
};

struct ChildResult {
  int status = -1;  // exit status, or 128 + signal, or -1 when it had to be killed
  std::string out, err;
};

// Runs scenario `name` (registered with ChildScenario) in a new process of
// this program. `env` sets variables (an empty value unsets one); `input`
// is its standard input. Killed after timeoutSeconds.
ChildResult RunChild(const std::string& name, const std::map<std::string, std::string>& env = {},
                     const std::string& input = "", int timeoutSeconds = 30);

// Registers a scenario; its function's result is the child's exit status.
struct ChildScenario {
  ChildScenario(const char* name, int (*run)());
};

// A display name that no server answers at.
std::string UnusedDisplayName();
