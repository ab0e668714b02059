// CountedString: the counted-array engine over characters. A NUL-terminated
// byte string with its length and capacity in front; new characters that no
// source supplies are spaces. Copies share the block; the first change through
// a shared holder gives that holder a block of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/counted_array.h"

namespace cdt {

inline constexpr ElementOps StringOps{
    nullptr,          nullptr, nullptr, nullptr, 0x20 | kTerminated | kFillNew | kGeometricGrowth,
    kArrayHeaderSize, 1};

// Raw-value helpers for code that stores engine pointers directly.

// spliceArray(StringOps, none, 0, bytes, n, replace): nullptr for n = 0, n
// spaces for bytes nullptr.
[[nodiscard]] char* createStringValue(const char* bytes, uint32_t n);

// True when the n bytes at `bytes` overlap the block of the string value `s`
// (its characters or terminator). Such bytes may move or change while `s` is
// written, so writers copy them first.
[[nodiscard]] bool overlapsString(const char* s, const char* bytes, std::size_t n);

// The string when it is not empty, else nullptr.
inline const char* textOf(const char* s) {
  return s != nullptr && arrayLength(s) != 0 ? s : nullptr;
}

class CountedString {
 public:
  CountedString() = default;
  CountedString(const char* bytes, uint32_t n) : p_(createStringValue(bytes, n)) {}
  // From C text; nullptr and "" give the empty string.
  CountedString(const char* text);  // NOLINT(google-explicit-constructor)
  explicit CountedString(std::string_view text);

  CountedString(const CountedString& other)
      : p_(static_cast<char*>(shareArray(StringOps, nullptr, other.p_))) {}
  CountedString(CountedString&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  CountedString& operator=(const CountedString& other) {
    if (this != &other) p_ = static_cast<char*>(shareArray(StringOps, p_, other.p_));
    return *this;
  }
  CountedString& operator=(CountedString&& other) noexcept {
    if (this != &other) {
      releaseArrayReference(StringOps, p_);
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  ~CountedString() { releaseArrayReference(StringOps, p_); }

  // Takes over an engine pointer that the caller held one reference to.
  static CountedString adopt(char* value) {
    CountedString s;
    s.p_ = value;
    return s;
  }
  // Gives up the reference without releasing it.
  [[nodiscard]] char* detach() {
    char* value = p_;
    p_ = nullptr;
    return value;
  }

  uint32_t length() const { return arrayLength(p_); }
  bool empty() const { return length() == 0; }
  // The engine pointer: nullptr for the empty string that never had a block.
  const char* data() const { return p_; }
  // Always a C string ("" when absent).
  const char* c_str() const { return p_ != nullptr ? p_ : ""; }
  std::string_view view() const { return {c_str(), length()}; }
  std::string str() const { return std::string(view()); }
  char operator[](uint32_t i) const { return p_[i]; }

  // The variable the engine operations read and store back into.
  char*& value() { return p_; }

  // Writable characters (the block is made private first).
  char* mutableData();

  void clear();
  void assign(const char* bytes, uint32_t n);
  void assign(std::string_view text) { assign(text.data(), static_cast<uint32_t>(text.size())); }
  void append(const char* bytes, uint32_t n);
  void append(std::string_view text) { append(text.data(), static_cast<uint32_t>(text.size())); }
  // Appends in place while the block is solely owned and has room.
  void append(char c);
  // Replaces everything from `position` on by `bytes` (a gap is filled with
  // spaces).
  void replaceFrom(uint32_t position, const char* bytes, uint32_t n);
  // Length becomes n (new characters are spaces).
  void resize(uint32_t n);

  friend bool operator==(const CountedString& a, const CountedString& b) {
    return a.view() == b.view();
  }
  friend bool operator==(const CountedString& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const CountedString& a, const char* b) {
    return a.view() == std::string_view(b != nullptr ? b : "");
  }

 private:
  char* p_ = nullptr;
};

static_assert(sizeof(CountedString) == sizeof(char*));

inline CountedString createString(const char* bytes, uint32_t n) {
  return {bytes, n};
}
inline uint32_t length(const CountedString& s) {
  return s.length();
}
inline const char* textOf(const CountedString& s) {
  return textOf(s.data());
}
inline void releaseArray(CountedString& s) {
  s.clear();
}

}  // namespace cdt
