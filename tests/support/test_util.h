// Helpers shared by the unit tests.
#pragma once

#include <string>

#include "runtime/error.h"
#include "runtime/kxstring.h"

// The figure the documents give for the architecture the tests run on: the
// layouts were drawn for 32-bit x86 and hold exactly on i686, where
// pointers are 4 bytes; on x86-64 every pointer-sized field is 8.
template <class T>
constexpr T OnArch(T i686, T x86_64) {
  return sizeof(void*) == 4 ? i686 : x86_64;
}

// The String's units as 8-bit text (low byte of each unit).
std::string ToStd(String* s);
// A new runtime String from 8-bit text.
String* Str(const std::string& text);
// Runs a collection with nothing of the caller's frame left to protect.
void CollectAll();

// The text of the error that f raises (its AsText), or "" when it raises none.
template <class F>
std::string Raised(F f) {
  try {
    KxTry region;
    f();
  } catch (const KxThrown& e) {
    return ToStd(kxErrorText(e.error));
  }
  return "";
}
