#include "foundation/counted_string.h"

#include <cstring>
#include <string>

namespace cdt {
bool overlapsString(const char* s, const char* bytes, std::size_t n) {
  if (s == nullptr || bytes == nullptr || n == 0) return false;
  // Compared as addresses: the bytes usually belong to another object.
  const auto begin = reinterpret_cast<std::uintptr_t>(s);
  const std::uintptr_t end = begin + arrayLength(s) + 1;
  const auto first = reinterpret_cast<std::uintptr_t>(bytes);
  return first < end && first + n > begin;
}

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
  if (overlapsString(p_, bytes, n)) {
    std::string copy(bytes, n);
    assign(copy.data(), n);
    return;
  }
  p_ = static_cast<char*>(spliceArray(StringOps, p_, 0, bytes, n, kSpliceReplace));
}

void CountedString::append(const char* bytes, uint32_t n) {
  if (n == 0) return;
  if (overlapsString(p_, bytes, n)) {
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
  if (overlapsString(p_, bytes, n)) {
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
