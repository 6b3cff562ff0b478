// Runtime start-up, the program-wide values, the end of the program with its
// at-exit routines, and signal handling.
//
// Signals come in two kinds. SIGSEGV, SIGBUS and SIGTRAP raised by a fault
// are synchronous: nothing can resume the code that faulted, so their
// handler reports at once, from an alternate stack (a stack overflow is
// reported too), and exits, with a watchdog in case an at-exit routine
// blocks. Sent by another process, they are treated like SIGTERM. SIGTERM, SIGINT and SIGHUP arrive at any moment, possibly inside
// the allocator: their handler only records the number, and the main thread
// raises the report at its next safe point through kxCheckSignals, so that
// the error is an ordinary runtime error and the at-exit routines run on a
// consistent heap. No handler here allocates.
#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/error.h"
#include "runtime/module.h"
#include "runtime/time.h"

String* kxStartDir = &kxBlankString;
String* kxProgramDir = &kxBlankString;
String* kxProgramPath = &kxBlankString;
String* kxProgramTitle = &kxBlankString;
Array* kxProgramArgs = &kxEmptyArray;

volatile int kxTerminateSignal = 0;

namespace {

pthread_t mainThread;
bool mainThreadKnown = false;
volatile sig_atomic_t exiting = 0;

// Room for the at-exit routines too: a fatal signal runs them from here.
alignas(16) char alternateStack[512 * 1024];

void RecordMainThread() {
  if (mainThreadKnown) return;
  mainThread = pthread_self();
  mainThreadKnown = true;
}

// "appstub.linux signal handler N" without the C library's formatting,
// which is not safe inside a signal handler.
size_t FormatSignalText(char* out, size_t size, int sig) {
  static const char kPrefix[] = "appstub.linux signal handler ";
  size_t n = sizeof kPrefix - 1;
  std::memcpy(out, kPrefix, n);
  char digits[16];
  size_t d = 0;
  unsigned value = sig < 0 ? 0u - static_cast<unsigned>(sig) : static_cast<unsigned>(sig);
  do {
    digits[d++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && d < sizeof digits);
  if (sig < 0 && n < size) out[n++] = '-';
  while (d > 0 && n < size) out[n++] = digits[--d];
  return n;
}

void RecordTerminate(int sig) { kxTerminateSignal = sig; }

// The at-exit routines that a fault starts run on whatever state the fault
// interrupted; if one of them blocks on a lock the faulting code held, the
// process still ends.
void ExitWatchdog(int) { _exit(255); }

constexpr int kExitWatchdogSeconds = 2;

void FatalSignal(int sig, siginfo_t* info, void*) {
  // Sent by another process (kill), not raised by a fault of this one: it
  // arrives at any moment, possibly inside the graphics driver, so it is
  // reported like SIGTERM at the main thread's next safe point.
  if (info && info->si_code <= 0 && !exiting) {
    RecordTerminate(sig);
    return;
  }
  static volatile sig_atomic_t entered = 0;
  // A fault inside this handler or inside the at-exit routines it started:
  // the report has been made, end without running anything more.
  if (entered) _exit(255);
  entered = 1;
  char text[64];
  const size_t n = FormatSignalText(text, sizeof text, sig);
  ssize_t ignored = write(STDERR_FILENO, text, n);
  (void)ignored;
  // The 1 ms tick is no longer needed: its timer becomes the watchdog.
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = ExitWatchdog;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
  struct itimerval once;
  std::memset(&once, 0, sizeof once);
  once.it_value.tv_sec = kExitWatchdogSeconds;
  setitimer(ITIMER_REAL, &once, nullptr);
  kxExitProcess(255);
}

void Install(int sig, void (*handler)(int), int flags) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
}

void InstallFault(int sig) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = FatalSignal;
  // SA_NODEFER lets a second fault during the at-exit routines reach the
  // handler (which then ends the process) instead of being blocked into a
  // kill by the kernel.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
}

void SetGlobal(String*& slot, String* value) {
  kxRetain(value);
  kxRelease(slot);
  slot = value;
}

// The working directory with backslashes made forward slashes; getcwd sizes
// its own buffer, so a path of any length comes back whole. The empty String
// when there is no working directory to report.
String* StartDirectory() {
  char* cwd = getcwd(nullptr, 0);
  if (!cwd) return &kxBlankString;
  for (char* p = cwd; *p; ++p) {
    if (*p == '\\') *p = '/';
  }
  String* dir = kxStringDecodeCText(cwd);
  std::free(cwd);
  return dir;
}

}  // namespace

Int InitRuntimeModule() {
  KX_MODULE_ONCE();
  RecordMainThread();
  return 0;
}

bool kxOnMainThread() { return !mainThreadKnown || pthread_equal(mainThread, pthread_self()); }

// The stack base is the caller's stack pointer at the call (this frame's
// address plus the saved frame pointer and the return address): every frame
// that runs after start-up lies below it. Not inlined, so that this frame
// exists.
__attribute__((noinline)) void kxStartRuntime(Int argc, char** argv, const char* programDir,
                                              const char* programPath, Int reserved) {
  kxSetStackBase(static_cast<char*>(__builtin_frame_address(0)) + 2 * sizeof(void*));
  RecordMainThread();

  SetGlobal(kxStartDir, StartDirectory());
  SetGlobal(kxProgramDir, kxStringDecodeCText(programDir));
  SetGlobal(kxProgramPath, kxStringDecodeCText(programPath));
  SetGlobal(kxProgramTitle, kxStringDecodeCText("ZorbeVel Application"));

  Array* args = kxArrayNewOneDim("$", argc);
  kxRetain(args);
  kxRelease(kxProgramArgs);
  kxProgramArgs = args;
  for (Int i = 0; i < argc && argv; ++i) kxArraySetRef(args, i, kxStringDecodeCText(argv[i]));

  // A directory that cannot be entered leaves the working directory as it
  // was; relative names then resolve against the start directory.
  if (programDir && *programDir) {
    int ignored = chdir(programDir);
    (void)ignored;
  }
  kxClockStart();
}

void kxExitProcess(Int status) {
  if (exiting) _exit(status);
  exiting = 1;
  std::exit(status);
}

void kxEnd() { kxExitProcess(0); }

void kxRegisterAtExit(void (*routine)()) {
  if (routine) std::atexit(routine);
}

void kxInstallSignalHandlers() {
  RecordMainThread();
  stack_t stack;
  std::memset(&stack, 0, sizeof stack);
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  sigaltstack(&stack, nullptr);
  // SA_RESTART keeps the recorded signals from failing blocking calls
  // elsewhere with EINTR.
  InstallFault(SIGBUS);
  InstallFault(SIGSEGV);
  Install(SIGTERM, RecordTerminate, SA_RESTART);
  InstallFault(SIGTRAP);
  Install(SIGINT, RecordTerminate, SA_RESTART);
  Install(SIGHUP, RecordTerminate, SA_RESTART);
}

void kxCheckSignals() {
  const int sig = kxTerminateSignal;
  if (sig == 0 || !kxOnMainThread()) return;
  kxTerminateSignal = 0;
  char text[64];
  const size_t n = FormatSignalText(text, sizeof text, sig);
  kxRaiseError(kxStringDecodeBytes(text, static_cast<Int>(n)));
}
