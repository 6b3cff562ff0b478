// Start-up, the once-only module initialisation protocol, at-exit routines,
// the end of the program and signal handling.
//
// Every module has one initialisation routine, Int Init<Name>Module(), that
// begins with KX_MODULE_ONCE(): the once flag is set before anything else so
// that cycles in the import graph end; then it calls the routines of the
// modules it imports (InitRuntimeModule first), then runs its own top-level
// code, and returns 0.
#pragma once

#include "runtime/array.h"
#include "runtime/kxstring.h"

#define KX_MODULE_ONCE()       \
  static Int kxModuleOnce = 0; \
  if (kxModuleOnce) return 0;  \
  kxModuleOnce = 1

Int InitRuntimeModule();  // sets its flag only

// Program-wide values set by kxStartRuntime (each held with one reference).
extern String* kxStartDir;
extern String* kxProgramDir;
extern String* kxProgramPath;
extern String* kxProgramTitle;
extern Array* kxProgramArgs;

void kxStartRuntime(Int argc, char** argv, const char* programDir, const char* programPath,
                    Int reserved);
[[noreturn]] void kxEnd();
// Routines run in reverse order of registration when the process ends
// through kxExitProcess (or exit), before the C library's own exit handlers.
void kxRegisterAtExit(void (*routine)());
// Ends the process with the status, running the at-exit routines; an exit
// already under way (an at-exit routine that raises or faults) ends at once
// with _exit instead, so the routines never run twice.
[[noreturn]] void kxExitProcess(Int status);
// True on the thread that initialised the runtime (the only one that may
// touch objects).
bool kxOnMainThread();
// For an end that must not run the at-exit routines on this thread (not the
// main one, whose drawing goes on meanwhile): the main thread ends the process
// with status 255 at its next safe point, after the routines; this thread
// waits for that. The text is the caller's to write first.
[[noreturn]] void kxHandExitToMainThread();

// Fatal and terminating signals.
// SIGSEGV, SIGBUS, SIGTRAP: report "appstub.linux signal handler %d" and exit
// 255 (on an alternate stack; a fault on another thread hands the exit to
// the main thread). SIGTERM, SIGINT, SIGHUP, SIGPIPE: the handler only
// records the number; kxCheckSignals makes the same report on the main
// thread at its next safe point (event pump, delay tick, flip, opening
// graphics) and ends the process there, whatever protected region is open.
void kxInstallSignalHandlers();
void kxCheckSignals();
// A layer that knows a fault's cause better than the signal's number says
// (the X layer: a library faulting on a connection the server closed) sets
// a filter: run inside the fault handler, it writes its own line and returns
// true, and the process then ends with status 1 instead of the signal text.
// Async-signal-safe filters only.
void kxSetFaultFilter(bool (*filter)());
extern volatile int kxTerminateSignal;  // 0 when none is waiting
// Opens /dev/null on standard descriptors the parent left closed.
void kxOpenStandardStreams();
// True once kxExitProcess has started the at-exit routines: what would end
// the process again (a late signal, an X error) is then left alone.
bool kxExitUnderWay();
// False where the collector's scan of the main stack would be wrong: on
// another thread, and on the alternate signal stack during a fault's exit.
bool kxCanScanStack();

// The application stub: runs the runtime core's routine, then the main
// module body _kx_main, then kxEnd.
Int InitAppStubModule();
extern "C" Int _kx_main();
