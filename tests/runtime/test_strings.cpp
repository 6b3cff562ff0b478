// Strings: formatting and parsing, comparison, ranges and searches with any
// positions, replacement, C text round trips and the console.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

#include "runtime/array.h"
#include "runtime/kxstring.h"
#include "tests/support/test_util.h"

namespace {

String* Units(std::initializer_list<uint16_t> units) {
  return kxStringCopyUnits(units.begin(), static_cast<Int>(units.size()));
}

// Runs `body` with the file descriptor `fd` sent into a pipe and returns
// the bytes written there.
template <class F>
std::string Capture(int fd, FILE* stream, F body) {
  int p[2];
  EXPECT_EQ(pipe(p), 0);
  std::fflush(stream);
  const int saved = dup(fd);
  dup2(p[1], fd);
  close(p[1]);
  body();
  std::fflush(stream);
  dup2(saved, fd);
  close(saved);
  std::string bytes;
  char buffer[256];
  ssize_t n;
  while ((n = read(p[0], buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(n));
  close(p[0]);
  return bytes;
}

}  // namespace

TEST(StringFormat, DecimalIncludingTheMostNegativeValues) {
  EXPECT_EQ(ToStd(kxStringFromInt(0)), "0");
  EXPECT_EQ(ToStd(kxStringFromInt(-7)), "-7");
  EXPECT_EQ(ToStd(kxStringFromInt(INT_MAX)), "2147483647");
  EXPECT_EQ(ToStd(kxStringFromInt(INT_MIN)), "-2147483648");
  EXPECT_EQ(ToStd(kxStringFromLong(0)), "0");
  EXPECT_EQ(ToStd(kxStringFromLong(-1234567890123LL)), "-1234567890123");
  EXPECT_EQ(ToStd(kxStringFromLong(LLONG_MAX)), "9223372036854775807");
  EXPECT_EQ(ToStd(kxStringFromLong(LLONG_MIN)), "-9223372036854775808");
}

TEST(StringFormat, FloatsKeepTheirPointAndFullPrecision) {
  EXPECT_EQ(ToStd(kxStringFormatFloat(1.5f)), "1.50000000");
  EXPECT_EQ(ToStd(kxStringFormatFloat(0.1f)), "0.100000001");
  EXPECT_EQ(ToStd(kxStringFormatDouble(0.1)), "0.10000000000000001");
  EXPECT_EQ(ToStd(kxStringFormatDouble(3.0)), "3.0000000000000000");
  EXPECT_EQ(ToStd(kxStringFormatDouble(-1e300)), "-1.0000000000000001e+300");
}

TEST(StringParse, SignsBasesAndStops) {
  EXPECT_EQ(kxStringParseInt(Str("  -$ff")), -255);
  EXPECT_EQ(kxStringParseInt(Str("%101")), 5);
  EXPECT_EQ(kxStringParseInt(Str("12abc")), 12);
  EXPECT_EQ(kxStringParseInt(Str("abc")), 0);
  EXPECT_EQ(kxStringParseInt(Str("$FfA0")), 0xffa0);
  EXPECT_EQ(kxStringParseInt(Str("%1021")), 2);
  EXPECT_EQ(kxStringParseInt(Str("\t\n+42")), 42);
  EXPECT_EQ(kxStringParseInt(Str("$g")), 0);
  EXPECT_EQ(kxStringParseLong(Str(" -%11")), -3);
  for (const char* zero : {"", "   ", "-", "+", "--5", "- 5"}) {
    EXPECT_EQ(kxStringParseInt(Str(zero)), 0) << zero;
    EXPECT_EQ(kxStringParseLong(Str(zero)), 0) << zero;
  }
  EXPECT_EQ(kxStringParseInt(nullptr), 0);
}

TEST(StringParse, OverflowWrapsInThirtyTwoAndSixtyFourBits) {
  EXPECT_EQ(kxStringParseInt(Str("4294967297")), 1);
  EXPECT_EQ(kxStringParseInt(Str("2147483648")), INT_MIN);
  EXPECT_EQ(kxStringParseInt(Str("-2147483648")), INT_MIN);
  EXPECT_EQ(kxStringParseInt(Str("$ffffffff")), -1);
  EXPECT_EQ(kxStringParseInt(Str("$1ffffffff")), -1);
  EXPECT_EQ(kxStringParseLong(Str("$1ffffffff")), 0x1ffffffffLL);
  EXPECT_EQ(kxStringParseLong(Str("9223372036854775808")), LLONG_MIN);
  EXPECT_EQ(kxStringParseLong(Str("18446744073709551617")), 1);
  EXPECT_EQ(kxStringParseLong(Str("-$8000000000000000")), LLONG_MIN);
}

// Units whose low byte is a digit or white space are neither.
TEST(StringParse, UnitsAbove255AreNeitherSpaceNorDigits) {
  EXPECT_EQ(kxStringParseInt(Units({'1', 0x131, '2'})), 1);
  EXPECT_EQ(kxStringParseInt(Units({0x120, '5'})), 0);
  EXPECT_EQ(kxStringParseInt(Units({'$', 0x141})), 0);
  EXPECT_EQ(kxStringParseLong(Units({0x2009, '7'})), 0);
}

TEST(StringParse, FloatingPointThroughCText) {
  EXPECT_EQ(kxStringParseDouble(Str("2.5")), 2.5);
  EXPECT_EQ(kxStringParseDouble(Str("  -1e3x")), -1000.0);
  EXPECT_EQ(kxStringParseDouble(Str("abc")), 0.0);
  EXPECT_EQ(kxStringParseFloat(Str("0.1")), 0.1f);
  EXPECT_TRUE(std::isinf(kxStringParseFloat(Str("1e300"))));
}

TEST(StringCompare, OrdersByUnsignedUnitsThenLength) {
  EXPECT_EQ(kxStringCompare(Str("abc"), Str("abd")), -1);
  EXPECT_EQ(kxStringCompare(Str("ab"), Str("abc")), -1);
  EXPECT_EQ(kxStringCompare(Str("abc"), Str("ab")), 1);
  EXPECT_EQ(kxStringCompare(&kxBlankString, &kxBlankString), 0);
  EXPECT_EQ(kxStringCompare(Str("same"), Str("same")), 0);
  EXPECT_EQ(kxStringCompare(Units({0xffff}), Units({0x0001})), 0xfffe);
  EXPECT_EQ(kxStringCompare(nullptr, Str("a")), -1);
  // The class slot orders Strings the same way and other objects by address.
  EXPECT_LT(Str("a")->CompareWith(Str("b")), 0);
  EXPECT_EQ(Str("x")->CompareWith(&kxBlankString), 1);
}

TEST(StringBuild, ConcatAndEmptyResults) {
  EXPECT_EQ(kxStringConcat(&kxBlankString, &kxBlankString), &kxBlankString);
  EXPECT_EQ(kxStringConcat(nullptr, nullptr), &kxBlankString);
  String* a = Str("left");
  String* joined = kxStringConcat(a, &kxBlankString);
  EXPECT_NE(joined, a);
  EXPECT_EQ(ToStd(joined), "left");
  EXPECT_EQ(ToStd(kxStringConcat(a, Str("right"))), "leftright");
  EXPECT_EQ(kxStringAllocate(0), &kxBlankString);
  EXPECT_EQ(kxStringDecodeCText(nullptr), &kxBlankString);
  EXPECT_EQ(kxStringDecodeCText(""), &kxBlankString);
  EXPECT_EQ(kxStringCopyWText(nullptr), &kxBlankString);
  EXPECT_EQ(kxStringOneUnit(0x12345)->units[0], 0x2345);
  const int32_t values[] = {0x10041, -1, 66};
  String* packed = kxStringPackInts(values, 3);
  ASSERT_EQ(packed->length, 3);
  EXPECT_EQ(packed->units[0], 0x41);
  EXPECT_EQ(packed->units[1], 0xffff);
  EXPECT_EQ(packed->units[2], 66);
}

TEST(StringBuild, FromArraysOfBytesShortsAndInts) {
  Array* bytes = kxArrayNewOneDim("b", 3);
  bytes->Elements<uint8_t>()[0] = 'h';
  bytes->Elements<uint8_t>()[1] = 0xe9;
  bytes->Elements<uint8_t>()[2] = 'y';
  String* s = kxStringOfArray(bytes);
  ASSERT_EQ(s->length, 3);
  EXPECT_EQ(s->units[1], 0xe9);

  Array* shorts = kxArrayNewOneDim("s", 2);
  shorts->Elements<uint16_t>()[0] = 0x1234;
  shorts->Elements<uint16_t>()[1] = 'z';
  EXPECT_EQ(kxStringCompare(kxStringOfArray(shorts), Units({0x1234, 'z'})), 0);

  Array* ints = kxArrayNewOneDim("i", 2);
  ints->Elements<int32_t>()[0] = 0x70061;
  ints->Elements<int32_t>()[1] = 'b';
  EXPECT_EQ(ToStd(kxStringOfArray(ints)), "ab");

  EXPECT_EQ(kxStringOfArray(kxArrayNewOneDim("f", 4)), &kxBlankString);
  EXPECT_EQ(kxStringOfArray(kxArrayNew("i", 2, 2, 2)), &kxBlankString);
  EXPECT_EQ(kxStringOfArray(&kxEmptyArray), &kxBlankString);
  EXPECT_EQ(kxStringOfArray(nullptr), &kxBlankString);
}

TEST(StringRange, PadsOutsidePositionsWithSpaces) {
  EXPECT_EQ(ToStd(kxStringRange(Str("abc"), -2, 5)), "  abc  ");
  EXPECT_EQ(ToStd(kxStringRange(Str("abcdef"), 2, 4)), "cd");
  EXPECT_EQ(kxStringRange(Str("abc"), 2, 2), &kxBlankString);
  EXPECT_EQ(kxStringRange(Str("abc"), 3, 1), &kxBlankString);
  EXPECT_EQ(ToStd(kxStringRange(Str("abc"), INT_MIN, INT_MIN + 3)), "   ");
  EXPECT_EQ(ToStd(kxStringRange(Str("abc"), INT_MAX - 2, INT_MAX)), "  ");
  // end - start overflows 32 bits: still no String rather than a huge one
  EXPECT_EQ(kxStringRange(Str("abc"), INT_MAX, INT_MIN), &kxBlankString);
}

TEST(StringSearch, ForwardWithAnyStart) {
  String* s = Str("abcabc");
  EXPECT_EQ(kxStringIndexOf(s, Str("bc"), 0), 1);
  EXPECT_EQ(kxStringIndexOf(s, Str("bc"), 2), 4);
  EXPECT_EQ(kxStringIndexOf(s, Str("bc"), 5), -1);
  EXPECT_EQ(kxStringIndexOf(s, Str("abcabcd"), 0), -1);
  EXPECT_EQ(kxStringIndexOf(s, &kxBlankString, 3), 3);
  EXPECT_EQ(kxStringIndexOf(s, &kxBlankString, 6), 6);
  EXPECT_EQ(kxStringIndexOf(s, &kxBlankString, 7), -1);
  EXPECT_EQ(kxStringIndexOf(s, Str("ab"), -5), 0);
  EXPECT_EQ(kxStringIndexOf(s, Str("c"), INT_MIN), 2);
  EXPECT_EQ(kxStringIndexOf(s, Str("c"), INT_MAX), -1);
  EXPECT_EQ(s->IndexOf(Str("ca"), 0), 2);
}

TEST(StringSearch, BackwardWithAnyStart) {
  String* s = Str("abcabc");
  EXPECT_EQ(kxStringLastIndexOf(s, Str("abc"), 0), 3);
  EXPECT_EQ(kxStringLastIndexOf(s, Str("abc"), 1), 3);
  EXPECT_EQ(kxStringLastIndexOf(s, Str("abc"), 3), 3);
  EXPECT_EQ(kxStringLastIndexOf(s, Str("abc"), 4), 0);
  EXPECT_EQ(kxStringLastIndexOf(s, Str("abc"), 6), 0);
  EXPECT_EQ(kxStringLastIndexOf(s, Str("abc"), 7), -1);
  EXPECT_EQ(kxStringLastIndexOf(s, Str("abc"), INT_MAX), -1);
  EXPECT_EQ(kxStringLastIndexOf(s, Str("abc"), INT_MIN), 3);
  EXPECT_EQ(kxStringLastIndexOf(s, Str("x"), 0), -1);
  EXPECT_EQ(kxStringLastIndexOf(Str("ab"), Str("abc"), 0), -1);
  EXPECT_EQ(kxStringLastIndexOf(s, &kxBlankString, 2), 4);
  EXPECT_EQ(s->LastIndexOf(Str("b"), 0), 4);
}

TEST(StringEdit, StripKeepsOrReusesTheObject) {
  EXPECT_EQ(ToStd(kxStringStrip(Str(" \t a b\n \r"))), "a b");
  EXPECT_EQ(kxStringStrip(Str(" \x01\x1f ")), &kxBlankString);
  String* clean = Str("x y");
  EXPECT_EQ(kxStringStrip(clean), clean);
  // 0xa0 is above 32: kept
  EXPECT_EQ(kxStringStrip(Units({0xa0, 'q'}))->length, 2);
}

TEST(StringEdit, SubstituteNonOverlappingFromTheLeft) {
  EXPECT_EQ(ToStd(kxStringSubstitute(Str("aaa"), Str("aa"), Str("b"))), "ba");
  EXPECT_EQ(ToStd(kxStringSubstitute(Str("a.b.c"), Str("."), Str("::"))), "a::b::c");
  EXPECT_EQ(ToStd(kxStringSubstitute(Str("xyxyx"), Str("xy"), Str(""))), "x");
  EXPECT_EQ(kxStringSubstitute(Str("aa"), Str("a"), &kxBlankString), &kxBlankString);
  String* s = Str("hello");
  EXPECT_EQ(kxStringSubstitute(s, Str("z"), Str("q")), s);
  EXPECT_EQ(kxStringSubstitute(s, &kxBlankString, Str("q")), s);
  EXPECT_EQ(ToStd(s->Substitute(Str("l"), Str("L"))), "heLLo");
}

TEST(StringEdit, AsciiCaseOnly) {
  String* mixed = Units({'A', 'z', 0xc0, 0xe0, '[', '@', 0x141});
  String* lower = kxStringLowerAscii(mixed);
  String* upper = kxStringUpperAscii(mixed);
  EXPECT_EQ(kxStringCompare(lower, Units({'a', 'z', 0xc0, 0xe0, '[', '@', 0x141})), 0);
  EXPECT_EQ(kxStringCompare(upper, Units({'A', 'Z', 0xc0, 0xe0, '[', '@', 0x141})), 0);
  EXPECT_EQ(ToStd(mixed->LowerAscii()), ToStd(lower));
  String* already = Str("done 1");
  EXPECT_EQ(kxStringLowerAscii(already), already);
  EXPECT_EQ(ToStd(mixed), "Az\xc0\xe0[@A");  // the original is unchanged
}

// Embedded 0 units must survive, and the block must go back to the
// allocator with its true size (a wrong size corrupts its free lists).
TEST(StringCText, RoundTripsWithEmbeddedZeros) {
  String* s = Units({'a', 0, 0x141, 0xffff});
  char* c = kxStringEncodeCText(s);
  EXPECT_EQ(c[0], 'a');
  EXPECT_EQ(c[1], 0);
  EXPECT_EQ(static_cast<unsigned char>(c[2]), 0x41);
  EXPECT_EQ(static_cast<unsigned char>(c[3]), 0xff);
  EXPECT_EQ(c[4], 0);
  kxStringFreeCText(c);

  uint16_t* w = kxStringCopyToWText(s);
  EXPECT_EQ(w[3], 0xffff);
  EXPECT_EQ(w[4], 0);
  EXPECT_EQ(kxWTextLength(w), 1);
  EXPECT_EQ(kxStringCompare(kxStringCopyWText(w + 2), Units({0x141, 0xffff})), 0);
  kxStringFreeWText(w);

  for (Int n : {1, 7, 15, 16, 119, 120, 239, 240, 241, 5000}) {
    String* zeros = kxStringAllocate(n);
    for (Int i = 0; i < n; ++i) zeros->units[i] = 0;
    const Int before = kxBytesInUse();
    kxStringFreeCText(kxStringEncodeCText(zeros));
    kxStringFreeWText(kxStringCopyToWText(zeros));
    EXPECT_EQ(kxBytesInUse(), before) << n;
  }
}

TEST(StringConstant, OneStaticObjectPerLiteral) {
  String* first = nullptr;
  for (int i = 0; i < 2; ++i) {
    String* s = KX_STR("constant text");
    if (!first) first = s;
    EXPECT_EQ(s, first);
  }
  EXPECT_EQ(ToStd(first), "constant text");
  EXPECT_EQ(first->refs, KX_REFS_CONSTANT);
  EXPECT_FALSE(kxIsObjectAddress(first));
  EXPECT_EQ(KX_STR(""), &kxBlankString);
  kxRetain(first);
  kxRelease(first);
  CollectAll();
  EXPECT_EQ(first->refs, KX_REFS_CONSTANT);
  EXPECT_EQ(ToStd(first), "constant text");
  EXPECT_STREQ(first->Class()->name, "String");
}

TEST(StringConsole, WritesLowBytesWithoutAddingNewlines) {
  EXPECT_EQ(Capture(1, stdout, [] { kxWriteStdout(Units({0x141})); }), "A");
  EXPECT_EQ(Capture(1, stdout, [] { kxWriteStdout(Str("two\nlines")); }), "two\nlines");
  EXPECT_EQ(Capture(1, stdout, [] { kxWriteStdout(Units({'a', 0, 'b'})); }), std::string("a\0b", 3));
  EXPECT_EQ(Capture(1, stdout, [] { kxWriteStdout(&kxBlankString); }), "");
  EXPECT_EQ(Capture(2, stderr, [] { kxWriteStderrText(Str("oops")); }), "oops");
}

TEST(StringConsole, ReadsLinesAndGivesEmptyAtEnd) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  const std::string input = "first line\n\nno newline at end";
  ASSERT_EQ(write(p[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(p[1]);
  const int saved = dup(0);
  dup2(p[0], 0);
  close(p[0]);
  clearerr(stdin);
  EXPECT_EQ(ToStd(kxReadInputLine()), "first line");
  EXPECT_EQ(kxReadInputLine(), &kxBlankString);
  EXPECT_EQ(ToStd(kxReadInputLine()), "no newline at end");
  EXPECT_EQ(kxReadInputLine(), &kxBlankString);
  EXPECT_EQ(kxReadInputLine(), &kxBlankString);
  dup2(saved, 0);
  close(saved);
  clearerr(stdin);
}
