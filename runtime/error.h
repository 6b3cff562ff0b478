// Runtime errors: error objects, raising, protected regions and the report
// made when nothing catches an error.
//
// A protected region is a C++ try block entered through a KxTry guard:
//
//   try {
//     KxTry region;
//     ... code that may raise ...
//   } catch (const KxThrown& e) {
//     ... e.error is the raised object; raise it again with kxThrow if it
//     is not handled here ...
//   }
//
// kxThrow with no region active reports the error (its AsText on standard
// error), runs the at-exit routines and exits with status 255.
#pragma once

#include "runtime/kxstring.h"
#include "runtime/object.h"

class TRuntimeErrorBase : public Object {
  KX_CLASS(TRuntimeErrorBase, Object)
};

class TNullAccessError : public TRuntimeErrorBase {
  KX_CLASS(TNullAccessError, TRuntimeErrorBase)
 public:
  String* AsText() override;
};
class TAbstractCallError : public TRuntimeErrorBase {
  KX_CLASS(TAbstractCallError, TRuntimeErrorBase)
 public:
  String* AsText() override;
};
class TNullFunctionError : public TRuntimeErrorBase {
  KX_CLASS(TNullFunctionError, TRuntimeErrorBase)
 public:
  String* AsText() override;
};
class TIndexRangeError : public TRuntimeErrorBase {
  KX_CLASS(TIndexRangeError, TRuntimeErrorBase)
 public:
  String* AsText() override;
};
class TDataEndError : public TRuntimeErrorBase {
  KX_CLASS(TDataEndError, TRuntimeErrorBase)
 public:
  String* AsText() override;
};
class TMessageError : public TRuntimeErrorBase {
  KX_CLASS(TMessageError, TRuntimeErrorBase)
 public:
  TMessageError();
  ~TMessageError() override;
  String* AsText() override;
  String* message;  // counted
};

// The C++ exception that carries a raised object to its protected region.
struct KxThrown {
  Ref<Object> error;
};

// Try stack: frames of the protected regions, growing by 10.
void* kxTryEnter();
void kxTryLeave();
Int kxTryDepth();
Int kxTryCapacity();

class KxTry {
 public:
  KxTry();
  ~KxTry();
  KxTry(const KxTry&) = delete;
  KxTry& operator=(const KxTry&) = delete;

 private:
  Int depth_;
};

[[noreturn]] void kxThrow(Object* error);
[[noreturn]] void kxThrowCString(const char* text);  // raises a String
[[noreturn]] void kxRaiseError(String* message);     // raises a TMessageError
[[noreturn]] void kxRaiseNullAccess();
[[noreturn]] void kxRaiseAbstractCall();
[[noreturn]] void kxRaiseNullFunction();
[[noreturn]] void kxRaiseIndexRange();
[[noreturn]] void kxRaiseDataEnd();
[[noreturn]] void kxUnhandledErrorHook(Object* error);

// Text of an error object as the unhandled report would print it.
String* kxErrorText(Object* error);
