// The process entry: signal handlers, the executable's path and directory,
// the runtime start-up, then the application stub, which runs the program's
// main module body and ends the process. Kept out of the runtime library so
// that test programs can link the runtime with a main of their own.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "runtime/module.h"

namespace {

// The executable's path from /proc. readlink does not say when it cut the
// path short, so a result that fills the buffer is read again with a larger
// one. "." when the link cannot be read.
std::string ExecutablePath() {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/%i/exe", static_cast<int>(getpid()));
  std::string path(1024, '\0');
  for (;;) {
    const ssize_t n = readlink(link, path.data(), path.size());
    if (n < 1) return ".";
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    if (path.size() >= (1u << 20)) return ".";
    path.resize(path.size() * 2);
  }
}

// The path cut at its last "/"; the path itself when it has none, and "/"
// for a file in the root directory.
std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return path;
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

Int InitAppStubModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  _kx_main();
  kxEnd();
}

int main(int argc, char** argv) {
  kxOpenStandardStreams();
  kxInstallSignalHandlers();
  const std::string path = ExecutablePath();
  const std::string dir = DirectoryOf(path);
  kxStartRuntime(argc, argv, dir.c_str(), path.c_str(), 0);
  InitAppStubModule();
  return 0;
}
