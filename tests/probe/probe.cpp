// A small program on the real process entry, for the tests that can only be
// made from outside a process: start-up paths, exit status, at-exit order,
// unhandled errors and signals. The first argument picks what it does; all
// it prints goes through the runtime's console routines.
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/error.h"
#include "runtime/module.h"
#include "runtime/time.h"

namespace {

void Say(const std::string& text) { kxWriteStdout(kxStringDecodeBytes(text.data(), static_cast<Int>(text.size()))); }

std::string Text(String* s) {
  std::string out;
  for (int32_t i = 0; i < s->length; ++i) out.push_back(static_cast<char>(s->units[i] & 0xff));
  return out;
}

std::string Arg(Int i) {
  if (i >= kxProgramArgs->Length()) return "";
  return Text(static_cast<String*>(kxProgramArgs->RefElements()[i]));
}

void First() { Say("first "); }
void Second() { Say("second "); }
void Third() { Say("third "); }
void Cleanup() { Say("cleanup"); }
// A write to the first page, which is never mapped. The address goes through
// a volatile so that the compiler cannot see the fault coming.
void Fault() {
  volatile uintptr_t address = 16;
  *reinterpret_cast<volatile int*>(address) = 1;
}
void FaultAtExit() { Fault(); }
void RaiseAtExit() { kxRaiseError(KX_STR("late failure")); }

void PrintDirs() {
  char* cwd = getcwd(nullptr, 0);
  Say("start=" + Text(kxStartDir) + "\n");
  Say("progdir=" + Text(kxProgramDir) + "\n");
  Say("path=" + Text(kxProgramPath) + "\n");
  Say("cwd=" + std::string(cwd ? cwd : "") + "\n");
  Say("title=" + Text(kxProgramTitle) + "\n");
  std::string args = "args=" + std::to_string(kxProgramArgs->Length());
  for (Int i = 0; i < kxProgramArgs->Length(); ++i) args += "|" + Arg(i);
  Say(args + "\n");
  free(cwd);
}

// Opens `levels` nested regions and reports the try stack's capacity after
// the first and at the innermost.
void Nest(Int level, Int levels) {
  try {
    KxTry region;
    if (level == 1) Say(std::to_string(kxTryCapacity()) + " ");
    if (level < levels) {
      Nest(level + 1, levels);
    } else {
      Say(std::to_string(kxTryCapacity()) + " " + std::to_string(kxTryDepth()) + " ");
    }
  } catch (const KxThrown&) {
  }
}

// Recurses until the stack runs out (the depth never goes negative).
__attribute__((noinline)) int Recurse(volatile int* depth) {
  volatile char pad[512];
  pad[0] = static_cast<char>(*depth);
  *depth = *depth + 1;
  if (*depth < 0) return 0;
  return Recurse(depth) + pad[0];
}

[[noreturn]] void WaitForSignal() {
  Say("ready\n");
  for (;;) kxDelay(5);
}

}  // namespace

extern "C" Int _kx_main() {
  const std::string mode = Arg(1);
  if (mode == "dirs") {
    PrintDirs();
  } else if (mode == "atexit") {
    kxRegisterAtExit(First);
    kxRegisterAtExit(Second);
    kxRegisterAtExit(Third);
    Say("body\n");
  } else if (mode == "error") {
    kxRegisterAtExit(Cleanup);
    kxRaiseError(KX_STR("probe failure"));
  } else if (mode == "null") {
    kxRaiseNullAccess();
  } else if (mode == "segv") {
    kxRegisterAtExit(Cleanup);
    Fault();
  } else if (mode == "raise") {
    kxRegisterAtExit(Cleanup);
    raise(std::stoi(Arg(2)));
  } else if (mode == "overflow") {
    kxRegisterAtExit(Cleanup);
    volatile int depth = 0;
    Recurse(&depth);
  } else if (mode == "wait") {
    kxRegisterAtExit(Cleanup);
    WaitForSignal();
  } else if (mode == "wait-caught") {
    try {
      KxTry region;
      WaitForSignal();
    } catch (const KxThrown& e) {
      Say("caught " + Text(kxErrorText(e.error)) + "\n");
    }
  } else if (mode == "atexit-fault") {
    kxRegisterAtExit(Cleanup);
    kxRegisterAtExit(FaultAtExit);
  } else if (mode == "atexit-raise") {
    kxRegisterAtExit(Cleanup);
    kxRegisterAtExit(RaiseAtExit);
  } else if (mode == "trystack") {
    Say(std::to_string(kxTryCapacity()) + " ");
    Nest(1, 11);
    Say(std::to_string(kxTryDepth()));
  } else {
    Say("unknown mode\n");
    return 1;
  }
  return 0;
}
