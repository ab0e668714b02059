// Element kinds of counted arrays and the typed array handle over the engine.
//
// Copy policy: strings are shared; arrays nested inside elements are copied
// into new blocks (a `CountedArray` with `CopyPolicy::Fresh`); plain values
// are copied byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "foundation/counted_array.h"
#include "foundation/counted_string.h"

namespace cdt {

// Element operations generated from a C++ type's own default constructor,
// destructor, copy constructor and assignment.
template <class T>
struct RecordElementFunctions {
  static void destroy(void* elements, uint32_t count) {
    T* p = static_cast<T*>(elements);
    for (uint32_t i = 0; i < count; ++i) p[i].~T();
  }
  static void init(void* elements, uint32_t count) {
    T* p = static_cast<T*>(elements);
    for (uint32_t i = 0; i < count; ++i) ::new (static_cast<void*>(p + i)) T();
  }
  static void copy(void* destination, const void* source, uint32_t count) {
    T* d = static_cast<T*>(destination);
    const T* s = static_cast<const T*>(source);
    for (uint32_t i = 0; i < count; ++i) ::new (static_cast<void*>(d + i)) T(s[i]);
  }
  static void assign(void* destination, const void* source, uint32_t count) {
    T* d = static_cast<T*>(destination);
    const T* s = static_cast<const T*>(source);
    for (uint32_t i = 0; i < count; ++i) d[i] = s[i];
  }
};

template <class T, uint32_t ExtraFlags = 0>
inline constexpr ElementOps recordElementOps{
    &RecordElementFunctions<T>::destroy, &RecordElementFunctions<T>::init,
    &RecordElementFunctions<T>::copy,    &RecordElementFunctions<T>::assign,
    kHasElementOps | ExtraFlags,         kArrayHeaderSize,
    static_cast<uint32_t>(sizeof(T))};

// A kind without element operations: raw bytes of `size` per element.
constexpr ElementOps rawElementOps(uint32_t size) {
  return {nullptr, nullptr, nullptr, nullptr, 0, kArrayHeaderSize, size};
}

enum class CopyPolicy {
  Share,  // a copy takes a reference to the same block
  Fresh,  // a copy gets a new block of its own (for arrays nested in elements)
};

// A typed handle whose only member is the element pointer. Destroying it
// releases its reference; writing through it first makes the block private.
template <class T, const ElementOps* Ops, CopyPolicy Policy = CopyPolicy::Share>
class CountedArray {
 public:
  using value_type = T;
  static constexpr const ElementOps& ops() { return *Ops; }

  CountedArray() = default;
  CountedArray(const CountedArray& other) : p_(copyOf(nullptr, other.p_)) {}
  CountedArray(CountedArray&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  CountedArray& operator=(const CountedArray& other) {
    if (this != &other) p_ = copyOf(p_, other.p_);
    return *this;
  }
  CountedArray& operator=(CountedArray&& other) noexcept {
    if (this != &other) {
      releaseArrayReference(*Ops, p_);
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  ~CountedArray() { releaseArrayReference(*Ops, p_); }

  // Takes over an engine pointer that the caller held one reference to.
  static CountedArray adopt(T* value) {
    CountedArray a;
    a.p_ = value;
    return a;
  }

  uint32_t size() const { return arrayLength(p_); }
  bool empty() const { return size() == 0; }
  const T* data() const { return p_; }
  // Element i < size(); no check is made. Pointers and references into the
  // array stay valid until the next change through this handle (other holders
  // of a shared block change copies of their own).
  const T& operator[](uint32_t i) const { return p_[i]; }
  const T* begin() const { return p_; }
  const T* end() const { return p_ + size(); }

  // Writable access: a shared or constant block is copied first (so the
  // result may differ from data()). at() needs i < size().
  T* mutableData() {
    p_ = static_cast<T*>(makeArrayPrivate(*Ops, p_));
    return p_;
  }
  T& at(uint32_t i) { return mutableData()[i]; }
  T* begin() { return mutableData(); }
  T* end() { return mutableData() + size(); }

  // The variable the engine operations read and store back into.
  T*& value() { return p_; }

  void clear() { p_ = static_cast<T*>(setArrayCapacity(*Ops, p_, 0)); }
  void setLength(uint32_t n) { p_ = static_cast<T*>(setArrayLength(*Ops, p_, n)); }
  void setCapacity(uint32_t n) { p_ = static_cast<T*>(setArrayCapacity(*Ops, p_, n)); }
  void erase(uint32_t position, uint32_t count = 1) {
    p_ = static_cast<T*>(eraseFromArray(*Ops, p_, position, count));
  }
  // spliceArray with a source outside this array (nullptr initialises).
  void splice(uint32_t position, const T* source, uint32_t n, int mode) {
    p_ = static_cast<T*>(spliceArray(*Ops, p_, position, source, n, mode));
  }
  void insert(uint32_t position, const T& element) {
    T copy(element);  // the element may live inside this array
    splice(position, &copy, 1, kSpliceInsert);
  }
  void append(const T& element) { insert(size(), element); }
  // Makes this array equal to `source`'s first n elements in a new or
  // reused block (never shared with the source); `source` must lie outside
  // this array's block.
  void assignFrom(const T* source, uint32_t n) { splice(0, source, n, kSpliceReplace); }

 private:
  static T* copyOf(T* old, T* source) {
    if constexpr (Policy == CopyPolicy::Share) {
      return static_cast<T*>(shareArray(*Ops, old, source));
    } else {
      return static_cast<T*>(
          spliceArray(*Ops, old, 0, source, arrayLength(source), kSpliceReplace));
    }
  }

  T* p_ = nullptr;
};

// --- The foundation's element kinds -------------------------------------

// A file's whole contents read into memory.
inline constexpr ElementOps ByteOps = rawElementOps(1);
// Arrays of strings, and the rows of string tables.
inline constexpr ElementOps StringArrayOps = recordElementOps<CountedString>;
// String lists: always followed by a none entry.
inline constexpr ElementOps StringListOps = recordElementOps<CountedString, kTerminated>;
// The record index of a data file, and the path records of recording discovery.
inline constexpr ElementOps IndexEntryOps = rawElementOps(16);
// Calibration points: three doubles.
inline constexpr ElementOps CalPointOps = rawElementOps(24);
// Non-owning references or 32-bit numbers.
inline constexpr ElementOps ReferenceArrayOps = rawElementOps(sizeof(void*));

using ByteArray = CountedArray<unsigned char, &ByteOps>;
using StringArray = CountedArray<CountedString, &StringArrayOps>;
using StringList = CountedArray<CountedString, &StringListOps>;
// A row of a string table: copying a row gives a new block whose strings are
// shared with the source row's.
using StringRow = CountedArray<CountedString, &StringArrayOps, CopyPolicy::Fresh>;
static_assert(sizeof(StringRow) == sizeof(void*));
inline constexpr ElementOps StringTableOps = recordElementOps<StringRow>;
using StringTable = CountedArray<StringRow, &StringTableOps>;

}  // namespace cdt
