#include "tests/input/input_test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "input/hooks.h"

KX_CLASS_RECORD(TTestSystem)

void TTestSystem::Poll() {
  ++polls;
  if (onPoll) onPoll(this);
}

void TTestSystem::Wait() {
  ++waits;
  if (onWait) onWait(this);
}

TestSystemScope::TestSystemScope() {
  InitSystemModule();
  previous_ = CurrentHostSystem();
  system_ = New<TTestSystem>();
  SetHostSystem(system_);
}

TestSystemScope::~TestSystemScope() { SetHostSystem(previous_); }

namespace {

EventRecorder* activeRecorder = nullptr;

Object* RecordIntoActive(Int, Object* data, Object*) {
  if (TEvent* e = Cast<TEvent>(data); e && activeRecorder)
    activeRecorder->events.push_back({e->id, e->data, e->x, e->y});
  return data;
}

std::map<std::string, int (*)()>& Scenarios() {
  static std::map<std::string, int (*)()> scenarios;
  return scenarios;
}

// Runs the scenario named in the environment instead of the tests: set up
// by gtest after main has registered the stack base and started the clock.
class ScenarioEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    const char* name = getenv("LIFESIM_INPUT_SCENARIO");
    if (!name) return;
    auto it = Scenarios().find(name);
    if (it == Scenarios().end()) _exit(97);
    int status = it->second();
    fflush(stdout);
    fflush(stderr);
    exit(status);
  }
};

const bool environmentAdded = [] {
  testing::AddGlobalTestEnvironment(new ScenarioEnvironment);
  // A child's standard output belongs to its scenario, not to the report.
  if (getenv("LIFESIM_INPUT_SCENARIO")) {
    auto& listeners = testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
  }
  return true;
}();

}  // namespace

EventRecorder::EventRecorder() {
  InitEventModule();
  activeRecorder = this;
  AttachHook(EventHookId, &RecordIntoActive, nullptr, 1000);
}

EventRecorder::~EventRecorder() {
  DetachHook(EventHookId, &RecordIntoActive, nullptr);
  activeRecorder = nullptr;
}

std::vector<std::pair<Int, Int>> EventRecorder::Only(std::initializer_list<Int> ids) const {
  std::vector<std::pair<Int, Int>> out;
  for (const auto& e : events)
    for (Int id : ids)
      if (e.id == id) out.emplace_back(e.id, e.data);
  return out;
}

ChildScenario::ChildScenario(const char* name, int (*run)()) { Scenarios()[name] = run; }

ChildResult RunChild(const std::string& name, const std::map<std::string, std::string>& env,
                     const std::string& input, int timeoutSeconds) {
  ChildResult result;
  int in[2], out[2], err[2];
  if (pipe(in) || pipe(out) || pipe(err)) return result;
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    setenv("LIFESIM_INPUT_SCENARIO", name.c_str(), 1);
    for (const auto& [key, value] : env) {
      if (value.empty())
        unsetenv(key.c_str());
      else
        setenv(key.c_str(), value.c_str(), 1);
    }
    execl("/proc/self/exe", "test_input", static_cast<char*>(nullptr));
    _exit(98);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // Small inputs only: they fit in the pipe, so writing cannot block.
  size_t written = 0;
  while (written < input.size()) {
    ssize_t n = write(in[1], input.data() + written, input.size() - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  close(in[1]);

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  bool killed = false;
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (poll(fds, 2, static_cast<int>(left)) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (killed)
    result.status = -1;
  else if (WIFEXITED(status))
    result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.status = 128 + WTERMSIG(status);
  return result;
}

std::string UnusedDisplayName() {
  for (int n = 90; n < 200; ++n) {
    std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    struct stat st;
    if (stat(socket.c_str(), &st) != 0 && stat(lock.c_str(), &st) != 0)
      return ":" + std::to_string(n);
  }
  return ":199";
}
