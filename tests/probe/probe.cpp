// A program on the real process entry for what only shows from outside:
// start-up paths, exit status, at-exit order, unhandled errors, signals.
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include <new>

#include "runtime/error.h"
#include "runtime/module.h"
#include "runtime/time.h"

namespace {

void Say(const std::string& text) {
  kxWriteStdout(kxStringDecodeBytes(text.data(), static_cast<Int>(text.size())));
}

std::string Text(String* s) {
  std::string out;
  for (int32_t i = 0; i < s->length; ++i) out.push_back(static_cast<char>(s->units[i]));
  return out;
}

std::string Arg(Int i) {
  return i < kxProgramArgs->Length() ? Text(static_cast<String*>(kxProgramArgs->RefElements()[i]))
                                     : "";
}

// A write to the unmapped first page; the volatile hides it from the compiler.
void Fault() {
  volatile uintptr_t address = 16;
  *reinterpret_cast<volatile int*>(address) = 1;
}

__attribute__((noinline)) int Recurse(volatile int* depth) {
  volatile char pad[512];
  *depth = *depth + 1;
  pad[0] = static_cast<char>(*depth);
  return *depth < 0 ? 0 : Recurse(depth) + pad[0];  // until the stack runs out
}

// Enough unreferenced objects to pass the collection threshold.
void AllocateAtExit() {
  for (Int i = 0; i < 5000; ++i) kxStringFromInt(i);
  Say("[allocated]");
}

// Sends the signal after a pause; a line follows three seconds later, so a
// request left waiting until the line comes shows as a read that ended.
void* SignalThenLine(void* arg) {
  const int* plan = static_cast<const int*>(arg);
  kxDelay(100);
  kill(getpid(), plan[0]);
  kxDelay(3000);
  (void)!write(plan[1], "late\n", 5);
  return nullptr;
}

template <int N>
void Numbered() {
  Say("[" + std::to_string(N) + "]");
}

// Seventy routines, more than a fixed list of 64 would hold.
template <int... N>
void RegisterNumbered(std::integer_sequence<int, N...>) {
  (kxRegisterAtExit(&Numbered<N>), ...);
}

void* FaultingThread(void*) {
  kxDelay(20);
  Fault();
  return nullptr;
}

void* RefusedThread(void*) {
  kxDelay(20);
  volatile size_t huge = SIZE_MAX / 2;
  return ::operator new(huge);
}

// The address space capped above what is mapped now: room for blocks of a
// few MiB, not for what a display's creation takes.
void Starve() {
  long pages = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  const rlim_t cap = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (64 << 20);
  const rlimit limit = {cap, cap};
  setrlimit(RLIMIT_AS, &limit);
}

}  // namespace

extern "C" Int _kx_main() {
  const std::string mode = Arg(1);
  kxRegisterAtExit([] { Say("[cleanup]"); });
  if (mode == "dirs") {
    char* cwd = getcwd(nullptr, 0);
    Say("start=" + Text(kxStartDir) + "\nprogdir=" + Text(kxProgramDir) +
        "\npath=" + Text(kxProgramPath) + "\ncwd=" + (cwd ? cwd : "") +
        "\ntitle=" + Text(kxProgramTitle) + "\nargs=" + std::to_string(kxProgramArgs->Length()));
    for (Int i = 0; i < kxProgramArgs->Length(); ++i) Say("|" + Arg(i));
    Say("\ntry=" + std::to_string(kxTryCapacity()));  // then inside a first region
    try {
      KxTry region;
      Say("," + std::to_string(kxTryCapacity()) + "\n");
    } catch (const KxThrown&) {
    }
    free(cwd);
  } else if (mode == "atexit") {
    kxRegisterAtExit([] { Say("[first]"); });
    kxRegisterAtExit([] { Say("[second]"); });
    std::atexit([] { Say("[library]"); });  // as a library loaded later does
  } else if (mode == "error") {
    kxRaiseError(KX_STR("probe failure"));
  } else if (mode == "segv") {
    Fault();
  } else if (mode == "overflow") {
    volatile int depth = 0;
    Recurse(&depth);
  } else if (mode == "atexit-many") {
    RegisterNumbered(std::make_integer_sequence<int, 70>());
    std::atexit([] { Say("[library]"); });
  } else if (mode == "atexit-end" || mode == "error-atexit-end") {  // kxEnd inside a routine
    kxRegisterAtExit([] { Say("[first]"); });
    kxRegisterAtExit([] {
      Say("[ending]");
      kxEnd();
    });
    std::atexit([] { Say("[library]"); });
    if (mode == "error-atexit-end") kxRaiseError(KX_STR("probe failure"));
  } else if (mode == "atexit-fault") {
    kxRegisterAtExit(Fault);
  } else if (mode == "segv-blocked-exit") {  // an at-exit routine that never returns
    kxRegisterAtExit([] {
      for (;;) pause();
    });
    Fault();
  } else if (mode == "raise") {  // a fault ends it here, a termination request at a delay tick
    raise(std::atoi(Arg(2).c_str()));
    for (;;) kxDelay(5);
  } else if (mode == "raise-in-region") {  // a catch-all must not swallow the request
    try {
      KxTry region;
      raise(std::atoi(Arg(2).c_str()));
      for (;;) kxDelay(5);
    } catch (const KxThrown&) {
      Say("[swallowed]");
    }
  } else if (mode == "read-blocked") {  // a request while waiting for a line ends the wait
    int p[2];
    if (pipe(p) != 0 || dup2(p[0], 0) != 0) return 1;
    static int plan[2];
    plan[0] = std::atoi(Arg(2).c_str());
    plan[1] = p[1];
    pthread_t thread;
    pthread_create(&thread, nullptr, SignalThenLine, plan);
    Say("[reading]");
    Say("[read " + Text(kxReadInputLine()) + "]");
  } else if (mode == "segv-collect") {
    kxRegisterAtExit(AllocateAtExit);
    Fault();
  } else if (mode == "out-of-memory") {  // the runtime refused memory
    kxAllocObjectMemory(size_t(1) << 31);
  } else if (mode == "out-of-memory-thread") {  // a C++ allocation refused on another thread
    kxRegisterAtExit([] { Say(kxOnMainThread() ? "[main]" : "[other]"); });
    pthread_t thread;
    pthread_create(&thread, nullptr, RefusedThread, nullptr);
    for (;;) kxDelay(5);
  } else if (mode == "starved-fault") {  // a library faulting on a refused allocation
    Say(kxMemoryExhausted() ? "[starved]" : "[fed]");
    kxRegisterAtExit([] { Say(kxMemoryExhausted() ? "[starved]" : "[fed]"); });
    Starve();
    Fault();
  } else if (mode == "thread-fault") {  // the main thread runs the at-exit routines
    kxRegisterAtExit([] { Say(kxOnMainThread() ? "[main]" : "[other]"); });
    pthread_t thread;
    pthread_create(&thread, nullptr, FaultingThread, nullptr);
    for (;;) kxDelay(5);
  }
  return 0;
}
