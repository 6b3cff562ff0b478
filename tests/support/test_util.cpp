#include "tests/support/test_util.h"

std::string ToStd(String* s) {
  std::string out;
  if (!s) return out;
  for (int32_t i = 0; i < s->length; ++i) out.push_back(static_cast<char>(s->units[i] & 0xff));
  return out;
}

String* Str(const std::string& text) {
  return kxStringDecodeBytes(text.data(), static_cast<Int>(text.size()));
}

// Not inlined, so that the caller's stale locals sit above this frame but the
// scratch words of this frame are gone; collections run twice because objects
// found on the stack by the first are only rescheduled for the next.
__attribute__((noinline)) void CollectAll() {
  kxCollectGarbage();
  kxCollectGarbage();
}
