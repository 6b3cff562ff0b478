// Reference-counted arrays with an element type tag and any number of
// dimensions, elements in row-major order.
//
// Tags (first character decides): "b" Byte, "s" Short, "i" Int, "f" Float,
// "l" Long, "d" Double, "$" String reference, ":Class" object reference,
// "[..." array reference, "(..." function pointer; anything else a 4-byte
// value. Reference elements are pointers (4 bytes on i686, 8 on x86-64)
// and are counted: store them with kxArraySetRef (or Ref-aware helpers),
// never by plain assignment.
#pragma once

#include <algorithm>

#include "runtime/object.h"

class Array final : public Object {
  KX_CLASS(Array, Object)
 public:
  const char* tag;   // element type tag (static C string); null for the empty array
  int32_t dims;      // d >= 1; 0 only for the empty array
  int32_t dataSize;  // bytes of element data
  // extents[d] follow, then the elements (aligned as Long, Double and
  // pointers need: 4 bytes on i686, 8 on x86-64).

  int32_t* Extents() { return extentStorage; }
  const int32_t* Extents() const { return extentStorage; }
  Int Length() const { return dims ? extentStorage[0] : 0; }  // element count
  void* Data() { return reinterpret_cast<char*>(this) + DataOffset(dims); }
  template <class T>
  T* Elements() {
    return static_cast<T*>(Data());
  }
  Object** RefElements() { return static_cast<Object**>(Data()); }

  // Slots of the Array class.
  virtual void SortElements(Int ascending);
  virtual Array* DimensionSizes();

  void FreeObject() override;
  static size_t AllocationSize(int32_t dims, int32_t dataSize);
  // Bytes from the object's start to its first element.
  static size_t DataOffset(int32_t dims);

  Array(const char* t, int32_t d, int32_t bytes) : tag(t), dims(d), dataSize(bytes) {}
  Array(StaticTag s) : Object(s, KX_REFS_STATIC), tag(nullptr), dims(0), dataSize(0) {}

 private:
  int32_t extentStorage[1];  // really [dims]; the elements follow
};

// Element access is on every hot path (the Life step reads each cell eight
// times), so the offset is computed inline. On i686 the header is the
// documented 20 bytes and 4-byte alignment adds nothing (a [57, 24] grid
// takes 20 + 8 + 5472 = 5500 bytes); on x86-64 the 8-byte class pointer and
// tag make it 32 bytes, and 8-byte alignment can add 4 after the extents.
constexpr size_t kArrayElementAlign = std::max({alignof(Long), alignof(Double), alignof(void*)});

inline size_t Array::DataOffset(int32_t dims) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  constexpr size_t extents = offsetof(Array, extentStorage);
#pragma GCC diagnostic pop
  return (extents + 4 * static_cast<size_t>(dims) + kArrayElementAlign - 1) &
         ~(kArrayElementAlign - 1);
}

extern Array kxEmptyArray;
inline constexpr const ClassRecord& kxArrayClassRecord = Array::classRecord;

// Element size in bytes for a tag (1, 2, 4 or 8).
Int kxArrayElementSize(const char* tag);
bool kxArrayTagIsRef(const char* tag);  // "$", ":" or "["

// New zero-filled (or initial-reference-filled) array; any size <= 0 gives
// the empty array.
Array* kxArrayNew(const char* tag, Int dims, ...);
Array* kxArrayNewDims(const char* tag, Int dims, const Int* sizes);
Array* kxArrayNewOneDim(const char* tag, Int length);
Array* kxArrayRange(const char* tag, Array* source, Int start, Int end);
Array* kxArrayFromValues(const char* tag, Int count, const void* values);

// Stores a reference element (retains the new, releases the old).
void kxArraySetRef(Array* a, Int index, Object* value);
