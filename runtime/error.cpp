// Runtime errors: the standard error classes and their texts, the try stack
// behind protected regions, raising, and the report made when nothing
// catches an error.
//
// The try stack keeps one frame per protected region that is open. Unwinding
// is done by C++ exceptions, so a frame holds no saved context; the stack is
// still kept so that the depth of nesting, and with it the choice between
// throwing and reporting, is the runtime's own record. Invariant: the depth
// equals the number of KxTry guards alive whose region has not yet been left
// or raised out of.
#include "runtime/error.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/module.h"

KX_CLASS_RECORD(TRuntimeErrorBase)
KX_CLASS_RECORD(TNullAccessError)
KX_CLASS_RECORD(TAbstractCallError)
KX_CLASS_RECORD(TNullFunctionError)
KX_CLASS_RECORD(TIndexRangeError)
KX_CLASS_RECORD(TDataEndError)
KX_CLASS_RECORD(TMessageError)

String* TNullAccessError::AsText() {
  return KX_STR("Attempt to access field or method of Null object");
}
String* TAbstractCallError::AsText() { return KX_STR("Attempt to call abstract method"); }
String* TNullFunctionError::AsText() {
  return KX_STR("Attempt to call uninitialized function pointer");
}
String* TIndexRangeError::AsText() {
  return KX_STR("Attempt to index array element beyond array length");
}
String* TDataEndError::AsText() { return KX_STR("Attempt to read beyond end of data"); }

TMessageError::TMessageError() : message(&kxBlankString) { kxRetain(message); }
TMessageError::~TMessageError() {
  kxRelease(message);
  message = nullptr;
}
String* TMessageError::AsText() { return message ? message : &kxBlankString; }

// --- the try stack --------------------------------------------------------

namespace {

// One frame per open region; 256 bytes, as a saved processor context needs.
struct TryFrame {
  alignas(16) unsigned char context[256];
};

constexpr Int kTryGrowth = 10;

TryFrame* tryFrames = nullptr;
Int tryDepth = 0;
Int tryCapacity = 0;

void GrowTryStack() {
  const Int capacity = tryCapacity + kTryGrowth;
  TryFrame* frames = static_cast<TryFrame*>(std::malloc(sizeof(TryFrame) * capacity));
  if (!frames) kxOutOfMemory(sizeof(TryFrame) * capacity);
  if (tryDepth > 0) std::memcpy(frames, tryFrames, sizeof(TryFrame) * tryDepth);
  std::free(tryFrames);
  tryFrames = frames;
  tryCapacity = capacity;
}

}  // namespace

void* kxTryEnter() {
  if (tryDepth == tryCapacity) GrowTryStack();
  return &tryFrames[tryDepth++];
}

void kxTryLeave() {
  if (tryDepth > 0) --tryDepth;
}

Int kxTryDepth() { return tryDepth; }
Int kxTryCapacity() { return tryCapacity; }

KxTry::KxTry() {
  kxTryEnter();
  depth_ = tryDepth;
}

// A raise out of this region has already popped its frame; a C++ rethrow
// or a normal exit has not. Frames of inner regions that were never left
// go with it.
KxTry::~KxTry() {
  while (tryDepth >= depth_ && tryDepth > 0) kxTryLeave();
}

// --- raising --------------------------------------------------------------

void kxThrow(Object* error) {
  if (tryDepth == 0) kxUnhandledErrorHook(error);
  kxTryLeave();
  throw KxThrown{Ref<Object>(error)};
}

void kxThrowCString(const char* text) { kxThrow(kxStringDecodeCText(text)); }

void kxRaiseError(String* message) {
  TMessageError* error = New<TMessageError>();
  kxRetain(message);
  kxRelease(error->message);
  error->message = message;
  kxThrow(error);
}

void kxRaiseNullAccess() { kxThrow(New<TNullAccessError>()); }
void kxRaiseAbstractCall() { kxThrow(New<TAbstractCallError>()); }
void kxRaiseNullFunction() { kxThrow(New<TNullFunctionError>()); }
void kxRaiseIndexRange() { kxThrow(New<TIndexRangeError>()); }
void kxRaiseDataEnd() { kxThrow(New<TDataEndError>()); }

String* kxErrorText(Object* error) {
  String* text = error ? error->AsText() : nullptr;
  return text ? text : &kxBlankString;
}

void kxUnhandledErrorHook(Object* error) {
  kxWriteStderrText(kxErrorText(error));
  kxExitProcess(255);
}
