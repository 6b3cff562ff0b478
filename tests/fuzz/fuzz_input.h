// Shared by the fuzz harnesses: reading typed values from the fuzzer's
// bytes, the invariant check, and the runtime set-up every harness needs.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "runtime/error.h"
#include "runtime/kxstring.h"
#include "runtime/module.h"
#include "runtime/object.h"

// A broken invariant is a crash for the fuzzer: it keeps the input.
#define FUZZ_CHECK(cond)                                                                  \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "invariant failed at %s:%d: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)

// Reads values off the front of the input; once it runs dry every read
// gives zero, so a harness never needs to check what is left.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return size_ == 0; }
  size_t Left() const { return size_; }

  template <class T>
  T Take() {
    T v{};
    const size_t n = size_ < sizeof(T) ? size_ : sizeof(T);
    std::memcpy(&v, data_, n);
    data_ += n;
    size_ -= n;
    return v;
  }
  uint8_t Byte() { return Take<uint8_t>(); }
  bool Flag() { return Byte() & 1; }
  // In lo .. hi, both included.
  Int Range(Int lo, Int hi) {
    const uint64_t span = uint64_t(Long(hi) - Long(lo)) + 1;
    return static_cast<Int>(Long(lo) + Long(Take<uint32_t>() % span));
  }
  // Mostly small values around zero, sometimes the edges of Int.
  Int Position() {
    switch (Byte() % 8) {
      case 0: return Take<Int>();
      case 1: return (Byte() & 1) ? INT32_MAX : INT32_MIN;
      default: return Range(-8, 40);
    }
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

// The collector scans from here down: objects of one input live in frames
// below the harness entry, which sets the base again on every call.
// Registers this input's stack base; the first input also starts the
// runtime, then runs the harness's own once-only set-up (if any).
inline void FuzzBegin(void* frame, void (*setUp)() = nullptr) {
  static bool started = false;
  kxSetStackBase(frame);
  if (!started) {
    started = true;
    InitRuntimeModule();
    if (setUp) setUp();
  }
}

// The text of the runtime error f raises, as 8-bit text, or "" for none.
template <class F>
const char* RaisedText(F f) {
  static char text[256];
  text[0] = 0;
  try {
    KxTry region;
    f();
  } catch (const KxThrown& e) {
    String* s = kxErrorText(e.error);
    Int n = s ? s->length : 0;
    if (n > 255) n = 255;
    for (Int i = 0; i < n; ++i) text[i] = static_cast<char>(s->units[i] & 0xff);
    text[n] = 0;
    if (n == 0) std::strcpy(text, "(error without text)");
  }
  return text;
}
