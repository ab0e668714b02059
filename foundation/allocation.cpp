#include "foundation/allocation.h"

#include <unistd.h>

#include <cstdlib>

namespace cdt {

void* checkedAlloc(std::size_t size) {
  if (size == 0) return nullptr;
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
  void* result = std::realloc(block, size);
  if (result == nullptr) allocationFailed();
  return result;
}

void* checkedCalloc(std::size_t count, std::size_t size) {
  if (count == 0 || size == 0) return nullptr;
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
