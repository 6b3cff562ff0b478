#include "tests/input/input_test_support.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

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

std::map<std::string, int (*)()>& Scenarios() {
  static std::map<std::string, int (*)()> scenarios;
  return scenarios;
}

// In a child, runs its scenario instead of the tests, once main has
// registered the stack base and started the clock.
class ScenarioEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    const char* name = getenv("LIFESIM_INPUT_SCENARIO");
    if (!name) return;
    auto it = Scenarios().find(name);
    exit(it == Scenarios().end() ? 97 : it->second());
  }
};

const bool environmentAdded = [] {
  testing::AddGlobalTestEnvironment(new ScenarioEnvironment);
  if (getenv("LIFESIM_INPUT_SCENARIO")) {  // the child's output is the scenario's
    auto& listeners = testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
  }
  return true;
}();

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  unlink(path.c_str());
  return text.str();
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

ChildScenario::ChildScenario(const char* name, int (*run)()) { Scenarios()[name] = run; }

ChildResult RunChild(const std::string& name, const std::map<std::string, std::string>& env,
                     const std::string& input) {
  std::string base = "/tmp/lifesim-input-child." + std::to_string(getpid()) + "." + name;
  std::ofstream(base + ".in") << input;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (!freopen((base + ".in").c_str(), "r", stdin) ||
        !freopen((base + ".out").c_str(), "w", stdout) ||
        !freopen((base + ".err").c_str(), "w", stderr))
      _exit(96);
    setenv("LIFESIM_INPUT_SCENARIO", name.c_str(), 1);
    for (const auto& [key, value] : env)
      value.empty() ? unsetenv(key.c_str()) : setenv(key.c_str(), value.c_str(), 1);
    execl("/proc/self/exe", "test_input", static_cast<char*>(nullptr));
    _exit(98);
  }
  ChildResult result;
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {  // hung: that is the failure
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      status = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (status != -1)
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  unlink((base + ".in").c_str());
  result.out = ReadFile(base + ".out");
  result.err = ReadFile(base + ".err");
  return result;
}
