#include "tests/support/test_util.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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
}

int RunChildCase(const std::string& name, const std::map<std::string, std::string>& env) {
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [key, value] : env)
      value.empty() ? unsetenv(key.c_str()) : setenv(key.c_str(), value.c_str(), 1);
    setenv(kChildMark, "1", 1);
    const std::string filter = "--gtest_filter=*ChildCase." + name;
    execl("/proc/self/exe", "child", filter.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void LeaveOutChildCases() {
  if (getenv(kChildMark)) return;
  std::string filter = GTEST_FLAG_GET(filter);
  filter += filter.find('-') == std::string::npos ? "-*ChildCase.*" : ":*ChildCase.*";
  GTEST_FLAG_SET(filter, filter);
}
