#include "foundation/counted_string.h"

#include <cstring>
#include <string>

namespace cdt {
namespace {

// The engine requires sources outside the block being changed; text taken
// from the string itself is copied first.
bool insideBlock(const char* block, const char* bytes) {
  return block != nullptr && bytes != nullptr && bytes >= block && bytes <= block + arrayLength(block);
}

}  // namespace

char* createStringValue(const char* bytes, uint32_t n) {
  return static_cast<char*>(spliceArray(StringOps, nullptr, 0, bytes, n, kSpliceReplace));
}

CountedString::CountedString(const char* text)
    : p_(text != nullptr ? createStringValue(text, static_cast<uint32_t>(std::strlen(text)))
                         : nullptr) {}

CountedString::CountedString(std::string_view text)
    : p_(createStringValue(text.data(), static_cast<uint32_t>(text.size()))) {}

char* CountedString::mutableData() {
  p_ = static_cast<char*>(makeArrayPrivate(StringOps, p_));
  return p_;
}

void CountedString::clear() {
  p_ = static_cast<char*>(setArrayCapacity(StringOps, p_, 0));
}

void CountedString::assign(const char* bytes, uint32_t n) {
  if (n == 0) {
    clear();
    return;
  }
  if (insideBlock(p_, bytes)) {
    std::string copy(bytes, n);
    assign(copy.data(), n);
    return;
  }
  p_ = static_cast<char*>(spliceArray(StringOps, p_, 0, bytes, n, kSpliceReplace));
}

void CountedString::append(const char* bytes, uint32_t n) {
  if (n == 0) return;
  if (insideBlock(p_, bytes)) {
    std::string copy(bytes, n);
    append(copy.data(), n);
    return;
  }
  p_ = static_cast<char*>(spliceArray(StringOps, p_, length(), bytes, n, kSpliceInsert));
}

void CountedString::append(char c) {
  if (p_ != nullptr) {
    ArrayHeader* header = arrayHeader(p_);
    if (header->length >= 0 && header->length < header->capacity) {
      p_[header->length] = c;
      p_[header->length + 1] = 0;
      header->length += 1;
      return;
    }
  }
  p_ = static_cast<char*>(spliceArray(StringOps, p_, length(), &c, 1, kSpliceInsert));
}

void CountedString::replaceFrom(uint32_t position, const char* bytes, uint32_t n) {
  if (insideBlock(p_, bytes)) {
    std::string copy(bytes, n);
    replaceFrom(position, copy.data(), n);
    return;
  }
  p_ = static_cast<char*>(spliceArray(StringOps, p_, position, bytes, n, kSpliceReplace));
}

void CountedString::resize(uint32_t n) {
  p_ = static_cast<char*>(setArrayLength(StringOps, p_, n));
}

}  // namespace cdt
