#include "tests/support/test_util.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

std::string ToStd(String* s) {
  std::string out;
  if (!s) return out;
  for (int32_t i = 0; i < s->length; ++i) out.push_back(static_cast<char>(s->units[i] & 0xff));
  return out;
}

String* Str(const std::string& text) {
  return kxStringDecodeBytes(text.data(), static_cast<Int>(text.size()));
}

// Not inlined, so that the caller's stale locals sit above this frame but the
// scratch words of this frame are gone; collections run twice because objects
// found on the stack by the first are only rescheduled for the next.
__attribute__((noinline)) void CollectAll() {
  kxCollectGarbage();
  kxCollectGarbage();
}

namespace {

constexpr char kChildMark[] = "LIFESIM_CHILD_CASE";

// Starts *ChildCase.name in a child; with a `base`, its standard streams are
// base.in, base.out and base.err and the framework's report is left out.
pid_t StartChildCase(const std::string& name, const std::map<std::string, std::string>& env,
                     const std::string& base) {
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (!base.empty() && (!freopen((base + ".in").c_str(), "r", stdin) ||
                        !freopen((base + ".out").c_str(), "w", stdout) ||
                        !freopen((base + ".err").c_str(), "w", stderr)))
    _exit(96);
  for (const auto& [key, value] : env)
    value.empty() ? unsetenv(key.c_str()) : setenv(key.c_str(), value.c_str(), 1);
  setenv(kChildMark, base.empty() ? "1" : kQuietChild, 1);
  const std::string filter = "--gtest_filter=*ChildCase." + name;
  execl("/proc/self/exe", "child", filter.c_str(), static_cast<char*>(nullptr));
  _exit(127);
}

}  // namespace

std::string TakeFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  unlink(path.c_str());
  return text.str();
}

int RunChildCase(const std::string& name, const std::map<std::string, std::string>& env) {
  int status = 0;
  waitpid(StartChildCase(name, env, ""), &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ChildResult RunChildCaseCaught(const std::string& name,
                               const std::map<std::string, std::string>& env,
                               const std::string& input) {
  const std::string base = "/tmp/lifesim-child." + std::to_string(getpid()) + "." + name;
  std::ofstream(base + ".in") << input;
  const pid_t pid = StartChildCase(name, env, base);
  ChildResult result;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
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
  result.out = TakeFile(base + ".out");
  result.err = TakeFile(base + ".err");
  return result;
}

void LeaveOutChildCases() {
  if (getenv(kChildMark)) return;
  std::string filter = GTEST_FLAG_GET(filter);
  filter += filter.find('-') == std::string::npos ? "-*ChildCase.*" : ":*ChildCase.*";
  GTEST_FLAG_SET(filter, filter);
}
