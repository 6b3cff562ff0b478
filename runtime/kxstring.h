// The runtime's text type: an immutable run of UTF-16 code units in a
// reference-counted object. Every operation that would change a String
// returns a new one (or the same object when nothing changes); every
// operation that would give length 0 returns the one static kxBlankString.
#pragma once

#include <cstdio>

#include "runtime/object.h"

class Array;

class String final : public Object {
  KX_CLASS(String, Object)
 public:
  int32_t length;
  uint16_t units[1];  // really [length]; no terminator

  String* AsText() override { return this; }
  Int CompareWith(Object* other) override;
  void FreeObject() override;

  // Method slots 0..19, in order.
  virtual Int IndexOf(String* sub, Int start);
  virtual Int LastIndexOf(String* sub, Int start);
  virtual String* Strip();
  virtual String* Substitute(String* sub, String* with);
  virtual String* LowerAscii();
  virtual String* UpperAscii();
  virtual Int ParseInt();
  virtual Long ParseLong();
  virtual Float ParseFloat();
  virtual Double ParseDouble();
  virtual char* EncodeCText();
  virtual uint16_t* CopyToWText();
  // Slots 12..19 take no receiver: FormatInt, FormatLong, FormatFloat,
  // FormatDouble, DecodeCText, CopyWText, DecodeBytes, CopyUnits are the
  // free functions below.

  // Bytes for n units, header included.
  static size_t AllocationSize(int32_t n);

  explicit String(int32_t n) : length(n) {}
  String(StaticTag s, uint32_t count, int32_t n) : Object(s, count), length(n) {}
};

extern String kxBlankString;
inline constexpr const ClassRecord& kxStringClass = String::classRecord;

String* kxStringAllocate(Int n);  // units to be filled by the caller
String* kxStringOneUnit(Int code);
String* kxStringFromInt(Int v);
String* kxStringFromLong(Long v);
String* kxStringFormatFloat(Float v);
String* kxStringFormatDouble(Double v);
String* kxStringDecodeBytes(const void* bytes, Int n);
String* kxStringCopyUnits(const uint16_t* units, Int n);
String* kxStringPackInts(const int32_t* values, Int n);
String* kxStringOfArray(Array* a);
String* kxStringDecodeCText(const char* text);
String* kxStringCopyWText(const uint16_t* text);
Int kxWTextLength(const uint16_t* text);

String* kxStringConcat(String* a, String* b);
Int kxStringCompare(String* a, String* b);
String* kxStringRange(String* s, Int start, Int end);
Int kxStringIndexOf(String* s, String* sub, Int start);
Int kxStringLastIndexOf(String* s, String* sub, Int start);
String* kxStringStrip(String* s);
String* kxStringSubstitute(String* s, String* sub, String* with);
String* kxStringLowerAscii(String* s);
String* kxStringUpperAscii(String* s);
Int kxStringParseInt(String* s);
Long kxStringParseLong(String* s);
Float kxStringParseFloat(String* s);
Double kxStringParseDouble(String* s);
char* kxStringEncodeCText(String* s);      // free with kxStringFreeCText
uint16_t* kxStringCopyToWText(String* s);  // free with kxStringFreeWText
void kxStringFreeCText(char* text);
void kxStringFreeWText(uint16_t* text);

// Writes what standard output takes at once and never waits for it: a text
// it does not take whole is dropped (counted by kxStdoutDropped).
void kxWriteStdout(String* s);
Long kxStdoutDropped();
void kxWriteStderrText(String* s);
String* kxReadInputLine();

// A String constant of compiled code: count 0x7fffffff, never freed, not
// in the collector's memory. KX_STR("text") yields the same object each time.
String* kxStringConstant(const char* text);
#define KX_STR(text)                                          \
  ([]() -> String* {                                          \
    static String* const kxConstant = kxStringConstant(text); \
    return kxConstant;                                        \
  }())
