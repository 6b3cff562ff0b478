// Helpers shared by the unit tests.
#pragma once

#include <string>

#include "runtime/kxstring.h"

// The String's units as 8-bit text (low byte of each unit).
std::string ToStd(String* s);
// A new runtime String from 8-bit text.
String* Str(const std::string& text);
// Runs a collection with nothing of the caller's frame left to protect.
void CollectAll();
