// Checked allocation: every block of the library's own storage (counted
// strings and arrays, data records) goes through these wrappers. A request of
// zero bytes yields none; a request the allocator cannot meet ends the process
// with "Bad allocation, aborting\n", so callers never test for failure.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cdt {

// `size` bytes with undefined contents; nullptr for 0.
[[nodiscard]] void* checkedAlloc(std::size_t size);

// Resizes `block` (which may be nullptr) to `size` bytes. Size 0 frees the
// block and returns nullptr.
[[nodiscard]] void* checkedRealloc(void* block, std::size_t size);

// `count` * `size` zero bytes; nullptr when either is 0.
[[nodiscard]] void* checkedCalloc(std::size_t count, std::size_t size);

// Frees `block`; false (and nothing done) for nullptr.
bool checkedFree(void* block);

// Writes the fixed 25-byte message to standard error and aborts.
[[noreturn]] void allocationFailed();

// What the wrappers were asked for since the last reset (for tests that bound
// the memory a damaged input can make the library request).
struct AllocationStats {
  uint64_t requests = 0;        // allocations and reallocations of more than 0 bytes
  uint64_t requestedBytes = 0;  // their sizes added up
  uint64_t largestRequest = 0;  // the largest single size
};
AllocationStats allocationStats();
void resetAllocationStats();

}  // namespace cdt
