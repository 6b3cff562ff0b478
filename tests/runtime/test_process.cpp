// Start-up, exit and signals seen from outside: each test runs the probe
// program in a child process and checks its output, its standard error and
// its exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef LIFESIM_PROBE_PATH
#error "LIFESIM_PROBE_PATH must name the probe program"
#endif

namespace {

struct ProbeRun {
  int status = -1;   // exit status, or -1 when killed by a signal
  int killedBy = 0;  // the signal that killed it
  std::string out;
  std::string err;
};

struct ProbeOptions {
  std::string exe = LIFESIM_PROBE_PATH;
  std::string cwd;
  int signalWhenReady = 0;  // sent once "ready\n" appears on its output
};

bool Drain(int& fd, std::string& into) {
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    into.append(buffer, static_cast<size_t>(n));
    return true;
  }
  if (n < 0 && errno == EINTR) return true;
  close(fd);
  fd = -1;
  return false;
}

ProbeRun RunProbe(const std::vector<std::string>& args, const ProbeOptions& options = {}) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return {};
  }
  const pid_t pid = fork();
  if (pid == 0) {
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    setenv("ASAN_OPTIONS", "detect_stack_use_after_return=0:detect_leaks=0", 0);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(options.exe.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(options.exe.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  ProbeRun run;
  bool signalled = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int fds[2] = {out[0], err[0]};
  while (fds[0] >= 0 || fds[1] >= 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      ADD_FAILURE() << "probe did not finish in time; output so far: " << run.out;
      break;
    }
    pollfd polled[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
    if (poll(polled, 2, 100) <= 0) continue;  // timeout or the clock's tick
    if (polled[0].revents) Drain(fds[0], run.out);
    if (polled[1].revents) Drain(fds[1], run.err);
    if (options.signalWhenReady && !signalled && run.out.find("ready\n") != std::string::npos) {
      kill(pid, options.signalWhenReady);
      signalled = true;
    }
  }
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.killedBy = WTERMSIG(status);
  return run;
}

std::string Line(const std::string& out, const std::string& key) {
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return "<missing " + key + ">";
}

std::string DirectoryOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  std::string result = real ? real : path;
  free(real);
  return result;
}

// A fresh directory under the system's temporary directory.
std::string MakeTempDir() {
  char templ[] = "/tmp/lifesim-probe-XXXXXX";
  const char* dir = mkdtemp(templ);
  return dir ? RealPath(dir) : "";
}

void CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary);
  out << in.rdbuf();
  out.close();
  chmod(to.c_str(), 0755);
}

const std::string kSignalText = "appstub.linux signal handler ";

}  // namespace

TEST(ProcessStartup, RecordsStartDirectoryAndMovesToTheExecutables) {
  const std::string elsewhere = MakeTempDir();
  ASSERT_FALSE(elsewhere.empty());
  ProbeOptions options;
  options.cwd = elsewhere;
  const ProbeRun run = RunProbe({"dirs", "two words", ""}, options);
  rmdir(elsewhere.c_str());

  const std::string exe = RealPath(LIFESIM_PROBE_PATH);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Line(run.out, "start"), elsewhere);
  EXPECT_EQ(Line(run.out, "path"), exe);
  EXPECT_EQ(Line(run.out, "progdir"), DirectoryOf(exe));
  EXPECT_EQ(Line(run.out, "cwd"), DirectoryOf(exe));
  EXPECT_EQ(Line(run.out, "title"), "ZorbeVel Application");
  EXPECT_EQ(Line(run.out, "args"), "4|" + std::string(LIFESIM_PROBE_PATH) + "|dirs|two words|");
}

// Both the working directory and the executable's path exceed the 1024
// bytes that a fixed buffer would hold; both must come through whole.
TEST(ProcessStartup, PathsLongerThanOneKilobyteComeThroughWhole) {
  const std::string base = MakeTempDir();
  ASSERT_FALSE(base.empty());
  std::string deep = base;
  std::vector<std::string> made;
  while (deep.size() < 1300) {
    deep += "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0) << deep;
    made.push_back(deep);
  }
  const std::string exe = deep + "/probe-copy";
  CopyFile(LIFESIM_PROBE_PATH, exe);

  ProbeOptions options;
  options.exe = exe;
  options.cwd = deep;
  const ProbeRun run = RunProbe({"dirs"}, options);
  unlink(exe.c_str());
  for (auto it = made.rbegin(); it != made.rend(); ++it) rmdir(it->c_str());
  rmdir(base.c_str());

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Line(run.out, "start"), deep);
  EXPECT_EQ(Line(run.out, "path"), exe);
  EXPECT_EQ(Line(run.out, "progdir"), deep);
  EXPECT_EQ(Line(run.out, "cwd"), deep);
}

TEST(ProcessExit, EndRunsAtExitRoutinesInReverseOrder) {
  const ProbeRun run = RunProbe({"atexit"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "body\nthird second first ");
  EXPECT_EQ(run.err, "");
}

// The report is the error's text alone: no newline, nothing else.
TEST(ProcessExit, UnhandledErrorsReportTheirTextAndExit255) {
  ProbeRun run = RunProbe({"error"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.err, "probe failure");
  EXPECT_EQ(run.out, "cleanup");

  run = RunProbe({"null"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.err, "Attempt to access field or method of Null object");
}

// An error or a fault inside an at-exit routine still gives one report and
// status 255, and the process does not hang or loop.
TEST(ProcessExit, FailuresDuringExitEndTheProcess) {
  ProbeRun run = RunProbe({"atexit-raise"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.err, "late failure");

  run = RunProbe({"atexit-fault"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.err, kSignalText + "11");
}

TEST(ProcessExit, TryStackStartsEmptyAndGrowsByTen) {
  const ProbeRun run = RunProbe({"trystack"});
  EXPECT_EQ(run.status, 0) << run.err;
  // capacity before, after the first region, at the eleventh (depth 11),
  // depth after all regions are left
  EXPECT_EQ(run.out, "0 10 20 11 0");
}

TEST(ProcessSignals, FaultsAreReportedWithTheirNumber) {
  struct Case {
    std::vector<std::string> args;
    int sig;
  };
  const Case cases[] = {
      {{"segv"}, SIGSEGV},
      {{"raise", std::to_string(SIGBUS)}, SIGBUS},
      {{"raise", std::to_string(SIGTRAP)}, SIGTRAP},
      {{"overflow"}, SIGSEGV},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const ProbeRun run = RunProbe(c.args);
    EXPECT_EQ(run.killedBy, 0);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, kSignalText + std::to_string(c.sig));
    EXPECT_EQ(run.out, "cleanup");
  }
}

TEST(ProcessSignals, TerminationRequestsEndAtTheNextDelayTick) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    ProbeOptions options;
    options.signalWhenReady = sig;
    const ProbeRun run = RunProbe({"wait"}, options);
    EXPECT_EQ(run.killedBy, 0);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, kSignalText + std::to_string(sig));
    EXPECT_EQ(run.out, "ready\ncleanup");
  }
}

// The report is an ordinary runtime error: a protected region catches it.
TEST(ProcessSignals, TerminationCanBeCaughtByAProtectedRegion) {
  ProbeOptions options;
  options.signalWhenReady = SIGTERM;
  const ProbeRun run = RunProbe({"wait-caught"}, options);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "ready\ncaught " + kSignalText + "15\n");
  EXPECT_EQ(run.err, "");
}
