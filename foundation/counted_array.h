// The counted-array engine: every text and variable-length table is one heap
// block with an 8-byte header (length, capacity) in front of element 0. A value
// is a pointer to element 0; nullptr is the empty array.
//
// capacity > 0: one holder, room for that many elements.
// capacity = 0: a constant block, never changed, counted or freed.
// capacity = -k: shared by k + 1 holders.
//
// Every operation takes the element kind's table first and returns the pointer
// to keep (the block may have moved, been copied or been freed). Elements are
// moved with memmove: every element type must be trivially relocatable.
#pragma once

#include <cstdint>

namespace cdt {

inline constexpr uint32_t kFillByteMask = 0xFF;
inline constexpr uint32_t kTerminated = 0x100;
inline constexpr uint32_t kHasElementOps = 0x400;
inline constexpr uint32_t kFillNew = 0x800;
inline constexpr uint32_t kGeometricGrowth = 0x1000;

inline constexpr uint32_t kArrayHeaderSize = 8;

// Lengths and capacities are signed 32-bit header fields: no array holds more
// elements than this. A larger request ends the process like an allocation
// the allocator cannot meet.
inline constexpr uint32_t kMaxArrayLength = 0x7FFFFFFF;

// How an element kind is created, copied and destroyed. The four operations
// are called only when kHasElementOps is set, and always with count >= 1.
struct ElementOps {
  void (*destroy)(void* elements, uint32_t count);
  void (*init)(void* elements, uint32_t count);
  void (*copy)(void* destination, const void* source, uint32_t count);
  void (*assign)(void* destination, const void* source, uint32_t count);
  uint32_t elementFlags;
  uint32_t headerSize;
  uint32_t elementSize;
};

struct ArrayHeader {
  int32_t length;
  int32_t capacity;
};

// Modes of spliceArray.
inline constexpr int kSpliceReplace = -1;
inline constexpr int kSpliceOverwrite = 0;
inline constexpr int kSpliceInsert = 1;

inline ArrayHeader* arrayHeader(void* array) {
  return reinterpret_cast<ArrayHeader*>(static_cast<char*>(array) - kArrayHeaderSize);
}
inline const ArrayHeader* arrayHeader(const void* array) {
  return reinterpret_cast<const ArrayHeader*>(static_cast<const char*>(array) - kArrayHeaderSize);
}

// Number of elements; 0 for nullptr. A header read, no call.
inline uint32_t arrayLength(const void* array) {
  return array != nullptr ? static_cast<uint32_t>(arrayHeader(array)->length) : 0;
}

// The raw capacity field (see above); 0 for nullptr.
inline int32_t arrayCapacityField(const void* array) {
  return array != nullptr ? arrayHeader(array)->capacity : 0;
}

// True for nullptr and for a block with a single holder: only such an array
// may be changed in place.
inline bool isSoleOwner(const void* array) {
  return array == nullptr || arrayHeader(array)->capacity > 0;
}

// Capacity becomes exactly n, length min(length, n). n = 0 releases the
// caller's reference and returns nullptr.
[[nodiscard]] void* setArrayCapacity(const ElementOps& ops, void* array, uint32_t n);

// Removes min(count, length - position) elements at position; nothing happens
// for nullptr or position >= length.
[[nodiscard]] void* eraseFromArray(const ElementOps& ops, void* array, uint32_t position,
                                   uint32_t count);

// Takes one more reference to newArray, then releases oldArray; returns
// newArray. Assigning an array to itself changes nothing.
[[nodiscard]] void* shareArray(const ElementOps& ops, void* oldArray, void* newArray);

// Length becomes n: new elements are initialised, surplus ones destroyed.
[[nodiscard]] void* setArrayLength(const ElementOps& ops, void* array, uint32_t n);

// Writes n elements from source at position. mode < 0 replace (length becomes
// position + n), 0 overwrite (length max(length, position + n)), > 0 insert.
// A gap between the old end and position is initialised. With source nullptr
// replace and overwrite keep the live elements they fall on and initialise the
// rest; insert initialises all n. The source must not lie inside the array's
// block.
[[nodiscard]] void* spliceArray(const ElementOps& ops, void* array, uint32_t position,
                                const void* source, uint32_t n, int mode);

// Releases one reference (frees the block with its last holder).
void releaseArrayReference(const ElementOps& ops, void* array);

// Gives the caller a block of its own (copies a shared or constant block);
// returns the pointer to keep.
[[nodiscard]] void* makeArrayPrivate(const ElementOps& ops, void* array);

}  // namespace cdt
