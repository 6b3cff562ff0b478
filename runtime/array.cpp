// Arrays: the Array class, the static empty array, creation for every
// element tag, the free path that releases reference elements, sorting and
// dimension sizes.
//
// Layout: the Object header, tag, dimension count and data size, then the
// extents (one 32-bit word per dimension), then the elements from the next
// multiple of kArrayElementAlign, the largest alignment a Long, Double or
// pointer element needs: 8 bytes on x86-64, 4 on i686.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "runtime/array.h"
#include "runtime/error.h"
#include "runtime/kxstring.h"

// An array's size varies per object: the record's instance size is 0 and
// the free routine computes the size from the array itself.
KX_VARIABLE_CLASS_RECORD(Array, &Array::SortElements, &Array::DimensionSizes)

Array kxEmptyArray({});

namespace {

inline size_t DataOffset(int32_t dims) { return Array::DataOffset(dims); }

// What a "(" element holds before anything is stored: calling it raises.
void NullFunctionRoutine() { kxRaiseNullFunction(); }

// A size past 32 bits is a caller's error, as a String past its largest
// length is: raised, so that a protected region can recover from it.
[[noreturn]] void TooLarge() {
  kxRaiseError(KX_STR("Attempt to create an array beyond the largest size"));
}

// Stores the tag's initial value in n elements. The static targets take one
// reference per element, matching the release each element gets when the
// array is freed or the element overwritten: otherwise every freed array
// would wear their counts down until they reached zero.
void FillInitial(const char* tag, void* data, Int n, Int dataSize) {
  Object* initial = nullptr;
  switch (tag[0]) {
    case '$': initial = &kxBlankString; break;
    case '[': initial = &kxEmptyArray; break;
    case '(': {
      auto* f = static_cast<void (**)()>(data);
      for (Int i = 0; i < n; ++i) f[i] = &NullFunctionRoutine;
      return;
    }
    default: std::memset(data, 0, static_cast<size_t>(dataSize)); return;
  }
  Object** e = static_cast<Object**>(data);
  for (Int i = 0; i < n; ++i) e[i] = initial;
  initial->refs += static_cast<uint32_t>(n);
}

Array* Allocate(const char* tag, Int dims, const Int* sizes) {
  if (dims <= 0) return &kxEmptyArray;
  if (!sizes) kxRaiseNullAccess();
  Long count = 1;
  for (Int k = 0; k < dims; ++k) {
    if (sizes[k] <= 0) return &kxEmptyArray;
    count *= sizes[k];
    if (count > INT32_MAX) TooLarge();
  }
  if (!tag) kxRaiseNullAccess();  // elements need a type; an empty array does not
  Long bytes = count * kxArrayElementSize(tag);
  if (bytes > INT32_MAX - static_cast<Long>(DataOffset(dims))) TooLarge();
  Int dataSize = static_cast<Int>(bytes);
  void* mem = kxAllocObjectMemory(Array::AllocationSize(dims, dataSize));
  Array* a = new (mem) Array(tag, dims, dataSize);
  int32_t* ext = a->Extents();
  for (Int k = 0; k < dims; ++k) ext[k] = sizes[k];
  for (Int k = dims - 2; k >= 0; --k) ext[k] *= ext[k + 1];
  FillInitial(tag, a->Data(), static_cast<Int>(count), dataSize);
  if (a->refs == 0) kxSchedulePending(a);
  return a;
}

// Quicksort: the first, middle and last elements are ordered among
// themselves, then the part is split around the middle value scanning from
// both ends. The smaller side recurses and the larger one loops, which sorts
// the same way and keeps the recursion depth logarithmic.
//
// The scans need no bounds checks: the i scan stops at the latest on the
// pivot's own slot or on an element swapped behind it, the j scan likewise,
// as long as less(x, x) is false, which holds even for NaN.
template <class T, class Less>
void QuickSort(T* a, Long lo, Long hi, Less less) {
  while (hi > lo) {
    Long mid = lo + (hi - lo) / 2;
    if (less(a[mid], a[lo])) std::swap(a[mid], a[lo]);
    if (less(a[hi], a[mid])) {
      std::swap(a[hi], a[mid]);
      if (less(a[mid], a[lo])) std::swap(a[mid], a[lo]);
    }
    if (hi - lo < 3) return;
    T pivot = a[mid];
    Long i = lo, j = hi;
    while (i <= j) {
      while (less(a[i], pivot)) ++i;
      while (less(pivot, a[j])) --j;
      if (i <= j) {
        std::swap(a[i], a[j]);
        ++i;
        --j;
      }
    }
    if (j - lo < hi - i) {
      QuickSort(a, lo, j, less);
      lo = i;
    } else {
      QuickSort(a, i, hi, less);
      hi = j;
    }
  }
}

template <class T>
void SortNumbers(void* data, Int n, bool ascending) {
  T* a = static_cast<T*>(data);
  if (ascending) {
    QuickSort(a, 0, n - 1, [](T x, T y) { return x < y; });
  } else {
    QuickSort(a, 0, n - 1, [](T x, T y) { return y < x; });
  }
}

// Objects order by their class's CompareWith. A Null element (an object
// array's initial value) has no class to ask: it sorts before every object.
Int CompareObjects(Object* x, Object* y) {
  if (!x || !y) return (x != nullptr) - (y != nullptr);
  return x->CompareWith(y);
}

}  // namespace

// --- tags -------------------------------------------------------------------

Int kxArrayElementSize(const char* tag) {
  switch (tag ? tag[0] : 0) {
    case 'b': return 1;
    case 's': return 2;
    case 'l':
    case 'd': return 8;
    case '$':
    case ':':
    case '[':
    case '(': return static_cast<Int>(sizeof(void*));  // pointers: 4 bytes on i686, 8 on x86-64
    default: return 4;
  }
}

bool kxArrayTagIsRef(const char* tag) {
  return tag && (tag[0] == '$' || tag[0] == ':' || tag[0] == '[');
}

// --- the Array class -----------------------------------------------------------

// The header was drawn as 20 bytes for 4-byte pointers, which is what i686
// gives; the extents' offset follows from the C++ layout (vtable pointer,
// count, tag, d, size), so x86-64 gets its wider header from the same code.
size_t Array::AllocationSize(int32_t dims, int32_t dataSize) {
  return DataOffset(dims) + static_cast<size_t>(dataSize);
}

void Array::FreeObject() {
  if (this == &kxEmptyArray) {
    refs = KX_REFS_STATIC;
    return;
  }
  if (kxArrayTagIsRef(tag)) {
    Object** e = RefElements();
    for (Int i = 0, n = extentStorage[0]; i < n; ++i) kxRelease(e[i]);
  }
  size_t size = AllocationSize(dims, dataSize);
  this->~Array();
  kxSmallFree(this, static_cast<Int>(size));
}

void Array::SortElements(Int ascending) {
  if (dims == 0 || !tag) return;
  Int n = extentStorage[0];
  if (n < 2) return;
  bool up = ascending != 0;
  void* data = Data();
  switch (tag[0]) {
    case 'b': SortNumbers<Byte>(data, n, up); break;
    case 's': SortNumbers<Short>(data, n, up); break;
    case 'i': SortNumbers<Int>(data, n, up); break;
    case 'l': SortNumbers<Long>(data, n, up); break;
    case 'f': SortNumbers<Float>(data, n, up); break;
    case 'd': SortNumbers<Double>(data, n, up); break;
    case '$':
    case ':': {
      Object** e = RefElements();
      if (up) {
        QuickSort(e, 0, n - 1, [](Object* x, Object* y) { return CompareObjects(x, y) < 0; });
      } else {
        QuickSort(e, 0, n - 1, [](Object* x, Object* y) { return CompareObjects(y, x) < 0; });
      }
      break;
    }
    default: break;
  }
}

Array* Array::DimensionSizes() {
  if (dims == 0) return &kxEmptyArray;
  Int d = dims;
  Array* out = kxArrayNewOneDim("i", d);
  Int* v = out->Elements<Int>();
  for (Int k = 0; k + 1 < d; ++k) v[k] = extentStorage[k] / extentStorage[k + 1];
  v[d - 1] = extentStorage[d - 1];
  return out;
}

// --- creation ---------------------------------------------------------------------

Array* kxArrayNewDims(const char* tag, Int dims, const Int* sizes) {
  return Allocate(tag, dims, sizes);
}

Array* kxArrayNew(const char* tag, Int dims, ...) {
  if (dims <= 0) return &kxEmptyArray;
  Int small[8];
  Int* sizes = dims <= 8 ? small : new Int[static_cast<size_t>(dims)];
  va_list ap;
  va_start(ap, dims);
  for (Int k = 0; k < dims; ++k) sizes[k] = va_arg(ap, Int);
  va_end(ap);
  Array* a = Allocate(tag, dims, sizes);
  if (sizes != small) delete[] sizes;
  return a;
}

Array* kxArrayNewOneDim(const char* tag, Int length) { return Allocate(tag, 1, &length); }

Array* kxArrayRange(const char* tag, Array* source, Int start, Int end) {
  Long n = static_cast<Long>(end) - start;
  if (n <= 0) return &kxEmptyArray;
  if (n > INT32_MAX) TooLarge();
  Int len = static_cast<Int>(n);
  Int have = source ? source->Length() : 0;
  Int size = kxArrayElementSize(tag);
  bool refsToo = kxArrayTagIsRef(tag);
  // Elements are copied at the tag's size: a source of another size would
  // be read past its end, and plain values must never become references.
  if (have > 0 &&
      (kxArrayElementSize(source->tag) != size || kxArrayTagIsRef(source->tag) != refsToo ||
       (source->tag[0] == '(') != (tag[0] == '(')))
    kxRaiseError(KX_STR("Attempt to copy array elements into an array of another element type"));
  Array* a = kxArrayNewOneDim(tag, len);
  char* to = static_cast<char*>(a->Data());
  for (Int i = 0; i < len; ++i) {
    Long from = static_cast<Long>(start) + i;
    if (from < 0 || from >= have) continue;
    if (refsToo) {
      kxArraySetRef(a, i, source->RefElements()[from]);
    } else {
      std::memcpy(to + static_cast<size_t>(i) * size,
                  static_cast<char*>(source->Data()) + from * size, static_cast<size_t>(size));
    }
  }
  return a;
}

// The values are 32-bit words, except for 8-byte elements (Long, Double,
// and pointers on this platform), which take 8 bytes each.
Array* kxArrayFromValues(const char* tag, Int count, const void* values) {
  Array* a = kxArrayNewOneDim(tag, count);
  if (a == &kxEmptyArray) return a;
  if (!values) kxRaiseNullAccess();
  const int32_t* words = static_cast<const int32_t*>(values);
  switch (tag[0]) {
    case 'b':
      for (Int i = 0; i < count; ++i) a->Elements<Byte>()[i] = static_cast<Byte>(words[i]);
      break;
    case 's':
      for (Int i = 0; i < count; ++i) a->Elements<Short>()[i] = static_cast<Short>(words[i]);
      break;
    case '$':
    case ':':
    case '[': {
      Object* const* refs = static_cast<Object* const*>(values);
      for (Int i = 0; i < count; ++i) kxArraySetRef(a, i, refs[i]);
      break;
    }
    default: std::memcpy(a->Data(), values, static_cast<size_t>(a->dataSize)); break;
  }
  return a;
}

void kxArraySetRef(Array* a, Int index, Object* value) {
  if (!a) kxRaiseNullAccess();
  if (index < 0 || index >= a->Length()) kxRaiseIndexRange();
  // A pointer stored among plain values would be read back as numbers and
  // released as an object the array never held.
  if (!kxArrayTagIsRef(a->tag))
    kxRaiseError(KX_STR("Attempt to store a reference in an array of another element type"));
  Object*& slot = a->RefElements()[index];
  kxRetain(value);
  Object* old = slot;
  slot = value;
  kxRelease(old);
}
