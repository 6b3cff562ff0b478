// Strings: parsing, comparison, ranges and searches with any positions,
// replacement, C text with embedded zeros, constants and the console.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "runtime/kxstring.h"
#include "tests/support/test_util.h"

namespace {

String* Units(std::initializer_list<uint16_t> units) {
  return kxStringCopyUnits(units.begin(), static_cast<Int>(units.size()));
}

}  // namespace

TEST(StringText, FormatAndParse) {
  EXPECT_EQ(ToStd(kxStringFromInt(INT_MIN)) + ToStd(kxStringFromInt(-7)), "-2147483648-7");
  EXPECT_EQ(ToStd(kxStringFromLong(LLONG_MIN)), "-9223372036854775808");
  const struct {
    const char* text;
    Int value;
  } ints[] = {{"  -$ff", -255},
              {"%101", 5},
              {"12abc", 12},
              {"abc", 0},
              {"\t+$FfA0", 0xffa0},
              {"%1021", 2},
              {"", 0},
              {"-", 0},
              {"--5", 0},
              {"4294967297", 1},
              {"2147483648", INT_MIN},
              {"$1ffffffff", -1}};
  for (const auto& c : ints) EXPECT_EQ(kxStringParseInt(Str(c.text)), c.value) << c.text;
  EXPECT_EQ(kxStringParseLong(Str("$1ffffffff")), 0x1ffffffffLL);
  EXPECT_EQ(kxStringParseLong(Str("9223372036854775808")), LLONG_MIN);
  // Units above 255 whose low byte is a digit or a space are neither.
  EXPECT_EQ(kxStringParseInt(Units({'1', 0x131, '2'})), 1);
  EXPECT_EQ(kxStringParseLong(Units({0x120, '5'})), 0);
}

// Ranges and searches with starts outside 0..length must neither read out
// of bounds nor overflow.
TEST(StringText, CompareConcatRangeAndSearchWithAnyStart) {
  EXPECT_EQ(kxStringCompare(Str("abc"), Str("abd")), -1);
  EXPECT_EQ(kxStringCompare(Str("ab"), Str("abc")), -1);
  EXPECT_EQ(kxStringCompare(Units({0xffff}), Units({1})), 0xfffe);
  EXPECT_EQ(kxStringConcat(&kxBlankString, &kxBlankString), &kxBlankString);
  String* a = Str("left");
  EXPECT_NE(kxStringConcat(a, &kxBlankString), a);
  EXPECT_EQ(ToStd(kxStringRange(Str("abc"), -2, 5)), "  abc  ");
  EXPECT_EQ(ToStd(kxStringRange(a, INT_MIN, INT_MIN + 2)), "  ");
  EXPECT_EQ(ToStd(kxStringRange(a, INT_MAX - 1, INT_MAX)), " ");
  EXPECT_EQ(kxStringRange(a, INT_MAX, INT_MIN), &kxBlankString);

  String* s = Str("abcabc");
  String* abc = Str("abc");
  const struct {
    Int start, first, last;
  } cases[] = {{0, 0, 3},  {1, 3, 3},       {4, -1, 0},       {7, -1, -1},
               {-5, 0, 3}, {INT_MIN, 0, 3}, {INT_MAX, -1, -1}};
  for (const auto& c : cases) {
    EXPECT_EQ(kxStringIndexOf(s, abc, c.start), c.first) << c.start;
    EXPECT_EQ(s->LastIndexOf(abc, c.start), c.last) << c.start;
  }
  // The empty String is found at the end itself, never beyond it.
  EXPECT_EQ(kxStringIndexOf(s, &kxBlankString, 6), 6);
  EXPECT_EQ(kxStringIndexOf(s, &kxBlankString, 7), -1);
  EXPECT_EQ(kxStringLastIndexOf(Str("ab"), abc, 0), -1);
}

TEST(StringText, StripSubstituteAndCaseReuseUnchangedStrings) {
  String* clean = Str("x y");
  EXPECT_EQ(ToStd(kxStringStrip(Str(" \t a b\n \r"))), "a b");
  EXPECT_EQ(kxStringStrip(Str(" \x01 ")), &kxBlankString);
  EXPECT_EQ(kxStringStrip(clean), clean);
  EXPECT_EQ(ToStd(kxStringSubstitute(Str("aaa"), Str("aa"), Str("b"))), "ba");
  EXPECT_EQ(ToStd(kxStringSubstitute(Str("a.b.c"), Str("."), Str("::"))), "a::b::c");
  EXPECT_EQ(kxStringSubstitute(clean, &kxBlankString, Str("q")), clean);
  EXPECT_EQ(
      kxStringCompare(kxStringUpperAscii(Units({'a', 0xe0, 0x161})), Units({'A', 0xe0, 0x161})), 0);
}

// Embedded zeros survive, and each block goes back with its true size (a
// size taken from the text would corrupt the allocator's free lists). A
// String of n units itself takes 2n + 12 bytes on i686 (class pointer,
// count, length) and 2n + 16 on x86-64.
TEST(StringText, CTextWithEmbeddedZeros) {
  char* c = kxStringEncodeCText(Units({'a', 0, 0x141}));
  EXPECT_EQ(std::string(c, 4), std::string("a\0A\0", 4));
  kxStringFreeCText(c);
  for (Int n : {1, 119, 240, 5000}) {
    const Int empty = kxBytesInUse();
    String* zeros = kxStringAllocate(n);
    EXPECT_EQ(kxBytesInUse() - empty, 2 * n + OnArch(12, 16)) << n;
    for (Int i = 0; i < n; ++i) zeros->units[i] = 0;
    const Int before = kxBytesInUse();
    kxStringFreeCText(kxStringEncodeCText(zeros));
    kxStringFreeWText(kxStringCopyToWText(zeros));
    EXPECT_EQ(kxBytesInUse(), before) << n;
  }
}

TEST(StringText, ConstantsAreStaticAndOutsideTheCollector) {
  String* seen[2];
  for (String*& s : seen) s = KX_STR("constant");  // one literal, reached twice
  EXPECT_EQ(seen[0], seen[1]);
  // Another use site of the same text shares the object; other text,
  // a prefix of it included, does not.
  EXPECT_EQ(KX_STR("constant"), seen[0]);
  EXPECT_NE(KX_STR("constan"), seen[0]);
  EXPECT_NE(KX_STR("constanT"), seen[0]);
  EXPECT_FALSE(kxIsObjectAddress(seen[0]));
  kxRelease(seen[0]);
  CollectAll();
  kxRetain(seen[0]);
  EXPECT_EQ(seen[0]->refs, KX_REFS_CONSTANT);
  EXPECT_EQ(ToStd(seen[0]), "constant");
}

TEST(StringText, ConsoleWritesLowBytesAndReadsLines) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  fflush(stdout);
  const int saved = dup(1);
  dup2(p[1], 1);
  kxWriteStdout(Units({0x141, 0, '\n'}));
  char bytes[8] = {};
  EXPECT_EQ(read(p[0], bytes, sizeof bytes), 3);
  EXPECT_EQ(std::string(bytes, 3), std::string("A\0\n", 3));

  // A pipe that nobody drains: the text is dropped, not waited for, and the
  // descriptor is left blocking; drained, the next text arrives whole.
  const int flags = fcntl(p[1], F_GETFL);
  fcntl(p[1], F_SETFL, flags | O_NONBLOCK);
  Int filled = 0;
  for (char chunk[512] = {}; write(p[1], chunk, sizeof chunk) > 0;) filled += sizeof chunk;
  while (write(p[1], "x", 1) == 1) ++filled;
  fcntl(p[1], F_SETFL, flags);
  const Long dropped = kxStdoutDropped();
  dup2(p[1], 1);
  kxWriteStdout(KX_STR("      <MAIN LOOP TOP OK>      "));
  EXPECT_EQ(kxStdoutDropped(), dropped + 1);
  EXPECT_EQ(fcntl(1, F_GETFL) & O_NONBLOCK, 0);
  std::vector<char> drain(static_cast<size_t>(filled) + 1);
  EXPECT_EQ(read(p[0], drain.data(), drain.size()), filled);
  kxWriteStdout(KX_STR("<TOP>"));
  dup2(saved, 1);
  close(saved);
  EXPECT_EQ(kxStdoutDropped(), dropped + 1);
  EXPECT_EQ(read(p[0], bytes, sizeof bytes), 5);
  EXPECT_EQ(std::string(bytes, 5), "<TOP>");

  ASSERT_EQ(write(p[1], "first\n\nlast", 11), 11);
  close(p[1]);
  const int savedIn = dup(0);
  dup2(p[0], 0);
  close(p[0]);
  clearerr(stdin);
  EXPECT_EQ(ToStd(kxReadInputLine()), "first");
  EXPECT_EQ(kxReadInputLine(), &kxBlankString);
  EXPECT_EQ(ToStd(kxReadInputLine()), "last");
  EXPECT_EQ(kxReadInputLine(), &kxBlankString);  // end of input
  dup2(savedIn, 0);
  close(savedIn);
  clearerr(stdin);
}
