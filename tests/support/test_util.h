// Helpers shared by the unit tests.
#pragma once

#include <map>
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
// The text of the file at `path`, which is then removed.
std::string TakeFile(const std::string& path);

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

// Cases of suites named *ChildCase run only in a child that a parent test
// starts: the test main leaves them out of every other run and listing.
// Runs *ChildCase.name of this program in a child with environment changes
// (empty value: unset); returns its exit status, or -1 when it did not exit.
int RunChildCase(const std::string& name, const std::map<std::string, std::string>& env);
// The same with `input` on the child's standard input and its standard
// output and error caught (without the framework's report); a child still
// running after 30 seconds is killed.
struct ChildResult {
  int status = -1;  // exit status, 128 + signal, or -1 when it had to be killed
  std::string out, err;
};
ChildResult RunChildCaseCaught(const std::string& name,
                               const std::map<std::string, std::string>& env = {},
                               const std::string& input = "");
// The value of LIFESIM_CHILD_CASE in such a caught child: the test main
// then leaves the framework's report out of its output.
inline constexpr char kQuietChild[] = "quiet";
// The filter addition that leaves the child cases out, unless this process
// is such a child.
void LeaveOutChildCases();
