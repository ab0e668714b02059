#include "foundation/counted_array.h"

#include <algorithm>
#include <cstring>

#include "foundation/allocation.h"

namespace cdt {
namespace {

char* elementAt(void* array, uint64_t index, const ElementOps& ops) {
  return static_cast<char*>(array) + index * ops.elementSize;
}

uint32_t terminatorSlots(const ElementOps& ops) {
  return (ops.elementFlags & kTerminated) ? 1 : 0;
}

bool hasOps(const ElementOps& ops) {
  return (ops.elementFlags & kHasElementOps) != 0;
}

// Counts past the signed 32-bit header fields cannot be represented; treat
// them like a request the allocator cannot meet.
uint32_t checkedCount(uint64_t n) {
  if (n > kMaxArrayLength) allocationFailed();
  return static_cast<uint32_t>(n);
}

void* blockStart(void* array) {
  return static_cast<char*>(array) - kArrayHeaderSize;
}

// Reallocates the block of `array` (or allocates one for nullptr) to hold
// `capacity` elements plus the terminator slot.
void* reallocateBlock(const ElementOps& ops, void* array, uint32_t capacity) {
  std::size_t bytes = kArrayHeaderSize +
                      (static_cast<std::size_t>(capacity) + terminatorSlots(ops)) * ops.elementSize;
  void* block = checkedRealloc(array != nullptr ? blockStart(array) : nullptr, bytes);
  return static_cast<char*>(block) + kArrayHeaderSize;
}

void* allocateBlock(const ElementOps& ops, uint32_t capacity) {
  void* array = reallocateBlock(ops, nullptr, capacity);
  arrayHeader(array)->length = 0;
  arrayHeader(array)->capacity = static_cast<int32_t>(capacity);
  return array;
}

void writeTerminator(const ElementOps& ops, void* array) {
  if (!(ops.elementFlags & kTerminated)) return;
  char* slot = elementAt(array, static_cast<uint32_t>(arrayHeader(array)->length), ops);
  switch (ops.elementSize) {
    case 1:
      *slot = 0;
      break;
    case 2:
      std::memset(slot, 0, 2);
      break;
    case 4:
      std::memset(slot, 0, 4);
      break;
    case 8:
      std::memset(slot, 0, 8);
      break;
    default:
      std::memset(slot, 0, ops.elementSize);
      break;
  }
}

void finish(const ElementOps& ops, void* array, uint32_t length) {
  arrayHeader(array)->length = static_cast<int32_t>(length);
  writeTerminator(ops, array);
}

void initElements(const ElementOps& ops, void* destination, uint32_t count) {
  if (count == 0) return;
  if (ops.elementFlags & kFillNew) {
    std::memset(destination, static_cast<int>(ops.elementFlags & kFillByteMask),
                static_cast<std::size_t>(count) * ops.elementSize);
  }
  if (hasOps(ops)) ops.init(destination, count);
}

void copyElements(const ElementOps& ops, void* destination, const void* source, uint32_t count) {
  if (count == 0) return;
  if (source == nullptr) {
    initElements(ops, destination, count);
  } else if (hasOps(ops)) {
    ops.copy(destination, source, count);
  } else {
    std::memcpy(destination, source, static_cast<std::size_t>(count) * ops.elementSize);
  }
}

void assignElements(const ElementOps& ops, void* destination, const void* source, uint32_t count) {
  if (count == 0) return;
  if (hasOps(ops)) {
    ops.assign(destination, source, count);
  } else {
    std::memmove(destination, source, static_cast<std::size_t>(count) * ops.elementSize);
  }
}

void destroyElements(const ElementOps& ops, void* elements, uint32_t count) {
  if (count != 0 && hasOps(ops)) ops.destroy(elements, count);
}

// The capacity a solely owned block grows to when it must hold `needed`
// elements: doubled, at least 64 more, never more than 512 (or 4096 bytes)
// beyond the need. Only kinds with geometric growth use it.
uint32_t grownCapacity(const ElementOps& ops, uint32_t current, uint32_t needed) {
  if (!(ops.elementFlags & kGeometricGrowth)) return needed;
  uint64_t c = current;
  uint64_t n = needed;
  uint64_t grown = std::max({2 * c, c + 64, n});
  grown = std::min({grown, n + 512, n + 4096 / ops.elementSize});
  // Near the largest representable length, reserve only what is needed.
  if (grown > kMaxArrayLength) grown = n;
  return checkedCount(grown);
}

// How many of the n elements written at `position` fall on elements that
// were already live (the rest lie past the old end).
uint32_t liveRun(uint32_t position, uint32_t n, uint32_t oldLength) {
  const uint64_t end = std::min<uint64_t>(static_cast<uint64_t>(position) + n, oldLength);
  return end > position ? static_cast<uint32_t>(end - position) : 0;
}

// Makes sure a solely owned (or absent) block can hold `needed` elements.
void* reserveSole(const ElementOps& ops, void* array, uint32_t needed) {
  if (array == nullptr) return needed == 0 ? nullptr : allocateBlock(ops, needed);
  uint32_t capacity = static_cast<uint32_t>(arrayHeader(array)->capacity);
  if (capacity >= needed) return array;
  uint32_t length = arrayLength(array);
  uint32_t grown = grownCapacity(ops, capacity, needed);
  array = reallocateBlock(ops, array, grown);
  arrayHeader(array)->length = static_cast<int32_t>(length);
  arrayHeader(array)->capacity = static_cast<int32_t>(grown);
  return array;
}

}  // namespace

void releaseArrayReference(const ElementOps& ops, void* array) {
  if (array == nullptr) return;
  ArrayHeader* header = arrayHeader(array);
  if (header->capacity == 0) return;
  if (header->capacity > 0) {
    destroyElements(ops, array, static_cast<uint32_t>(header->length));
    checkedFree(blockStart(array));
  } else if (header->capacity == -1) {
    // The other holder becomes the sole owner; 0 would read as constant.
    header->capacity = header->length != 0 ? header->length : 1;
  } else {
    header->capacity += 1;
  }
}

void* shareArray(const ElementOps& ops, void* oldArray, void* newArray) {
  // Taking and dropping a reference would turn a sole block's real capacity
  // into its length on the way back; the net effect is nothing anyway.
  if (oldArray == newArray) return newArray;
  if (newArray != nullptr) {
    ArrayHeader* header = arrayHeader(newArray);
    if (header->capacity > 0) {
      header->capacity = -1;
    } else if (header->capacity < 0) {
      header->capacity -= 1;
    }
  }
  releaseArrayReference(ops, oldArray);
  return newArray;
}

void* setArrayCapacity(const ElementOps& ops, void* array, uint32_t n) {
  checkedCount(n);
  if (array == nullptr) {
    if (n == 0) return nullptr;
    void* created = allocateBlock(ops, n);
    finish(ops, created, 0);
    return created;
  }
  uint32_t length = arrayLength(array);
  if (isSoleOwner(array)) {
    if (n < length) destroyElements(ops, elementAt(array, n, ops), length - n);
    if (n == 0) {
      checkedFree(blockStart(array));
      return nullptr;
    }
    array = reallocateBlock(ops, array, n);
    arrayHeader(array)->capacity = static_cast<int32_t>(n);
    finish(ops, array, std::min(length, n));
    return array;
  }
  void* created = nullptr;
  if (n != 0) {
    created = allocateBlock(ops, n);
    uint32_t kept = std::min(length, n);
    copyElements(ops, created, array, kept);
    finish(ops, created, kept);
  }
  releaseArrayReference(ops, array);
  return created;
}

void* eraseFromArray(const ElementOps& ops, void* array, uint32_t position, uint32_t count) {
  uint32_t length = arrayLength(array);
  if (array == nullptr || position >= length) return array;
  uint32_t k = std::min(count, length - position);
  uint32_t m = length - k;
  if (isSoleOwner(array)) {
    destroyElements(ops, elementAt(array, position, ops), k);
    std::memmove(elementAt(array, position, ops), elementAt(array, position + k, ops),
                 static_cast<std::size_t>(m - position) * ops.elementSize);
    finish(ops, array, m);
    return array;
  }
  void* created = nullptr;
  if (m != 0) {
    created = allocateBlock(ops, m);
    copyElements(ops, created, array, position);
    copyElements(ops, elementAt(created, position, ops), elementAt(array, position + k, ops),
                 m - position);
    finish(ops, created, m);
  }
  releaseArrayReference(ops, array);
  return created;
}

void* setArrayLength(const ElementOps& ops, void* array, uint32_t n) {
  checkedCount(n);
  uint32_t oldLength = arrayLength(array);
  if (array == nullptr) {
    if (n == 0) return nullptr;
    array = allocateBlock(ops, n);
  } else if (isSoleOwner(array)) {
    if (n < oldLength) destroyElements(ops, elementAt(array, n, ops), oldLength - n);
    array = reserveSole(ops, array, n);
  } else {
    void* created = nullptr;
    if (n != 0) {
      created = allocateBlock(ops, n);
      copyElements(ops, created, array, std::min(oldLength, n));
    }
    releaseArrayReference(ops, array);
    array = created;
    if (array == nullptr) return nullptr;
  }
  if (n > oldLength) initElements(ops, elementAt(array, oldLength, ops), n - oldLength);
  finish(ops, array, n);
  return array;
}

void* spliceArray(const ElementOps& ops, void* array, uint32_t position, const void* source,
                  uint32_t n, int mode) {
  const uint32_t oldLength = arrayLength(array);
  const uint64_t p = position;
  uint64_t newLength64;
  if (mode < 0) {
    newLength64 = p + n;
  } else if (mode == 0) {
    newLength64 = std::max<uint64_t>(oldLength, p + n);
  } else {
    newLength64 = std::max<uint64_t>(oldLength, p) + n;
  }
  const uint32_t newLength = checkedCount(newLength64);

  if (isSoleOwner(array)) {
    if (mode < 0 && array != nullptr && newLength < oldLength) {
      destroyElements(ops, elementAt(array, newLength, ops), oldLength - newLength);
    }
    array = reserveSole(ops, array, newLength);
    if (array == nullptr) return nullptr;
    if (position > oldLength) {
      initElements(ops, elementAt(array, oldLength, ops), position - oldLength);
    }
    if (mode > 0) {
      if (n != 0) {
        if (position < oldLength) {
          std::memmove(elementAt(array, p + n, ops), elementAt(array, position, ops),
                       static_cast<std::size_t>(oldLength - position) * ops.elementSize);
        }
        copyElements(ops, elementAt(array, position, ops), source, n);
      }
    } else {
      // Elements that are already live are assigned (or kept when there is no
      // source); those beyond the old end are constructed.
      const uint32_t assigned = liveRun(position, n, oldLength);
      if (assigned != 0 && source != nullptr) {
        assignElements(ops, elementAt(array, position, ops), source, assigned);
      }
      uint32_t constructed = n - assigned;
      const void* rest = source != nullptr
                             ? static_cast<const char*>(source) +
                                   static_cast<std::size_t>(assigned) * ops.elementSize
                             : nullptr;
      copyElements(ops, elementAt(array, p + assigned, ops), rest, constructed);
    }
    finish(ops, array, newLength);
    return array;
  }

  // Shared or constant: build a new block of exactly the new length.
  void* created = nullptr;
  if (newLength != 0) {
    created = allocateBlock(ops, newLength);
    copyElements(ops, created, array, std::min(oldLength, position));
    if (position > oldLength) {
      initElements(ops, elementAt(created, oldLength, ops), position - oldLength);
    }
    // Without a source, replace and overwrite keep the old elements they fall
    // on, exactly as they do in place: whether the block was shared must not
    // change the result.
    const uint32_t kept = mode <= 0 && source == nullptr ? liveRun(position, n, oldLength) : 0;
    if (kept != 0) {
      copyElements(ops, elementAt(created, position, ops), elementAt(array, position, ops), kept);
    }
    copyElements(ops, elementAt(created, p + kept, ops), source, n - kept);
    if (mode == 0 && p + n < oldLength) {
      copyElements(ops, elementAt(created, p + n, ops), elementAt(array, p + n, ops),
                   static_cast<uint32_t>(oldLength - (p + n)));
    } else if (mode > 0 && position < oldLength) {
      copyElements(ops, elementAt(created, p + n, ops), elementAt(array, position, ops),
                   oldLength - position);
    }
    finish(ops, created, newLength);
  }
  releaseArrayReference(ops, array);
  return created;
}

void* makeArrayPrivate(const ElementOps& ops, void* array) {
  if (isSoleOwner(array)) return array;
  return spliceArray(ops, array, 0, nullptr, 0, kSpliceOverwrite);
}

}  // namespace cdt
