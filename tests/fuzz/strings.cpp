// Strings: number parsing and formatting in every base and sign, and the
// positional operations (range, search, substitute, strip, concatenation)
// at random positions, each checked against what its result must satisfy.
#include <cinttypes>
#include <string>

#include "tests/fuzz/fuzz_input.h"

namespace {

// Text of up to 24 units: bytes, or 16-bit units with some above 255.
String* TakeString(FuzzInput& in) {
  const Int n = in.Range(0, 24);
  uint16_t units[24];
  const bool wide = in.Byte() % 4 == 0;
  for (Int i = 0; i < n; ++i) units[i] = wide ? in.Take<uint16_t>() : in.Byte();
  return kxStringCopyUnits(units, n);
}

String* Ascii(const std::string& text) {
  return kxStringDecodeBytes(text.data(), static_cast<Int>(text.size()));
}

bool Same(String* a, String* b) { return kxStringCompare(a, b) == 0; }

bool MatchesAt(String* s, String* sub, Long p) {
  if (p < 0 || p + sub->length > s->length) return false;
  return std::memcmp(s->units + p, sub->units, 2 * size_t(sub->length)) == 0;
}

void CheckParsing(String* s) {
  // Both integer parsers wrap: the Int is the Long's low 32 bits.
  const Long l = kxStringParseLong(s);
  FUZZ_CHECK(kxStringParseInt(s) == static_cast<Int>(static_cast<uint32_t>(l)));
  const Double d = kxStringParseDouble(s);
  const Float f = kxStringParseFloat(s);
  FUZZ_CHECK(std::isnan(d) ? std::isnan(f) : f == static_cast<Float>(d));
  for (const char* prefix : {"$", "%", "-", " +$", "\t-%"}) {
    String* t = kxStringConcat(Ascii(prefix), s);
    FUZZ_CHECK(kxStringParseInt(t) ==
               static_cast<Int>(static_cast<uint32_t>(kxStringParseLong(t))));
  }
}

void CheckFormatting(FuzzInput& in) {
  const Int i = in.Take<Int>();
  const Long l = in.Take<Long>();
  const Float f = in.Take<Float>();
  const Double d = in.Take<Double>();
  FUZZ_CHECK(kxStringParseInt(kxStringFromInt(i)) == i);
  FUZZ_CHECK(kxStringParseLong(kxStringFromLong(l)) == l);
  const Float f2 = kxStringParseFloat(kxStringFormatFloat(f));
  FUZZ_CHECK(std::isnan(f) ? std::isnan(f2) : f2 == f && std::signbit(f2) == std::signbit(f));
  const Double d2 = kxStringParseDouble(kxStringFormatDouble(d));
  FUZZ_CHECK(std::isnan(d) ? std::isnan(d2) : d2 == d && std::signbit(d2) == std::signbit(d));

  // Hexadecimal and binary, in either case and with a sign, give the value back.
  char hex[32], bin[72];
  const uint64_t u = static_cast<uint64_t>(l);
  std::snprintf(hex, sizeof hex, in.Flag() ? "$%" PRIx64 : "$%" PRIX64, u);
  Int k = 0;
  bin[k++] = '%';
  for (int bit = 63; bit >= 0; --bit) bin[k++] = (u >> bit) & 1 ? '1' : '0';
  bin[k] = 0;
  for (const char* text : {static_cast<const char*>(hex), static_cast<const char*>(bin)}) {
    FUZZ_CHECK(kxStringParseLong(Ascii(text)) == l);
    FUZZ_CHECK(kxStringParseInt(Ascii(text)) == static_cast<Int>(static_cast<uint32_t>(u)));
    const uint64_t negated = 0 - u;
    FUZZ_CHECK(kxStringParseLong(Ascii(std::string(" \n-") + text)) == static_cast<Long>(negated));
  }
}

void CheckRange(String* s, Int start, Int end) {
  const Long n = Long(end) - start;
  if (n > 4096) {
    // Beyond what a String may hold: a runtime error, not a wrapped length.
    if (n > 0x3ffffff0)
      FUZZ_CHECK(std::strcmp(RaisedText([&] { kxStringRange(s, start, end); }),
                             "Attempt to create a String beyond the largest length") == 0);
    return;
  }
  String* r = kxStringRange(s, start, end);
  FUZZ_CHECK(r->length == (n > 0 ? n : 0));
  if (n <= 0) FUZZ_CHECK(r == &kxBlankString);
  for (Int i = 0; i < r->length; ++i) {
    const Long from = Long(start) + i;
    const uint16_t want = from >= 0 && from < s->length ? s->units[from] : 32;
    FUZZ_CHECK(r->units[i] == want);
  }
}

void CheckSearch(String* s, String* sub, Int start) {
  const Int p = kxStringIndexOf(s, sub, start);
  Long first = -1;
  for (Long q = start < 0 ? 0 : start; q + sub->length <= s->length; ++q)
    if (MatchesAt(s, sub, q)) {
      first = q;
      break;
    }
  FUZZ_CHECK(p == first);

  Long from = Long(s->length) - start;
  if (from + sub->length > s->length) from = Long(s->length) - sub->length;
  Long last = -1;
  for (Long q = from; q >= 0; --q)
    if (MatchesAt(s, sub, q)) {
      last = q;
      break;
    }
  FUZZ_CHECK(kxStringLastIndexOf(s, sub, start) == last);
}

void CheckSubstitute(String* s, String* sub, String* with) {
  String* r = kxStringSubstitute(s, sub, with);
  if (sub->length == 0) {
    FUZZ_CHECK(r == s);
    return;
  }
  Long count = 0;
  for (Long q = 0; q + sub->length <= s->length;)
    if (MatchesAt(s, sub, q)) {
      ++count;
      q += sub->length;
    } else {
      ++q;
    }
  if (count == 0) FUZZ_CHECK(r == s);
  FUZZ_CHECK(r->length == s->length + count * (Long(with->length) - sub->length));
  FUZZ_CHECK(Same(kxStringSubstitute(s, sub, sub), s));
}

void CheckStripAndCase(String* s) {
  String* t = kxStringStrip(s);
  if (t->length > 0) FUZZ_CHECK(t->units[0] > 32 && t->units[t->length - 1] > 32);
  const Int at = kxStringIndexOf(s, t, 0);
  FUZZ_CHECK(at >= 0);
  for (Int i = 0; i < at; ++i) FUZZ_CHECK(s->units[i] <= 32);
  for (Int i = at + t->length; i < s->length; ++i) FUZZ_CHECK(s->units[i] <= 32);

  String* lower = kxStringLowerAscii(s);
  String* upper = kxStringUpperAscii(s);
  FUZZ_CHECK(lower->length == s->length && upper->length == s->length);
  FUZZ_CHECK(Same(kxStringUpperAscii(lower), upper));
  for (Int i = 0; i < s->length; ++i)
    if (s->units[i] > 'z' || s->units[i] < 'A') FUZZ_CHECK(lower->units[i] == s->units[i]);

  // The C texts keep each unit's low byte (up to the first 0), or all units.
  char* c = kxStringEncodeCText(s);
  String* back = kxStringDecodeCText(c);
  kxStringFreeCText(c);
  FUZZ_CHECK(back->length <= s->length);
  for (Int i = 0; i < back->length; ++i) FUZZ_CHECK(back->units[i] == (s->units[i] & 0xff));
  uint16_t* w = kxStringCopyToWText(s);
  String* wide = kxStringCopyWText(w);
  kxStringFreeWText(w);
  FUZZ_CHECK(wide->length <= s->length && MatchesAt(s, wide, 0));
}

void CheckConcatAndCompare(String* a, String* b) {
  String* ab = kxStringConcat(a, b);
  FUZZ_CHECK(ab->length == a->length + b->length);
  FUZZ_CHECK(MatchesAt(ab, a, 0) && MatchesAt(ab, b, a->length));
  if (ab->length == 0) FUZZ_CHECK(ab == &kxBlankString);
  const Int ab_ba = kxStringCompare(a, b), ba_ab = kxStringCompare(b, a);
  FUZZ_CHECK((ab_ba < 0) == (ba_ab > 0) && (ab_ba == 0) == (ba_ab == 0));
  FUZZ_CHECK(kxStringCompare(a, a) == 0);
  FUZZ_CHECK(b->length == 0 ? kxStringCompare(ab, a) == 0 : kxStringCompare(ab, a) > 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBegin(__builtin_frame_address(0));
  FuzzInput in(data, size);
  String* s = TakeString(in);
  String* sub = TakeString(in);
  String* with = TakeString(in);
  CheckParsing(s);
  CheckFormatting(in);
  for (Int k = 0; k < 4 && !in.Empty(); ++k) {
    const Int start = in.Position();
    const Int end = in.Flag() ? in.Position()
                              : static_cast<Int>(
                                    std::min<Long>(Long(start) + in.Range(-4, 40), INT32_MAX));
    CheckRange(s, start, end);
    CheckSearch(s, kxStringRange(s, in.Range(-2, 24), in.Range(-2, 24)), start);
  }
  CheckSearch(s, sub, in.Position());
  CheckSubstitute(s, sub, with);
  CheckSubstitute(s, kxStringRange(s, in.Range(0, 8), in.Range(0, 8)), with);
  CheckStripAndCase(s);
  CheckConcatAndCompare(s, sub);
  kxCollectGarbage();
  return 0;
}
