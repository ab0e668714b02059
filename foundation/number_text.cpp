// The whole-view number checks and parsers declared in tokenizer.h.
//
// The checks follow strtol (integers) and strtod (reals) exactly. The parsers
// convert with their own type's function in one pass: glibc's strtol, strtoll,
// strtoul and strtoull share one scanner, so they consume the same characters
// and the parsers accept exactly the views that isIntegerText accepts.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "foundation/counted_string.h"
#include "foundation/tokenizer.h"

namespace cdt {

namespace {

// Views shorter than this are copied onto the stack.
constexpr uint32_t kLocalCopySize = 128;

// A NUL-terminated copy of a view for the C library's conversions, which
// would otherwise read on past the view's end.
class TerminatedCopy {
 public:
  explicit TerminatedCopy(TextBuffer text) {
    const uint32_t n = text.size();
    if (n < kLocalCopySize) {
      if (n != 0) std::memcpy(local_, text.text, n);
      local_[n] = '\0';
      text_ = local_;
    } else {
      heap_ = CountedString(text.text, n);
      text_ = heap_.c_str();
    }
  }
  TerminatedCopy(const TerminatedCopy&) = delete;
  TerminatedCopy& operator=(const TerminatedCopy&) = delete;

  const char* c_str() const { return text_; }

 private:
  char local_[kLocalCopySize];
  CountedString heap_;
  const char* text_ = nullptr;
};

// Runs `convert(text, &end)` over a terminated copy of the view. True when it
// consumed at least one character and only white space of the view follows.
template <class T, class Convert>
bool convertWhole(TextBuffer text, T& value, Convert convert) {
  if (isBlankText(text)) return false;
  TerminatedCopy copy(text);
  const char* begin = copy.c_str();
  char* end = const_cast<char*>(begin);
  value = convert(begin, &end);
  const auto used = static_cast<uint32_t>(end - begin);
  if (used == 0) return false;
  return isBlankText(TextBuffer(text.text + used, text.length - used));
}

// The C conversions leave the end pointer unset for any other base (and
// sanitizer interceptors then report a garbage one), so such bases are
// refused before converting.
bool validBase(int base) {
  return base == 0 || (base >= 2 && base <= 36);
}

bool startsNegative(const char* text) {
  while (isSpaceChar(*text)) ++text;
  return *text == '-';
}

}  // namespace

bool isIntegerText(TextBuffer text, int base) {
  if (!validBase(base)) return false;
  long value = 0;
  return convertWhole(text, value,
                      [base](const char* s, char** end) { return std::strtol(s, end, base); });
}

bool isRealText(TextBuffer text) {
  double value = 0;
  return convertWhole(text, value, [](const char* s, char** end) { return std::strtod(s, end); });
}

int32_t parseInt32(TextBuffer text, int32_t fallback, int base) {
  if (!validBase(base)) return fallback;
  long long value = 0;
  if (!convertWhole(text, value,
                    [base](const char* s, char** end) { return std::strtoll(s, end, base); })) {
    return fallback;
  }
  // A 32-bit strtol saturates at the 32-bit limits.
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

uint32_t parseUInt32(TextBuffer text, uint32_t fallback, int base) {
  if (!validBase(base)) return fallback;
  // A 32-bit strtoul: a magnitude above 32 bits gives all bits set, a
  // negative number within range gives its negation modulo 2^32.
  bool overflow = false;
  bool negative = false;
  unsigned long long value = 0;
  if (!convertWhole(text, value, [&](const char* s, char** end) {
        negative = startsNegative(s);
        errno = 0;
        const unsigned long long v = std::strtoull(s, end, base);
        overflow = errno == ERANGE;
        return v;
      })) {
    return fallback;
  }
  const unsigned long long magnitude = negative ? 0ull - value : value;
  if (overflow || magnitude > UINT32_MAX) return UINT32_MAX;
  return static_cast<uint32_t>(negative ? 0ull - magnitude : magnitude);
}

int64_t parseInt64(TextBuffer text, int64_t fallback, int base) {
  if (!validBase(base)) return fallback;
  long long value = 0;
  if (!convertWhole(text, value,
                    [base](const char* s, char** end) { return std::strtoll(s, end, base); })) {
    return fallback;
  }
  return static_cast<int64_t>(value);
}

uint64_t parseUInt64(TextBuffer text, uint64_t fallback, int base) {
  if (!validBase(base)) return fallback;
  unsigned long long value = 0;
  if (!convertWhole(text, value,
                    [base](const char* s, char** end) { return std::strtoull(s, end, base); })) {
    return fallback;
  }
  return static_cast<uint64_t>(value);
}

double parseReal(TextBuffer text, double fallback) {
  double value = 0;
  if (!convertWhole(text, value, [](const char* s, char** end) { return std::strtod(s, end); })) {
    return fallback;
  }
  return value;
}

}  // namespace cdt
