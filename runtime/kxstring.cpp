// Strings: construction, conversions between numbers and text, search and
// replacement, C text in and out, and the console.
//
// Invariants kept here:
//  - a String never changes after the routine that built it returns;
//  - no routine returns a String of length 0 other than kxBlankString;
//  - a null String argument reads as the empty String, so no routine here
//    can fault on Null;
//  - positions and counts from callers are widened to 64 bits before any
//    arithmetic, so no Int argument can make a routine read out of bounds.
#include "runtime/kxstring.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "runtime/array.h"
#include "runtime/error.h"
#include "runtime/module.h"

// Slots 12..19 take no receiver: they are the module's free functions.
KX_VARIABLE_CLASS_RECORD(String, &String::IndexOf, &String::LastIndexOf, &String::Strip,
                         &String::Substitute, &String::LowerAscii, &String::UpperAscii,
                         &String::ParseInt, &String::ParseLong, &String::ParseFloat,
                         &String::ParseDouble, &String::EncodeCText, &String::CopyToWText,
                         &kxStringFromInt, &kxStringFromLong, &kxStringFormatFloat,
                         &kxStringFormatDouble, &kxStringDecodeCText, &kxStringCopyWText,
                         &kxStringDecodeBytes, &kxStringCopyUnits)

String kxBlankString({}, KX_REFS_STATIC, 0);

namespace {

// Largest length a String may have: its allocation size (2n + header) must
// still fit the allocator's Int sizes with room to spare.
constexpr int64_t kMaxUnits = 0x3ffffff0;

// C text blocks carry their byte size in front, because the text may hold
// 0 bytes and the block allocator needs the exact size back to free it.
constexpr Int kTextHeader = 8;

String* OrBlank(String* s) { return s ? s : &kxBlankString; }

// Units taken as code points of the C library's 8-bit classifiers; units
// above 255 are never passed to them.
bool IsSpaceUnit(uint16_t u) { return u <= 255 && std::isspace(static_cast<unsigned char>(u)); }

String* NewString(int64_t n) {
  if (n <= 0) return &kxBlankString;
  if (n > kMaxUnits) kxRaiseError(KX_STR("Attempt to create a String beyond the largest length"));
  void* memory = kxAllocObjectMemory(String::AllocationSize(static_cast<int32_t>(n)));
  String* s = new (memory) String(static_cast<int32_t>(n));
  // A collection inside the allocation may already have listed it.
  if (s->refs == 0) kxSchedulePending(s);
  return s;
}

bool MatchesAt(const String* s, const String* sub, int64_t p) {
  return std::memcmp(s->units + p, sub->units, sizeof(uint16_t) * sub->length) == 0;
}

// Digit value of a unit in base 2, 10 or 16, or -1.
int DigitValue(uint16_t u, int base) {
  int v = -1;
  if (u >= '0' && u <= '9')
    v = u - '0';
  else if (base == 16 && u >= 'a' && u <= 'f')
    v = u - 'a' + 10;
  else if (base == 16 && u >= 'A' && u <= 'F')
    v = u - 'A' + 10;
  return v < base ? v : -1;
}

// Shared by ParseInt and ParseLong: the value in 64-bit unsigned arithmetic,
// which wraps the same way in its low 32 bits as a 32-bit parse would.
uint64_t ParseWrapped(String* s) {
  s = OrBlank(s);
  int64_t i = 0;
  const int64_t n = s->length;
  while (i < n && IsSpaceUnit(s->units[i])) ++i;
  if (i >= n) return 0;
  bool negative = false;
  if (s->units[i] == '+' || s->units[i] == '-') {
    negative = s->units[i] == '-';
    if (++i >= n) return 0;
  }
  int base = 10;
  if (s->units[i] == '%') {
    base = 2;
    ++i;
  } else if (s->units[i] == '$') {
    base = 16;
    ++i;
  }
  uint64_t value = 0;
  for (; i < n; ++i) {
    const int d = DigitValue(s->units[i], base);
    if (d < 0) break;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  return negative ? 0 - value : value;
}

String* FormatDecimal(uint64_t magnitude, bool negative) {
  char buffer[64];
  char* p = buffer + sizeof buffer;
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *--p = '-';
  return kxStringDecodeBytes(p, static_cast<Int>(buffer + sizeof buffer - p));
}

String* FormatWith(const char* format, double v) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, format, v);
  return kxStringDecodeBytes(buffer, std::clamp(n, 0, static_cast<int>(sizeof buffer) - 1));
}

void* AllocText(int64_t bytes) {
  char* block = static_cast<char*>(kxSmallAlloc(static_cast<Int>(bytes + kTextHeader)));
  *reinterpret_cast<int64_t*>(block) = bytes + kTextHeader;
  return block + kTextHeader;
}

void FreeText(void* text) {
  if (!text) return;
  char* block = static_cast<char*>(text) - kTextHeader;
  kxSmallFree(block, static_cast<Int>(*reinterpret_cast<int64_t*>(block)));
}

void WriteTo(FILE* stream, String* s) {
  s = OrBlank(s);
  char* text = kxStringEncodeCText(s);
  // All units are written, a 0 unit included: fputs would drop the rest of
  // the text at the first 0 byte.
  std::fwrite(text, 1, static_cast<size_t>(s->length), stream);
  kxStringFreeCText(text);
  std::fflush(stream);
}

// Standard output can be a pipe that nobody reads any more (a stalled
// consumer, `lifesim | sleep 1000`): a write there blocks until the reader
// drains it, and with it the program, which then reacts to neither Escape
// nor a terminate request. So the text goes out only as far as the
// descriptor takes it at once, in pieces of at most PIPE_BUF bytes, which a
// pipe takes whole or not at all: a reader sees whole texts, and a text not
// taken is dropped and counted. The descriptor itself stays blocking: it is
// shared with the processes around, to whom that matters. A descriptor in
// error (its reader gone) is still written, so that the write fails and the
// program learns of it as before.
Long stdoutDropped = 0;

bool TakesOutputNow(int fd) {
  pollfd ready = {fd, POLLOUT, 0};
  int n;
  do {
    n = poll(&ready, 1, 0);
  } while (n < 0 && errno == EINTR);
  return n == 1 && (ready.revents & (POLLOUT | POLLERR | POLLHUP | POLLNVAL)) != 0;
}

void WriteWithoutBlocking(int fd, const char* text, size_t n) {
  while (n > 0 && TakesOutputNow(fd)) {
    const ssize_t written = write(fd, text, std::min<size_t>(n, PIPE_BUF));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    text += written;
    n -= static_cast<size_t>(written);
  }
  if (n > 0) ++stdoutDropped;
}

}  // namespace

// --- the class ------------------------------------------------------------

// The header is measured on the blank String (offsetof is not defined for
// a class with virtual functions).
size_t String::AllocationSize(int32_t n) {
  static const size_t header = static_cast<size_t>(
      reinterpret_cast<const char*>(kxBlankString.units) -
      reinterpret_cast<const char*>(&kxBlankString));
  return header + sizeof(uint16_t) * static_cast<size_t>(n > 0 ? n : 0);
}

void String::FreeObject() {
  // The blank String only gets its count back. Compiled constants never
  // reach a count of 0, so they never come here; and the presence bit of a
  // String being freed is already cleared, so it cannot tell them apart.
  if (this == &kxBlankString) {
    refs = KX_REFS_STATIC;
    return;
  }
  const size_t size = AllocationSize(length);
  this->~String();
  kxSmallFree(this, static_cast<Int>(size));
}

Int String::CompareWith(Object* other) {
  if (other && !Cast<String>(other)) return Object::CompareWith(other);
  return kxStringCompare(this, static_cast<String*>(other));
}

Int String::IndexOf(String* sub, Int start) { return kxStringIndexOf(this, sub, start); }
Int String::LastIndexOf(String* sub, Int start) { return kxStringLastIndexOf(this, sub, start); }
String* String::Strip() { return kxStringStrip(this); }
String* String::Substitute(String* sub, String* with) {
  return kxStringSubstitute(this, sub, with);
}
String* String::LowerAscii() { return kxStringLowerAscii(this); }
String* String::UpperAscii() { return kxStringUpperAscii(this); }
Int String::ParseInt() { return kxStringParseInt(this); }
Long String::ParseLong() { return kxStringParseLong(this); }
Float String::ParseFloat() { return kxStringParseFloat(this); }
Double String::ParseDouble() { return kxStringParseDouble(this); }
char* String::EncodeCText() { return kxStringEncodeCText(this); }
uint16_t* String::CopyToWText() { return kxStringCopyToWText(this); }

// --- construction ---------------------------------------------------------

String* kxStringAllocate(Int n) { return NewString(n); }

String* kxStringOneUnit(Int code) {
  String* s = NewString(1);
  s->units[0] = static_cast<uint16_t>(code);
  return s;
}

String* kxStringFromInt(Int v) {
  const uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  return FormatDecimal(magnitude, v < 0);
}

String* kxStringFromLong(Long v) {
  const uint64_t magnitude = v < 0 ? 0u - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  return FormatDecimal(magnitude, v < 0);
}

String* kxStringFormatFloat(Float v) { return FormatWith("%#.9g", static_cast<double>(v)); }
String* kxStringFormatDouble(Double v) { return FormatWith("%#.17lg", v); }

String* kxStringDecodeBytes(const void* bytes, Int n) {
  if (!bytes || n <= 0) return &kxBlankString;
  String* s = NewString(n);
  const unsigned char* in = static_cast<const unsigned char*>(bytes);
  for (Int i = 0; i < n; ++i) s->units[i] = in[i];
  return s;
}

String* kxStringCopyUnits(const uint16_t* units, Int n) {
  if (!units || n <= 0) return &kxBlankString;
  String* s = NewString(n);
  std::memcpy(s->units, units, sizeof(uint16_t) * static_cast<size_t>(n));
  return s;
}

String* kxStringPackInts(const int32_t* values, Int n) {
  if (!values || n <= 0) return &kxBlankString;
  String* s = NewString(n);
  for (Int i = 0; i < n; ++i) s->units[i] = static_cast<uint16_t>(values[i]);
  return s;
}

String* kxStringOfArray(Array* a) {
  if (!a || a->dims != 1 || !a->tag) return &kxBlankString;
  switch (a->tag[0]) {
    case 'b': return kxStringDecodeBytes(a->Data(), a->Length());
    case 's': return kxStringCopyUnits(a->Elements<uint16_t>(), a->Length());
    case 'i': return kxStringPackInts(a->Elements<int32_t>(), a->Length());
    default: return &kxBlankString;
  }
}

String* kxStringDecodeCText(const char* text) {
  if (!text) return &kxBlankString;
  const size_t n = std::strlen(text);
  if (n > static_cast<size_t>(kMaxUnits))
    kxRaiseError(KX_STR("Attempt to create a String beyond the largest length"));
  return kxStringDecodeBytes(text, static_cast<Int>(n));
}

Int kxWTextLength(const uint16_t* text) {
  if (!text) return 0;
  Int n = 0;
  while (text[n] != 0) ++n;
  return n;
}

String* kxStringCopyWText(const uint16_t* text) {
  return kxStringCopyUnits(text, kxWTextLength(text));
}

// Every use of the same literal gets one shared constant, so that comparing
// a constant with one written elsewhere (colour names, say) can end at the
// pointers. A process has a few hundred literals at most, each looked up
// once per use site.
String* kxStringConstant(const char* text) {
  const size_t n = text ? std::strlen(text) : 0;
  if (n == 0) return &kxBlankString;
  if (n > static_cast<size_t>(kMaxUnits)) kxThrowCString("String constant too long");
  static std::mutex lock;
  static std::vector<String*> constants;
  std::lock_guard<std::mutex> hold(lock);
  for (String* c : constants) {
    if (static_cast<size_t>(c->length) != n) continue;
    size_t i = 0;
    while (i < n && c->units[i] == static_cast<unsigned char>(text[i])) ++i;
    if (i == n) return c;
  }
  // Plain heap memory: the collector never sees, scans or frees a constant.
  void* memory = std::malloc(String::AllocationSize(static_cast<int32_t>(n)));
  if (!memory) kxOutOfMemory(String::AllocationSize(static_cast<int32_t>(n)));
  String* s = new (memory) String({}, KX_REFS_CONSTANT, static_cast<int32_t>(n));
  for (size_t i = 0; i < n; ++i) s->units[i] = static_cast<unsigned char>(text[i]);
  constants.push_back(s);
  return s;
}

// --- operations -----------------------------------------------------------

String* kxStringConcat(String* a, String* b) {
  a = OrBlank(a);
  b = OrBlank(b);
  String* s = NewString(static_cast<int64_t>(a->length) + b->length);
  if (s->length == 0) return s;
  std::memcpy(s->units, a->units, sizeof(uint16_t) * a->length);
  std::memcpy(s->units + a->length, b->units, sizeof(uint16_t) * b->length);
  return s;
}

Int kxStringCompare(String* a, String* b) {
  a = OrBlank(a);
  b = OrBlank(b);
  if (a == b) return 0;  // a constant compared with itself, as colour names are
  const int32_t n = std::min(a->length, b->length);
  for (int32_t i = 0; i < n; ++i) {
    if (a->units[i] != b->units[i])
      return static_cast<Int>(a->units[i]) - static_cast<Int>(b->units[i]);
  }
  return a->length - b->length;
}

String* kxStringRange(String* s, Int start, Int end) {
  s = OrBlank(s);
  const int64_t count = static_cast<int64_t>(end) - start;
  if (count <= 0) return &kxBlankString;
  String* r = NewString(count);
  for (int64_t i = 0; i < count; ++i) {
    const int64_t p = start + i;
    r->units[i] = (p >= 0 && p < s->length) ? s->units[p] : uint16_t{32};
  }
  return r;
}

// A negative start searches from 0.
Int kxStringIndexOf(String* s, String* sub, Int start) {
  s = OrBlank(s);
  sub = OrBlank(sub);
  for (int64_t p = std::max<int64_t>(start, 0); p + sub->length <= s->length; ++p) {
    if (MatchesAt(s, sub, p)) return static_cast<Int>(p);
  }
  return -1;
}

// A start beyond the length leaves nothing to search; a negative one
// searches from the end.
Int kxStringLastIndexOf(String* s, String* sub, Int start) {
  s = OrBlank(s);
  sub = OrBlank(sub);
  int64_t p = static_cast<int64_t>(s->length) - start;
  if (p + sub->length > s->length) p = static_cast<int64_t>(s->length) - sub->length;
  for (; p >= 0; --p) {
    if (MatchesAt(s, sub, p)) return static_cast<Int>(p);
  }
  return -1;
}

String* kxStringStrip(String* s) {
  s = OrBlank(s);
  int32_t first = 0;
  int32_t last = s->length;
  while (first < last && s->units[first] <= 32) ++first;
  while (last > first && s->units[last - 1] <= 32) --last;
  if (first == 0 && last == s->length) return s;
  return kxStringCopyUnits(s->units + first, last - first);
}

String* kxStringSubstitute(String* s, String* sub, String* with) {
  s = OrBlank(s);
  sub = OrBlank(sub);
  with = OrBlank(with);
  if (sub->length == 0) return s;
  int64_t count = 0;
  for (int64_t p = 0; p + sub->length <= s->length;) {
    if (MatchesAt(s, sub, p)) {
      ++count;
      p += sub->length;
    } else {
      ++p;
    }
  }
  if (count == 0) return s;
  String* r = NewString(s->length + count * (static_cast<int64_t>(with->length) - sub->length));
  int64_t in = 0;
  int64_t out = 0;
  auto copy = [&](const uint16_t* from, int64_t n) {
    std::memcpy(r->units + out, from, sizeof(uint16_t) * static_cast<size_t>(n));
    out += n;
  };
  while (in < s->length) {
    if (in + sub->length <= s->length && MatchesAt(s, sub, in)) {
      copy(with->units, with->length);
      in += sub->length;
    } else {
      r->units[out++] = s->units[in++];
    }
  }
  return r;
}

namespace {
// ASCII case mapping that returns s itself when no unit changes.
String* MapCase(String* s, uint16_t from, uint16_t to, int shift) {
  s = OrBlank(s);
  int32_t i = 0;
  while (i < s->length && !(s->units[i] >= from && s->units[i] <= to)) ++i;
  if (i == s->length) return s;
  String* r = kxStringCopyUnits(s->units, s->length);
  for (; i < r->length; ++i) {
    if (r->units[i] >= from && r->units[i] <= to)
      r->units[i] = static_cast<uint16_t>(r->units[i] + shift);
  }
  return r;
}
}  // namespace

String* kxStringLowerAscii(String* s) { return MapCase(s, 'A', 'Z', 'a' - 'A'); }
String* kxStringUpperAscii(String* s) { return MapCase(s, 'a', 'z', 'A' - 'a'); }

Int kxStringParseInt(String* s) { return static_cast<Int>(static_cast<uint32_t>(ParseWrapped(s))); }
Long kxStringParseLong(String* s) { return static_cast<Long>(ParseWrapped(s)); }

Double kxStringParseDouble(String* s) {
  char* text = kxStringEncodeCText(s);
  const double v = std::atof(text);
  kxStringFreeCText(text);
  return v;
}

Float kxStringParseFloat(String* s) { return static_cast<Float>(kxStringParseDouble(s)); }

// --- C text ---------------------------------------------------------------

char* kxStringEncodeCText(String* s) {
  s = OrBlank(s);
  char* text = static_cast<char*>(AllocText(static_cast<int64_t>(s->length) + 1));
  for (int32_t i = 0; i < s->length; ++i) text[i] = static_cast<char>(s->units[i] & 0xff);
  text[s->length] = 0;
  return text;
}

uint16_t* kxStringCopyToWText(String* s) {
  s = OrBlank(s);
  uint16_t* text = static_cast<uint16_t*>(AllocText(2 * (static_cast<int64_t>(s->length) + 1)));
  std::memcpy(text, s->units, sizeof(uint16_t) * s->length);
  text[s->length] = 0;
  return text;
}

void kxStringFreeCText(char* text) { FreeText(text); }
void kxStringFreeWText(uint16_t* text) { FreeText(text); }

// --- console --------------------------------------------------------------

void kxWriteStdout(String* s) {
  s = OrBlank(s);
  char* text = kxStringEncodeCText(s);
  std::fflush(stdout);  // what stdio holds goes first
  WriteWithoutBlocking(STDOUT_FILENO, text, static_cast<size_t>(s->length));
  kxStringFreeCText(text);
}

Long kxStdoutDropped() { return stdoutDropped; }
void kxWriteStderrText(String* s) { WriteTo(stderr, s); }

// Standard input is read here rather than through stdio, so that the wait
// for a line can be cut short: a terminate request that comes while the
// program waits for the user ends it within the wait's next tick instead of
// when a line arrives. Lines are at most 1023 bytes; the rest of a longer
// one is the next line.
namespace {

struct InputLines {
  char bytes[1023];
  size_t have = 0;
};
InputLines input;

// Returns when standard input can be read (or has ended or failed).
void AwaitInput() {
  for (;;) {
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&fd, 1, 100);
    if (ready > 0 || (ready < 0 && errno != EINTR)) return;
    kxCheckSignals();
  }
}

String* TakeInput(size_t length, size_t consumed) {
  String* line = kxStringDecodeBytes(input.bytes, static_cast<Int>(length));
  input.have -= consumed;
  std::memmove(input.bytes, input.bytes + consumed, input.have);
  return line;
}

}  // namespace

String* kxReadInputLine() {
  for (;;) {
    const char* end = static_cast<const char*>(std::memchr(input.bytes, '\n', input.have));
    if (end) return TakeInput(end - input.bytes, end - input.bytes + 1);
    if (input.have == sizeof input.bytes) return TakeInput(input.have, input.have);
    AwaitInput();
    const ssize_t n = read(STDIN_FILENO, input.bytes + input.have, sizeof input.bytes - input.have);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return input.have ? TakeInput(input.have, input.have) : &kxBlankString;
    input.have += static_cast<size_t>(n);
  }
}
