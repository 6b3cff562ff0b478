// Runtime start-up, the program-wide values, the end of the program with its
// at-exit routines, and signal handling.
//
// Signals come in two kinds. SIGSEGV, SIGBUS and SIGTRAP raised by a fault
// are synchronous: nothing can resume the code that faulted, so their
// handler reports at once, from an alternate stack (a stack overflow is
// reported too), and exits, with a watchdog in case an at-exit routine
// blocks. Sent by another process, they are treated like SIGTERM. SIGTERM,
// SIGINT, SIGHUP and SIGPIPE arrive at any moment, possibly inside the
// allocator: their handler only records the number, and the main thread
// reports at its next safe point through kxCheckSignals, so that the at-exit
// routines run on a consistent heap. No handler here allocates.
//
// Every exit that a signal starts runs the at-exit routines on the main
// thread, once, and ends within the watchdog's two seconds:
//  - a terminate request is reported and ended at the safe point itself,
//    never raised, so no protected region (display creation, a KxTry of the
//    caller's) can swallow it;
//  - a fault on another thread writes its text there and hands the exit to
//    the main thread, then waits; the main thread ends at its next safe point
//    without a second text, and the status stays 255 even if an exit with
//    another status was already under way.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

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
// Set by a fault on another thread once its text is written: the main
// thread ends the process at its next safe point.
volatile sig_atomic_t faultHandedOver = 0;

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

// The at-exit routines that a signal starts run on whatever state the signal
// interrupted; if one of them blocks on a lock the faulting code held, or on
// a server that no longer answers, the process still ends.
volatile sig_atomic_t watchdogStatus = 255;
void ExitWatchdog(int) { _exit(watchdogStatus); }

constexpr int kExitWatchdogSeconds = 2;

// The 1 ms tick is no longer needed once the process is ending: its timer
// becomes the watchdog, which ends with the exit's own status. The tick is
// stopped, and a tick already pending discarded, before the watchdog's
// handler goes in: a tick taken by that handler would end the process at
// once, before a single at-exit routine ran.
// Async-signal-safe.
void ArmExitWatchdog(int status) {
  watchdogStatus = status;
  struct itimerval timer;
  std::memset(&timer, 0, sizeof timer);
  setitimer(ITIMER_REAL, &timer, nullptr);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  action.sa_handler = SIG_IGN;
  sigaction(SIGALRM, &action, nullptr);
  action.sa_handler = ExitWatchdog;
  sigaction(SIGALRM, &action, nullptr);
  timer.it_value.tv_sec = kExitWatchdogSeconds;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void WriteSignalText(int sig) {
  char text[64];
  const size_t n = FormatSignalText(text, sizeof text, sig);
  ssize_t ignored = write(STDERR_FILENO, text, n);
  (void)ignored;
}

// A fault on a thread other than the main one: the at-exit routines must
// not run here while the main thread keeps drawing, so the main thread
// runs them (restoring the video mode) and this thread waits for the end.
// It never returns: the faulting instruction would run again.
[[noreturn]] void HandFaultToMainThread() {
  faultHandedOver = 1;
  for (int step = 0; step < kExitWatchdogSeconds * 100; ++step) {
    const timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  _exit(255);
}

// The program's at-exit routines, in registration order. They run from
// kxExitProcess before the C library's own exit handlers: libraries loaded
// later (the GL driver's code generator) register destructors of their own
// as they go, and a routine that still talks to the driver (closing the
// display) must run before those have torn it down. Registered with the C
// library too, once, for an exit that does not come through here. The list
// grows as routines come, so their order holds however many there are.
using AtExitRoutine = void (*)();
AtExitRoutine* atExitRoutines = nullptr;
int atExitCount = 0;
int atExitRoom = 0;
volatile sig_atomic_t runningAtExit = 0;
int exitStatus = 0;  // of the exit under way through kxExitProcess

// Each routine is taken off the list before it runs, so an exit started
// again from inside one never runs it twice. A fault reported on another
// thread ends with 255 whatever status the main thread's exit carried.
void RunAtExitRoutines() {
  runningAtExit = 1;
  while (atExitCount > 0) atExitRoutines[--atExitCount]();
  if (faultHandedOver) {
    std::fflush(nullptr);
    _exit(255);
  }
}

bool (*faultFilter)() = nullptr;

void FatalSignal(int sig, siginfo_t* info, void*) {
  // Sent by another process (kill), not raised by a fault of this one: it
  // arrives at any moment, possibly inside the graphics driver, so it is
  // reported like SIGTERM at the main thread's next safe point.
  // Once an exit is under way it is not reported again.
  if (info && info->si_code <= 0) {
    if (!exiting) RecordTerminate(sig);
    return;
  }
  // The first fault of the process writes the text, whichever thread has it.
  // A fault while memory is exhausted is most likely a library's use of an
  // allocation it was refused: the report says memory, as the runtime's own
  // refusal does (and once, if that one came first).
  static int reported = 0;
  const bool first = __atomic_exchange_n(&reported, 1, __ATOMIC_SEQ_CST) == 0;
  if (first && !exiting && faultFilter && faultFilter()) kxExitProcess(1);
  if (first && kxMemoryExhaustedInSignal()) {
    kxWriteOutOfMemoryLine(0);
  } else if (first) {
    WriteSignalText(sig);
  }
  if (!kxOnMainThread()) HandFaultToMainThread();
  // A fault inside this handler or inside the exit it started: end without
  // running anything more. A fault handed over by another thread is still
  // ended through the at-exit routines.
  if (!first && (exiting || !faultHandedOver)) _exit(255);
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

void kxHandExitToMainThread() { HandFaultToMainThread(); }

// The stack base is the caller's stack pointer at the call (this frame's
// address plus the saved frame pointer and the return address): every frame
// that runs after start-up lies below it. Not inlined, so that this frame
// exists.
__attribute__((noinline)) void kxStartRuntime(Int argc, char** argv, const char* programDir,
                                              const char* programPath, Int reserved) {
  kxSetStackBase(static_cast<char*>(__builtin_frame_address(0)) + 2 * sizeof(void*));
  RecordMainThread();
  // A C++ allocation refused anywhere ends like one of the runtime's own,
  // not with an uncaught exception's abort.
  std::set_new_handler([] { kxOutOfMemory(0); });

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

// Every end but the normal one is bounded: at-exit routines that block on
// what a fault or a lost request left behind cannot keep the process alive.
void kxExitProcess(Int status) {
  if (exiting) _exit(status);
  exiting = 1;
  exitStatus = status;
  if (status != 0) ArmExitWatchdog(status);
  RunAtExitRoutines();
  std::exit(status);
}

// Inside an at-exit routine the end is already under way: the routine ends
// here, the ones registered before it still run, and the process ends as
// that exit would have, with its status. An exit the C library started
// (main returned) must not be started again, so that one ends directly.
void kxEnd() {
  if (runningAtExit && kxOnMainThread()) {
    RunAtExitRoutines();
    if (exiting) std::exit(exitStatus);
    std::fflush(nullptr);
    _exit(0);
  }
  kxExitProcess(0);
}

void kxRegisterAtExit(void (*routine)()) {
  if (!routine) return;
  if (atExitCount == atExitRoom) {
    const int room = atExitRoom ? 2 * atExitRoom : 64;
    atExitRoutines = static_cast<AtExitRoutine*>(kxAlignedGrow(
        atExitRoutines, sizeof(AtExitRoutine) * atExitCount, sizeof(AtExitRoutine) * room));
    atExitRoom = room;
  }
  static bool handedToLibrary = false;
  if (!handedToLibrary) {
    handedToLibrary = true;
    std::atexit(RunAtExitRoutines);
  }
  atExitRoutines[atExitCount++] = routine;
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
  // A reader of standard output that went away (lifesim | head) ends the
  // program like a terminate request; the write itself fails with EPIPE.
  Install(SIGPIPE, RecordTerminate, SA_RESTART);
  // A parent may start the program with these blocked; they would then never
  // reach it, and a request sent before this point stays pending until here.
  sigset_t handled;
  sigemptyset(&handled);
  for (int sig : {SIGBUS, SIGSEGV, SIGTERM, SIGTRAP, SIGINT, SIGHUP, SIGPIPE})
    sigaddset(&handled, sig);
  pthread_sigmask(SIG_UNBLOCK, &handled, nullptr);
}

// Descriptors 0, 1 and 2 that the parent left closed would be reused by the
// next open (the X connection, for one), and the trace markers would then be
// written into it. They are opened on /dev/null instead.
void kxOpenStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

bool kxExitUnderWay() { return exiting != 0; }

void kxSetFaultFilter(bool (*filter)()) { faultFilter = filter; }

// Reports and ends at once: a raise could be caught by the protected region
// that happens to be open, and the request would be lost.
void kxCheckSignals() {
  if (exiting || !kxOnMainThread()) return;
  if (faultHandedOver) kxExitProcess(255);  // its text has been written
  const int sig = kxTerminateSignal;
  if (sig == 0) return;
  kxTerminateSignal = 0;
  char text[64];
  const size_t n = FormatSignalText(text, sizeof text, sig);
  kxUnhandledErrorHook(kxStringDecodeBytes(text, static_cast<Int>(n)));
}

// The collector scans from the current stack position up to the main
// stack's base: meaningless on another thread, and on the alternate signal
// stack (a fault's exit) it would span the whole address range between.
bool kxCanScanStack() {
  if (!kxOnMainThread()) return false;
  const char* here = static_cast<const char*>(__builtin_frame_address(0));
  return here < alternateStack || here >= alternateStack + sizeof alternateStack;
}
