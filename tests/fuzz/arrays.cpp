// Arrays: creation with random tags and dimensions, ranges with random
// bounds and tags, sorting of numbers (NaN included) and of mixed objects,
// and building from values; each result is checked element by element.
#include <algorithm>
#include <vector>

#include "runtime/array.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

const char* const kTags[] = {"b", "s", "i", "f", "l", "d", "$", ":TObject", "[i", "(f", "z"};

const char* TakeTag(FuzzInput& in) { return kTags[in.Byte() % (sizeof(kTags) / sizeof(kTags[0]))]; }

bool IsZero(const void* p, size_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return std::all_of(b, b + n, [](uint8_t v) { return v == 0; });
}

// Element i holds the tag's initial value.
void CheckInitial(Array* a, const char* tag, Int i) {
  const Int size = kxArrayElementSize(tag);
  switch (tag[0]) {
    case '$': FUZZ_CHECK(a->RefElements()[i] == &kxBlankString); break;
    case '[': FUZZ_CHECK(a->RefElements()[i] == &kxEmptyArray); break;
    case ':': FUZZ_CHECK(a->RefElements()[i] == nullptr); break;
    case '(': FUZZ_CHECK(a->RefElements()[i] != nullptr); break;  // the routine that raises
    default: FUZZ_CHECK(IsZero(a->Elements<char>() + size_t(i) * size, size_t(size))); break;
  }
}

void CheckCreation(FuzzInput& in) {
  const Int dims = in.Range(0, 5);
  Int sizes[5];
  Long count = dims > 0 ? 1 : 0;
  for (Int k = 0; k < dims; ++k) {
    sizes[k] = in.Range(-2, 10);
    count = sizes[k] > 0 ? count * sizes[k] : 0;
  }
  const char* tag = TakeTag(in);
  Array* a = kxArrayNewDims(tag, dims, sizes);
  if (count == 0) {
    FUZZ_CHECK(a == &kxEmptyArray);
    return;
  }
  FUZZ_CHECK(a->Length() == count && a->dims == dims);
  FUZZ_CHECK(a->dataSize == count * kxArrayElementSize(tag));
  Array* back = a->DimensionSizes();
  FUZZ_CHECK(back->Length() == dims);
  for (Int k = 0; k < dims; ++k) FUZZ_CHECK(back->Elements<Int>()[k] == sizes[k]);
  for (Int i = 0; i < count; ++i) CheckInitial(a, tag, i);
  // A past-32-bit element count is refused as an error.
  if (dims >= 2)
    FUZZ_CHECK(*RaisedText([&] { kxArrayNew(tag, 3, sizes[0] + 2048, 1 << 20, 1 << 10); }) != 0);
}

// A source of plain values or of Strings, with its tag.
Array* TakeSource(FuzzInput& in, const char** tag) {
  *tag = TakeTag(in);
  const Int n = in.Range(0, 12);
  Array* a = kxArrayNewOneDim(*tag, n);
  if (a == &kxEmptyArray) return a;
  if ((*tag)[0] == '$' || (*tag)[0] == ':') {
    for (Int i = 0; i < n; ++i) kxArraySetRef(a, i, kxStringFromInt(in.Range(-3, 3)));
  } else if ((*tag)[0] != '[' && (*tag)[0] != '(') {
    for (Int i = 0; i < a->dataSize; ++i) a->Elements<uint8_t>()[i] = in.Byte();
  }
  return a;
}

void CheckRange(FuzzInput& in) {
  const char* sourceTag;
  Array* source = TakeSource(in, &sourceTag);
  const char* tag = in.Flag() ? sourceTag : TakeTag(in);
  const Int start = in.Position();
  const Int end = in.Flag()
                      ? in.Position()
                      : static_cast<Int>(std::min<Long>(Long(start) + in.Range(-2, 20), INT32_MAX));
  const Long n = Long(end) - start;
  if (n > 4096 && n <= INT32_MAX) return;  // valid, but only a matter of memory
  const bool sameKind = kxArrayElementSize(tag) == kxArrayElementSize(sourceTag) &&
                        kxArrayTagIsRef(tag) == kxArrayTagIsRef(sourceTag) &&
                        (tag[0] == '(') == (sourceTag[0] == '(');
  Array* r = nullptr;
  const char* error = RaisedText([&] { r = kxArrayRange(tag, source, start, end); });
  if (n > INT32_MAX || (!sameKind && source->Length() > 0 && n > 0)) {
    FUZZ_CHECK(*error != 0);
    return;
  }
  FUZZ_CHECK(*error == 0);
  if (n <= 0) {
    FUZZ_CHECK(r == &kxEmptyArray);
    return;
  }
  FUZZ_CHECK(r->Length() == n);
  const Int size = kxArrayElementSize(tag);
  for (Int i = 0; i < n; ++i) {
    const Long from = Long(start) + i;
    if (from < 0 || from >= source->Length()) {
      CheckInitial(r, tag, i);
    } else {
      FUZZ_CHECK(std::memcmp(r->Elements<char>() + size_t(i) * size,
                             source->Elements<char>() + size_t(from) * size, size_t(size)) == 0);
    }
  }
}

template <class T>
void CheckSortedNumbers(FuzzInput& in, const char* tag) {
  const Int n = in.Range(0, 40);
  std::vector<T> values(static_cast<size_t>(n));
  for (T& v : values) v = in.Take<T>();
  Array* a = kxArrayNewOneDim(tag, n);
  if (n > 0) std::memcpy(a->Data(), values.data(), sizeof(T) * size_t(n));
  const bool up = in.Flag();
  a->SortElements(up);
  if (n == 0) return;
  T* e = a->Elements<T>();
  // A permutation of the input, bit for bit.
  std::vector<T> got(e, e + n);
  auto bits = [](const std::vector<T>& v) {
    std::vector<std::vector<uint8_t>> out;
    for (const T& x : v) {
      std::vector<uint8_t> b(sizeof(T));
      std::memcpy(b.data(), &x, sizeof(T));
      out.push_back(b);
    }
    std::sort(out.begin(), out.end());
    return out;
  };
  FUZZ_CHECK(bits(got) == bits(values));
  bool anyNaN = false;
  for (const T& x : values) anyNaN |= x != x;
  if (anyNaN) return;  // no order to check against
  for (Int i = 1; i < n; ++i) FUZZ_CHECK(up ? !(e[i] < e[i - 1]) : !(e[i - 1] < e[i]));
}

void CheckSortedObjects(FuzzInput& in) {
  // Strings, Null, arrays and numbers' Strings mixed: Strings order by text,
  // everything else by address, Null first.
  const Int n = in.Range(0, 40);
  Array* a = kxArrayNewOneDim(":Object", n);
  std::vector<Object*> before;
  for (Int i = 0; i < n; ++i) {
    Object* o = nullptr;
    switch (in.Byte() % 4) {
      case 0: o = kxStringFromInt(in.Range(-5, 5)); break;
      case 1: o = kxArrayNewOneDim("i", 1); break;
      case 2: o = nullptr; break;
      default: o = kxStringOneUnit(in.Byte()); break;
    }
    kxArraySetRef(a, i, o);
    before.push_back(o);
  }
  const bool up = in.Flag();
  a->SortElements(up);
  std::vector<Object*> after(a->RefElements(), a->RefElements() + n);
  std::vector<Object*> x = before, y = after;
  std::sort(x.begin(), x.end());
  std::sort(y.begin(), y.end());
  FUZZ_CHECK(x == y);
  // Nulls gather at one end; Strings among themselves are in order when
  // nothing else is mixed in.
  bool onlyStrings = true;
  for (Object* o : after) onlyStrings &= o && Cast<String>(o);
  for (Int i = 1; onlyStrings && i < n; ++i) {
    const Int c = kxStringCompare(static_cast<String*>(after[i - 1]),
                                  static_cast<String*>(after[i]));
    FUZZ_CHECK(up ? c <= 0 : c >= 0);
  }
  for (Int i = 1; up && i < n; ++i) FUZZ_CHECK(after[i - 1] == nullptr || after[i] != nullptr);
}

void CheckFromValues(FuzzInput& in) {
  const char* tag = kTags[in.Byte() % 6];  // the number tags
  const Int count = in.Range(-2, 16);
  Long words[16];
  for (Long& w : words) w = in.Take<Long>();
  Array* a = kxArrayFromValues(tag, count, words);
  if (count <= 0) {
    FUZZ_CHECK(a == &kxEmptyArray);
    return;
  }
  FUZZ_CHECK(a->Length() == count);
  const int32_t* w32 = reinterpret_cast<const int32_t*>(words);
  for (Int i = 0; i < count; ++i) {
    switch (tag[0]) {
      case 'b': FUZZ_CHECK(a->Elements<Byte>()[i] == Byte(w32[i])); break;
      case 's': FUZZ_CHECK(a->Elements<Short>()[i] == Short(w32[i])); break;
      case 'i':
      case 'f': FUZZ_CHECK(std::memcmp(a->Elements<Int>() + i, w32 + i, 4) == 0); break;
      default: FUZZ_CHECK(std::memcmp(a->Elements<Long>() + i, words + i, 8) == 0); break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBegin(__builtin_frame_address(0));
  FuzzInput in(data, size);
  while (!in.Empty()) {
    switch (in.Byte() % 9) {
      case 0: CheckCreation(in); break;
      case 1: CheckRange(in); break;
      case 2: CheckSortedNumbers<Byte>(in, "b"); break;
      case 3: CheckSortedNumbers<Short>(in, "s"); break;
      case 4: CheckSortedNumbers<Int>(in, "i"); break;
      case 5: CheckSortedNumbers<Float>(in, "f"); break;
      case 6: CheckSortedNumbers<Double>(in, "d"); break;
      case 7: CheckSortedObjects(in); break;
      default: CheckFromValues(in); break;
    }
  }
  kxCollectGarbage();
  return 0;
}
