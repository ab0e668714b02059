#include "foundation/allocation.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace cdt {
namespace {

std::atomic<uint64_t> gRequests{0};
std::atomic<uint64_t> gRequestedBytes{0};
std::atomic<uint64_t> gLargestRequest{0};

void noteRequest(std::size_t size) {
  gRequests.fetch_add(1, std::memory_order_relaxed);
  gRequestedBytes.fetch_add(size, std::memory_order_relaxed);
  uint64_t largest = gLargestRequest.load(std::memory_order_relaxed);
  while (size > largest &&
         !gLargestRequest.compare_exchange_weak(largest, size, std::memory_order_relaxed)) {
  }
}

}  // namespace

void* checkedAlloc(std::size_t size) {
  if (size == 0) return nullptr;
  noteRequest(size);
  void* block = std::malloc(size);
  if (block == nullptr) allocationFailed();
  return block;
}

void* checkedRealloc(void* block, std::size_t size) {
  // realloc(p, 0) may hand back a fresh minimal block that nobody would free;
  // a request for zero bytes frees the block ourselves instead.
  if (size == 0) {
    std::free(block);
    return nullptr;
  }
  noteRequest(size);
  void* result = std::realloc(block, size);
  if (result == nullptr) allocationFailed();
  return result;
}

void* checkedCalloc(std::size_t count, std::size_t size) {
  if (count == 0 || size == 0) return nullptr;
  noteRequest(count > SIZE_MAX / size ? SIZE_MAX : count * size);
  void* block = std::calloc(count, size);
  if (block == nullptr) allocationFailed();
  return block;
}

bool checkedFree(void* block) {
  if (block == nullptr) return false;
  std::free(block);
  return true;
}

void allocationFailed() {
  static const char kMessage[] = "Bad allocation, aborting\n";
  // One unformatted write: stdio may itself need memory.
  ssize_t written = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  (void)written;
  std::abort();
}

}  // namespace cdt

namespace cdt {

AllocationStats allocationStats() {
  AllocationStats stats;
  stats.requests = gRequests.load(std::memory_order_relaxed);
  stats.requestedBytes = gRequestedBytes.load(std::memory_order_relaxed);
  stats.largestRequest = gLargestRequest.load(std::memory_order_relaxed);
  return stats;
}

void resetAllocationStats() {
  gRequests.store(0, std::memory_order_relaxed);
  gRequestedBytes.store(0, std::memory_order_relaxed);
  gLargestRequest.store(0, std::memory_order_relaxed);
}

}  // namespace cdt
