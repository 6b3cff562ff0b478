// Helpers shared by the unit tests.
#pragma once

#include <string>

#include "runtime/error.h"
#include "runtime/kxstring.h"

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
