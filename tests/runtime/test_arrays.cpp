// Arrays: the empty array, extents and sizes, initial elements for every
// tag, reference counting of elements, ranges, arrays from values, sorting
// and dimension sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "runtime/array.h"
#include "runtime/error.h"
#include "runtime/kxstring.h"
#include "tests/runtime/object_probe.h"
#include "tests/support/test_util.h"

namespace {

std::vector<Int> IntsOf(Array* a) {
  return std::vector<Int>(a->Elements<Int>(), a->Elements<Int>() + a->Length());
}

TEST(ArrayCreation, AnySizeZeroOrNegativeGivesTheEmptyArray) {
  EXPECT_EQ(kxArrayNew("i", 2, 0, 5), &kxEmptyArray);
  EXPECT_EQ(kxArrayNew("i", 2, 5, -1), &kxEmptyArray);
  EXPECT_EQ(kxArrayNew("i", 0), &kxEmptyArray);
  EXPECT_EQ(kxArrayNewOneDim("d", -3), &kxEmptyArray);
  EXPECT_EQ(kxArrayRange("i", &kxEmptyArray, 4, 4), &kxEmptyArray);
  EXPECT_EQ(kxArrayFromValues("i", 0, nullptr), &kxEmptyArray);
  EXPECT_EQ(kxEmptyArray.DimensionSizes(), &kxEmptyArray);
  EXPECT_EQ(kxEmptyArray.Length(), 0);
  kxEmptyArray.SortElements(1);  // nothing to sort, nothing to break
  // Its free routine only restores its count.
  uint32_t held = kxEmptyArray.refs;
  kxEmptyArray.refs = 0;
  kxEmptyArray.FreeObject();
  EXPECT_EQ(kxEmptyArray.refs, KX_REFS_STATIC);
  kxEmptyArray.refs = held;
}

TEST(ArrayCreation, ExtentsElementSizesAndInitialValuesForEveryTag) {
  Int before = kxBytesInUse();
  Array* grid = kxArrayNew("i", 2, 57, 24);
  EXPECT_EQ(kxBytesInUse() - before, static_cast<Int>(Array::AllocationSize(2, 5472)));
  // 20 + 4d + data size as documented on i686; on x86-64 8-byte pointers
  // and alignment put the elements after a 40-byte header.
  EXPECT_EQ(Array::AllocationSize(2, 5472), OnArch<size_t>(5500, 40 + 5472));
  EXPECT_EQ(Array::AllocationSize(1, 400), OnArch<size_t>(24 + 400, 40 + 400));
  EXPECT_EQ(grid->Extents()[0], 1368);
  EXPECT_EQ(grid->Extents()[1], 24);
  EXPECT_EQ(grid->dataSize, 5472);
  EXPECT_EQ(reinterpret_cast<char*>(grid->Data()) + grid->dataSize,
            reinterpret_cast<char*>(grid) + Array::AllocationSize(2, 5472));
  std::vector<Int> all = IntsOf(grid);
  EXPECT_TRUE(std::all_of(all.begin(), all.end(), [](Int v) { return v == 0; }));
  EXPECT_EQ(IntsOf(grid->DimensionSizes()), (std::vector<Int>{57, 24}));

  Array* cube = kxArrayNew("d", 3, 2, 3, 4);
  EXPECT_EQ(cube->Extents()[1], 12);
  EXPECT_EQ(IntsOf(cube->DimensionSizes()), (std::vector<Int>{2, 3, 4}));

  struct Case {
    const char* tag;
    Int size;
  } cases[] = {{"b", 1},
               {"s", 2},
               {"i", 4},
               {"f", 4},
               {"l", 8},
               {"d", 8},
               {"$", OnArch(4, 8)},
               {":TProbe", OnArch(4, 8)},
               {"[i", OnArch(4, 8)},
               {"(i)", OnArch(4, 8)},
               {"z", 4}};
  for (const Case& c : cases) {
    EXPECT_EQ(kxArrayElementSize(c.tag), c.size) << c.tag;
    Array* a = kxArrayNewOneDim(c.tag, 5);
    EXPECT_EQ(a->dataSize, 5 * c.size) << c.tag;
    EXPECT_EQ(kxArrayTagIsRef(c.tag), c.tag[0] == '$' || c.tag[0] == ':' || c.tag[0] == '[')
        << c.tag;
    if (c.tag[0] == '$' || c.tag[0] == ':' || c.tag[0] == '[' || c.tag[0] == '(') continue;
    const Byte* bytes = a->Elements<Byte>();
    EXPECT_TRUE(std::all_of(bytes, bytes + a->dataSize, [](Byte b) { return b == 0; })) << c.tag;
  }
  Array* strings = kxArrayNewOneDim("$", 3);
  Array* objects = kxArrayNewOneDim(":TProbe", 3);
  Array* arrays = kxArrayNew("[i", 2, 2, 2);
  for (Int i = 0; i < 3; ++i) {
    EXPECT_EQ(strings->RefElements()[i], &kxBlankString);
    EXPECT_EQ(objects->RefElements()[i], nullptr);
  }
  for (Int i = 0; i < 4; ++i) EXPECT_EQ(arrays->RefElements()[i], &kxEmptyArray);

  // A function element nobody stored raises the null-function error.
  Array* functions = kxArrayNewOneDim("(i)", 2);
  EXPECT_EQ(Raised(functions->Elements<void (*)()>()[1]),
            ToStd(kxErrorText(New<TNullFunctionError>())));
}

__attribute__((noinline)) void MakeAndDropArrays(Int rounds) {
  for (Int i = 0; i < rounds; ++i) {
    kxArrayNewOneDim("$", 50);
    kxArrayNewOneDim("[b", 50);
  }
}

// Builds an array of n Strings held only by the global below.
Ref<Array> stringsHeld;
__attribute__((noinline)) std::vector<uintptr_t> FillStrings(Int n) {
  std::vector<uintptr_t> where;
  stringsHeld = kxArrayNewOneDim("$", n);
  for (Int i = 0; i < n; ++i) {
    String* s = Str("element " + std::to_string(i));
    kxArraySetRef(stringsHeld, i, s);
    where.push_back(Disguise(s));
  }
  where.push_back(Disguise(stringsHeld.get()));
  return where;
}

// Freed arrays release their elements in the same collection, and the
// static initial elements keep their counts balanced.
TEST(ArrayReferences, FreedArraysReleaseTheirElementsInTheSameCollection) {
  WipeStack();
  CollectAll();
  uint32_t blank = kxBlankString.refs, empty = kxEmptyArray.refs;
  RunDeep([] { MakeAndDropArrays(200); });
  WipeStack();
  CollectAll();
  EXPECT_EQ(kxBlankString.refs, blank);
  EXPECT_EQ(kxEmptyArray.refs, empty);

  std::vector<uintptr_t> where;
  RunDeep([&] { where = FillStrings(40); });
  WipeStack();
  CollectAll();  // owned now: nothing is freed
  for (uintptr_t w : where) ASSERT_TRUE(IsObjectAt(w));
  // Released in a frame of its own: the old pointer must not stay behind in
  // a register or slot of this one (i686 has few registers and spills more).
  RunDeep([] { stringsHeld = nullptr; });
  WipeStack();
  kxCollectGarbage();
  for (uintptr_t w : where) EXPECT_FALSE(IsObjectAt(w));
  EXPECT_GE(kxLastObjectsFreed(), 41);
}

// A caller's mistake raises a runtime error instead of touching memory: a
// Null tag or size list, a Null array, an index outside, a reference
// stored into an array of plain values.
TEST(ArrayReferences, NullTagsNullArraysAndOutsideIndicesRaise) {
  const std::string null = ToStd(kxErrorText(New<TNullAccessError>()));
  const std::string index = ToStd(kxErrorText(New<TIndexRangeError>()));
  Array* ints = kxArrayNewOneDim("i", 3);
  Array* grid = kxArrayNew("$", 2, 2, 3);
  String* s = Str("kept");
  const struct {
    std::function<void()> call;
    std::string text;
  } cases[] = {
      {[] { kxArrayNewOneDim(nullptr, 4); }, null},
      {[] { kxArrayNew(nullptr, 2, 2, 2); }, null},
      {[] { kxArrayNewDims("i", 2, nullptr); }, null},
      {[] { kxArrayFromValues("i", 2, nullptr); }, null},
      {[&] { kxArraySetRef(nullptr, 0, s); }, null},
      {[&] { kxArraySetRef(grid, 6, s); }, index},
      {[&] { kxArraySetRef(grid, -1, s); }, index},
      {[&] { kxArraySetRef(&kxEmptyArray, 0, s); }, index},
      {[&] { kxArraySetRef(ints, 2, s); },
       "Attempt to store a reference in an array of another element type"},
  };
  for (const auto& c : cases) EXPECT_EQ(Raised(c.call), c.text);
  EXPECT_EQ(kxArrayNewOneDim(nullptr, 0), &kxEmptyArray);  // no element, no tag needed
  EXPECT_EQ(IntsOf(ints), (std::vector<Int>{0, 0, 0}));
  const uint32_t held = s->refs;
  kxArraySetRef(grid, 5, s);
  EXPECT_EQ(grid->RefElements()[5], s);
  EXPECT_EQ(s->refs, held + 1);
}

TEST(ArrayReferences, RangeAndFromValuesCopyElements) {
  Int values[] = {10, 20, 30, 40};
  Array* src = kxArrayFromValues("i", 4, values);
  EXPECT_EQ(IntsOf(kxArrayRange("i", src, 1, 3)), (std::vector<Int>{20, 30}));
  EXPECT_EQ(IntsOf(kxArrayRange("i", src, -2, 6)), (std::vector<Int>{0, 0, 10, 20, 30, 40, 0, 0}));
  EXPECT_EQ(IntsOf(kxArrayRange("i", src, 5, 7)), (std::vector<Int>{0, 0}));
  // Extreme bounds do not overflow.
  EXPECT_EQ(kxArrayRange("i", src, INT32_MAX, INT32_MIN), &kxEmptyArray);

  Ref<Array> names = kxArrayNewOneDim("$", 2);
  String* a = Str("a");
  kxArraySetRef(names, 0, a);
  Array* slice = kxArrayRange("$", names, 0, 3);
  EXPECT_EQ(slice->RefElements()[0], a);
  EXPECT_EQ(a->refs & ~KX_REFS_PENDING, 2u);  // both arrays hold it
  EXPECT_EQ(slice->RefElements()[1], &kxBlankString);
  EXPECT_EQ(slice->RefElements()[2], &kxBlankString);

  // A tag of another element size or kind is refused before anything is
  // read; one of the same size and kind copies the bits.
  for (const char* tag : {"b", "s", "l", "d", "$", ":TObject"})
    EXPECT_EQ(Raised([&] { kxArrayRange(tag, src, 0, 4); }),
              "Attempt to copy array elements into an array of another element type")
        << tag;
  EXPECT_NE(Raised([&] { kxArrayRange("i", names, 0, 1); }), "");
  EXPECT_EQ(kxArrayRange("f", src, 0, 1)->Elements<Int>()[0], 10);
  // More elements than 32 bits count is an error too, not an abort.
  EXPECT_EQ(Raised([&] { kxArrayRange("i", src, INT32_MIN, INT32_MAX); }),
            "Attempt to create an array beyond the largest size");
  EXPECT_EQ(Raised([&] { kxArrayNew("d", 2, 65536, 32768); }),
            "Attempt to create an array beyond the largest size");

  // Arrays from values take the low bits or whole values.
  Int words[] = {0x1ff, -1, 0x12345678};
  Array* b = kxArrayFromValues("b", 3, words);
  EXPECT_EQ(b->Elements<Byte>()[0], 0xff);
  EXPECT_EQ(b->Elements<Byte>()[2], 0x78);
  EXPECT_EQ(kxArrayFromValues("s", 3, words)->Elements<Short>()[2], 0x5678);
  EXPECT_EQ(IntsOf(kxArrayFromValues("i", 3, words)), (std::vector<Int>{0x1ff, -1, 0x12345678}));
  Long longs[] = {INT64_MIN, 5};
  Array* l = kxArrayFromValues("l", 2, longs);
  EXPECT_EQ(l->Elements<Long>()[0], INT64_MIN);
  EXPECT_EQ(l->Elements<Long>()[1], 5);
}

// Every numeric type both ways against the standard library, on random
// data, few distinct values, and runs already in order and in reverse.
template <class T>
void CheckSorts(const char* tag, double lo, double hi) {
  std::mt19937 rng(1234);
  std::uniform_real_distribution<double> any(lo, hi);
  for (size_t n : {size_t(2), size_t(3), size_t(7), size_t(1001)}) {
    for (int shape = 0; shape < 4; ++shape) {
      std::vector<T> input(n);
      for (T& x : input) x = static_cast<T>(shape == 1 ? rng() % 3 : any(rng));
      if (shape >= 2) std::sort(input.begin(), input.end());
      if (shape == 3) std::reverse(input.begin(), input.end());
      for (Int ascending : {1, 0}) {
        Array* a = kxArrayNewOneDim(tag, static_cast<Int>(n));
        std::copy(input.begin(), input.end(), a->Elements<T>());
        a->SortElements(ascending);
        std::vector<T> want = input;
        std::sort(want.begin(), want.end());
        if (!ascending) std::reverse(want.begin(), want.end());
        ASSERT_EQ(std::vector<T>(a->Elements<T>(), a->Elements<T>() + n), want)
            << tag << " n=" << n;
      }
    }
  }
}

TEST(ArraySort, EveryNumericTypeBothWaysWithNaNsAndUnsortableTags) {
  CheckSorts<Byte>("b", 0, 255);  // unsigned: 200 sorts after 100
  CheckSorts<Short>("s", 0, 65535);
  CheckSorts<Int>("i", INT32_MIN, INT32_MAX);
  CheckSorts<Long>("l", -1e18, 1e18);
  CheckSorts<Float>("f", -1e6, 1e6);
  CheckSorts<Double>("d", -1e300, 1e300);

  // NaNs stay inside the array; other tags are left alone.
  std::vector<Double> values = {3, NAN, 1, NAN, 2, 5, NAN, 4, 0, NAN, 9, 8, 7, 6};
  Array* a = kxArrayNewOneDim("d", static_cast<Int>(values.size()));
  std::copy(values.begin(), values.end(), a->Elements<Double>());
  a->SortElements(1);
  std::vector<Double> numbers;
  for (Int i = 0; i < a->Length(); ++i)
    if (!std::isnan(a->Elements<Double>()[i])) numbers.push_back(a->Elements<Double>()[i]);
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(numbers, (std::vector<Double>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));

  Int words[] = {3, 1, 2};
  Array* other = kxArrayFromValues("z", 3, words);
  other->SortElements(1);
  EXPECT_EQ(IntsOf(other), (std::vector<Int>{3, 1, 2}));
}

TEST(ArraySort, StringsAndObjectsOrderByCompareWith) {
  std::vector<std::string> words = {"pear", "apple", "fig", "apple", "banana", "", "Zebra", "kiwi"};
  Ref<Array> strings = kxArrayNewOneDim("$", static_cast<Int>(words.size()));
  for (size_t i = 0; i < words.size(); ++i)
    kxArraySetRef(strings, static_cast<Int>(i), Str(words[i]));
  std::vector<std::string> want = words;
  std::sort(want.begin(), want.end());
  strings->SortElements(0);
  std::reverse(want.begin(), want.end());
  for (size_t i = 0; i < words.size(); ++i)
    EXPECT_EQ(ToStd(static_cast<String*>(strings->RefElements()[i])), want[i]);

  Int keys[] = {5, -2, 9, 0, 5, 3, 1};
  Ref<Array> probes = kxArrayNewOneDim(":TProbe", 8);  // element 7 stays Null
  for (Int i = 0; i < 7; ++i) kxArraySetRef(probes, i, New<TProbe>(keys[i]));
  probes->SortElements(1);
  EXPECT_EQ(probes->RefElements()[0], nullptr);  // Null sorts first
  std::vector<Int> got;
  for (Int i = 1; i < 8; ++i) got.push_back(static_cast<TProbe*>(probes->RefElements()[i])->key);
  EXPECT_EQ(got, (std::vector<Int>{-2, 0, 1, 3, 5, 5, 9}));
}

}  // namespace
