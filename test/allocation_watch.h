// Watching what a piece of code allocates: the largest single request and
// the peak of live bytes through the global operator new, and the largest
// request through the checked allocator that holds the library's own blocks
// (counted strings and arrays, records, the configuration block).
//
// This header DEFINES the replacement global allocation functions: include
// it from exactly one source file of a test program, and from none that is
// linked into another program.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "foundation/allocation.h"

namespace cdt::testing {

namespace allocation_watch_detail {

// Every block carries its size in front, so deletion knows what it frees.
inline constexpr std::size_t kPrefix = 16;
static_assert(kPrefix >= sizeof(std::size_t) && kPrefix % alignof(std::max_align_t) == 0);

inline std::atomic<uint64_t> live{0};
inline std::atomic<uint64_t> peak{0};
inline std::atomic<uint64_t> largest{0};

inline void raise(std::atomic<uint64_t>& mark, uint64_t value) {
  uint64_t seen = mark.load(std::memory_order_relaxed);
  while (value > seen && !mark.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
  }
}

inline void* allocate(std::size_t size) noexcept {
  if (size > SIZE_MAX - kPrefix) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + size));
  if (block == nullptr) return nullptr;
  *reinterpret_cast<std::size_t*>(block) = size;
  raise(largest, size);
  raise(peak, live.fetch_add(size, std::memory_order_relaxed) + size);
  return block + kPrefix;
}

// Not inlined: GCC would otherwise see the block of the replaced operator new
// reach free() through an inlined operator delete and warn of a mismatch
// (-Wmismatched-new-delete), which it is not: both sides are these functions.
[[gnu::noinline]] inline void release(void* pointer) noexcept {
  if (pointer == nullptr) return;
  unsigned char* block = static_cast<unsigned char*>(pointer) - kPrefix;
  live.fetch_sub(*reinterpret_cast<std::size_t*>(block), std::memory_order_relaxed);
  std::free(block);
}

}  // namespace allocation_watch_detail

// What was allocated while `run` ran.
struct AllocationUsage {
  uint64_t largestNew = 0;      // largest single operator new request
  uint64_t peakNew = 0;         // most bytes from operator new live at once, beyond those
                                // live when `run` began
  uint64_t largestChecked = 0;  // largest single checked-allocator request

  uint64_t largest() const { return std::max(largestNew, largestChecked); }
};

template <class Run>
AllocationUsage allocationsDuring(Run&& run) {
  namespace d = allocation_watch_detail;
  const uint64_t before = d::live.load();
  d::peak = before;
  d::largest = 0;
  resetAllocationStats();
  run();
  return {d::largest.load(), d::peak.load() - before, allocationStats().largestRequest};
}

}  // namespace cdt::testing

void* operator new(std::size_t size) {
  void* block = cdt::testing::allocation_watch_detail::allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size) {
  void* block = cdt::testing::allocation_watch_detail::allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return cdt::testing::allocation_watch_detail::allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return cdt::testing::allocation_watch_detail::allocate(size);
}
void operator delete(void* block) noexcept {
  cdt::testing::allocation_watch_detail::release(block);
}
void operator delete[](void* block) noexcept {
  cdt::testing::allocation_watch_detail::release(block);
}
void operator delete(void* block, std::size_t) noexcept {
  cdt::testing::allocation_watch_detail::release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  cdt::testing::allocation_watch_detail::release(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  cdt::testing::allocation_watch_detail::release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  cdt::testing::allocation_watch_detail::release(block);
}
