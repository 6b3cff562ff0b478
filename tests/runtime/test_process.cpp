// Start-up, exit and signals seen from outside: each case runs the probe in
// a child process and checks its output, standard error and exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "tests/support/test_util.h"

namespace fs = std::filesystem;

namespace {

struct ProbeRun {
  int status;
  std::string out, err;
};

// Runs `exe args` from `cwd` through the shell (paths here need no quoting).
ProbeRun Probe(const std::string& args, const fs::path& cwd = fs::temp_directory_path(),
               const std::string& exe = LIFESIM_PROBE_PATH) {
  const fs::path out = fs::temp_directory_path() / ("probe-out-" + std::to_string(getpid()));
  const fs::path err = fs::path(out).concat(".err");
  const std::string command = "cd " + cwd.string() + " && ASAN_OPTIONS=detect_leaks=0 timeout 30 " +
                              exe + " " + args + " >" + out.string() + " 2>" + err.string();
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, TakeFile(out), TakeFile(err)};
}

std::string Field(const std::string& out, const std::string& key) {
  const size_t at = out.find(key + "=");
  return at == std::string::npos
             ? "?"
             : out.substr(at + key.size() + 1, out.find('\n', at) - at - key.size() - 1);
}

const std::string kSignal = "appstub.linux signal handler ";

}  // namespace

// kxStartDir is where it started; the working directory becomes the
// executable's. Paths past 1024 bytes (a deep directory holding a copy of
// the probe) come through whole.
TEST(ProcessStartup, RecordsPathsAndMovesToTheExecutablesDirectory) {
  const fs::path base = fs::canonical(fs::temp_directory_path()) /
                        ("lifesim-probe-" + std::to_string(getpid()));
  fs::path deep = base;
  while (deep.string().size() < 1300) deep /= std::string(200, 'd');
  fs::create_directories(deep);
  const std::string exe = fs::canonical(LIFESIM_PROBE_PATH).string();
  const std::string dir = fs::path(exe).parent_path().string();
  fs::copy_file(exe, deep / "copy");
  const ProbeRun run = Probe("dirs 'two words' ''", base);
  const ProbeRun deepRun = Probe("dirs", deep, (deep / "copy").string());
  fs::remove_all(base);

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Field(run.out, "start"), base.string());
  EXPECT_EQ(Field(run.out, "path"), exe);
  EXPECT_EQ(Field(run.out, "progdir") + Field(run.out, "cwd"), dir + dir);
  EXPECT_EQ(Field(run.out, "title"), "ZorbeVel Application");
  EXPECT_EQ(Field(run.out, "try"), "0,10");  // the try stack starts with no room
  EXPECT_EQ(Field(run.out, "args"), "4|" + std::string(LIFESIM_PROBE_PATH) + "|dirs|two words|");
  EXPECT_EQ(Field(deepRun.out, "start") + Field(deepRun.out, "cwd"), deep.string() + deep.string());
  EXPECT_EQ(Field(deepRun.out, "path"), (deep / "copy").string());
}

TEST(ProcessExit, StatusReportAndAtExitRoutines) {
  const struct {
    std::string args;
    int status;
    const char* out;
    std::string err;
  } cases[] = {
      // Reverse order of registration, all before a library's exit handlers.
      {"atexit", 0, "[second][first][cleanup][library]", ""},
      {"error", 255, "[cleanup]", "probe failure"},  // the text alone, no newline
      // However many there are, and with kxEnd inside one: that routine
      // ends, the earlier ones still run, the exit keeps its status.
      {"atexit-many", 0, nullptr, ""},  // [69] .. [0]
      {"atexit-end", 0, "[ending][first][cleanup][library]", ""},
      {"error-atexit-end", 255, "[ending][first][cleanup][library]", "probe failure"},
      {"atexit-fault", 255, "", kSignal + "11"},  // a fault while exiting ends it
      {"segv", 255, "[cleanup]", kSignal + "11"},
      // The watchdog ends a fault's exit that an at-exit routine blocks.
      {"segv-blocked-exit", 255, "", kSignal + "11"},
      {"overflow", 255, "[cleanup]", kSignal + "11"},  // reported from the alternate stack
      {"raise " + std::to_string(SIGBUS), 255, "[cleanup]", kSignal + std::to_string(SIGBUS)},
      {"raise " + std::to_string(SIGTRAP), 255, "[cleanup]", kSignal + std::to_string(SIGTRAP)},
      // Termination requests are raised at the next tick of the running delay.
      {"raise " + std::to_string(SIGTERM), 255, "[cleanup]", kSignal + std::to_string(SIGTERM)},
      {"raise " + std::to_string(SIGINT), 255, "[cleanup]", kSignal + std::to_string(SIGINT)},
      {"raise " + std::to_string(SIGHUP), 255, "[cleanup]", kSignal + std::to_string(SIGHUP)},
      {"raise " + std::to_string(SIGPIPE), 255, "[cleanup]", kSignal + std::to_string(SIGPIPE)},
      // ... and are never swallowed by the protected region that is open.
      {"raise-in-region " + std::to_string(SIGTERM), 255, "[cleanup]",
       kSignal + std::to_string(SIGTERM)},
      // ... and end a wait for a line of standard input.
      {"read-blocked " + std::to_string(SIGTERM), 255, "[reading][cleanup]",
       kSignal + std::to_string(SIGTERM)},
      {"read-blocked " + std::to_string(SIGINT), 255, "[reading][cleanup]",
       kSignal + std::to_string(SIGINT)},
      // A collection during a fault's exit (on the alternate stack) neither
      // scans the wrong stack nor stops the remaining routines.
      {"segv-collect", 255, "[allocated][cleanup]", kSignal + "11"},
      // A fault on another thread: one text, the exit on the main thread.
      {"thread-fault", 255, "[main][cleanup]", kSignal + "11"},
      // Memory refused: one line, the at-exit routines, on the main thread.
      {"out-of-memory", 255, "[cleanup]", "lifesim: out of memory (2147483648 bytes)\n"},
#ifndef __SANITIZE_ADDRESS__  // its allocator and its reserved address space
      {"out-of-memory-thread", 255, "[main][cleanup]", "lifesim: out of memory\n"},
      {"starved-fault", 255, "[fed][starved][cleanup]", "lifesim: out of memory\n"},
#endif
  };
  std::string many;
  for (int i = 69; i >= 0; --i) many += "[" + std::to_string(i) + "]";
  many += "[cleanup][library]";
  for (const auto& c : cases) {
    const ProbeRun run = Probe(c.args);
    EXPECT_EQ(run.status, c.status) << c.args;
    EXPECT_EQ(run.out, c.out ? c.out : many) << c.args;
    EXPECT_EQ(run.err, c.err) << c.args;
  }
}
