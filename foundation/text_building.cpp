#include "foundation/text_building.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/allocation.h"

namespace cdt {
namespace {

// Spare characters the first formatting attempt allows per conversion.
constexpr uint64_t kSparePerConversion = 3;

uint32_t checkedLength(uint64_t n) {
  if (n > kMaxArrayLength) allocationFailed();
  return static_cast<uint32_t>(n);
}

// Sets the length of a solely owned block whose characters up to `length` are
// already written (and terminated).
void setWrittenLength(char* p, uint32_t length) {
  arrayHeader(p)->length = static_cast<int32_t>(length);
  p[length] = 0;
}

// Leaves `s` solely owned with room for at least `room` characters and its
// length at `position` (cut, or extended with blanks).
void prepareFrom(CountedString& s, uint32_t position, uint64_t room) {
  char*& p = s.value();
  const uint32_t needed = checkedLength(room);
  if (!isSoleOwner(p) || static_cast<uint32_t>(arrayCapacityField(p)) < needed) {
    // A shared or constant block is copied here and left to its other holders.
    p = static_cast<char*>(setArrayCapacity(StringOps, p, needed));
  }
  p = static_cast<char*>(setArrayLength(StringOps, p, position));
}

// When `text` lies inside the block of `s`, growing `s` could move it: the
// text is then copied into `keep` first. An empty view comes back as
// {nullptr, 0} whatever its length field said.
TextBuffer detachFrom(const CountedString& s, TextBuffer text, std::string& keep) {
  if (text.empty()) return {};
  if (!overlapsString(s.data(), text.text, text.length)) return text;
  keep.assign(text.text, text.length);
  return TextBuffer(keep.data(), text.length);
}

bool isDecimalDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

// The characters the C library's "C" locale classes as printable: the blank,
// letters, digits and punctuation. Fixed rather than locale-dependent so that
// the stored form of a text does not depend on the process's locale.
bool isPrintableC(unsigned char c) {
  return c >= 0x20 && c < 0x7F;
}

}  // namespace

void formatAtV(CountedString& s, uint32_t position, const char* format, va_list args) {
  const uint64_t formatLength = std::strlen(format);
  uint64_t conversions = 0;
  for (const char* c = format; *c != 0; ++c) conversions += *c == '%' ? 1 : 0;

  // Characters of room from `position` to the end of the block, terminator
  // included, for a given allowance per conversion.
  auto roomFor = [&](uint64_t allowance) { return formatLength + 5 + allowance * conversions; };
  uint64_t allowance = kSparePerConversion;

  char* p = s.value();
  const uint32_t oldLength = arrayLength(p);
  // A shared old block stays alive until the text is written, so that
  // arguments taken from it (by another holder) remain valid.
  char* sharedOld = nullptr;
  uint32_t capacity = checkedLength(position + roomFor(allowance) - 1);
  if (!isSoleOwner(p)) {
    sharedOld = p;
    p = static_cast<char*>(setArrayCapacity(StringOps, nullptr, capacity));
    const uint32_t kept = oldLength < position ? oldLength : position;
    p = static_cast<char*>(spliceArray(StringOps, p, 0, sharedOld, kept, kSpliceReplace));
  } else if (p == nullptr || static_cast<uint32_t>(arrayCapacityField(p)) < capacity) {
    p = static_cast<char*>(setArrayCapacity(StringOps, p, capacity));
  } else {
    capacity = static_cast<uint32_t>(arrayCapacityField(p));
  }
  // Cuts the old text at `position`, or fills the gap up to it with blanks.
  p = static_cast<char*>(setArrayLength(StringOps, p, position));

  // vsnprintf reports the full length of the text even when it does not fit,
  // so one retry sized from that length always suffices; the bound on
  // attempts only guards against a result that changes between calls.
  for (int attempt = 0;; ++attempt) {
    const uint64_t room = static_cast<uint64_t>(capacity) + 1 - position;
    va_list copy;
    va_copy(copy, args);
    const int written = std::vsnprintf(p + position, room, format, copy);
    va_end(copy);
    const uint64_t needed = static_cast<uint64_t>(written) + 3;
    if (written >= 0 && needed <= room) {
      setWrittenLength(p, position + static_cast<uint32_t>(written));
      break;
    }
    if (written < 0 || attempt == 4) {
      // An encoding error or a text too long to report: nothing is written
      // from `position` on.
      setWrittenLength(p, position);
      break;
    }
    // Double the allowance per conversion until the text fits (a format
    // without conversions always fits its own length plus 5).
    while (conversions != 0 && roomFor(allowance) < needed) allowance *= 2;
    const uint64_t grownRoom = roomFor(allowance) < needed ? needed : roomFor(allowance);
    capacity = checkedLength(position + grownRoom - 1);
    p = static_cast<char*>(setArrayCapacity(StringOps, p, capacity));
  }

  s.value() = p;
  if (sharedOld != nullptr) releaseArrayReference(StringOps, sharedOld);
}

void formatAt(CountedString& s, uint32_t position, const char* format, ...) {
  va_list args;
  va_start(args, format);
  formatAtV(s, position, format, args);
  va_end(args);
}

void formatAppend(CountedString& s, const char* format, ...) {
  va_list args;
  va_start(args, format);
  formatAtV(s, s.length(), format, args);
  va_end(args);
}

void formatNew(char*& s, uint32_t position, const char* format, ...) {
  CountedString fresh;
  va_list args;
  va_start(args, format);
  formatAtV(fresh, position, format, args);
  va_end(args);
  s = fresh.detach();
}

CountedString formatString(const char* format, ...) {
  CountedString result;
  va_list args;
  va_start(args, format);
  formatAtV(result, 0, format, args);
  va_end(args);
  return result;
}

void quoteText(CountedString& s, uint32_t position, TextBuffer text, char quote, char escape) {
  std::string keep;
  text = detachFrom(s, text, keep);
  prepareFrom(s, position, static_cast<uint64_t>(position) + text.length + 5);

  const auto* bytes = reinterpret_cast<const unsigned char*>(text.text);
  if (quote != 0) s.append(quote);
  for (uint32_t i = 0; i < text.length; ++i) {
    const unsigned char c = bytes[i];
    // Quote 0 means no quote at all: a NUL byte is then escaped in octal like
    // any other control byte, so that the result stays a plain C text.
    if (c == static_cast<unsigned char>(escape) ||
        (quote != 0 && c == static_cast<unsigned char>(quote))) {
      s.append(escape);
      s.append(static_cast<char>(c));
      continue;
    }
    char named = 0;
    switch (c) {
      case '\b':
        named = 'b';
        break;
      case '\n':
        named = 'n';
        break;
      case '\r':
        named = 'r';
        break;
      case '\t':
        named = 't';
        break;
      default:
        break;
    }
    if (named != 0) {
      s.append(escape);
      s.append(named);
    } else if (isPrintableC(c)) {
      s.append(static_cast<char>(c));
    } else {
      // Short octal forms are used where unquoting cannot mistake a following
      // digit for part of the escape.
      const bool digitFollows = i + 1 < text.length && isDecimalDigit(bytes[i + 1]);
      s.append(escape);
      if (c >= 64 || digitFollows) s.append(static_cast<char>('0' + c / 64));
      if (c > 7 || digitFollows) s.append(static_cast<char>('0' + (c / 8) % 8));
      s.append(static_cast<char>('0' + c % 8));
    }
  }
  if (quote != 0) s.append(quote);
}

void unquoteText(CountedString& s, uint32_t position, TextBuffer text, char quote, char escape) {
  std::string keep;
  text = detachFrom(s, text, keep);
  if (quote != 0) text = stripQuotes(trimText(text), quote);
  prepareFrom(s, position, static_cast<uint64_t>(position) + text.length);

  enum class State { kNormal, kAfterEscape, kOctal };
  State state = State::kNormal;
  unsigned value = 0;
  int digits = 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.text);
  const auto escapeByte = static_cast<unsigned char>(escape);

  for (uint32_t i = 0; i < text.length; ++i) {
    const unsigned char c = bytes[i];
    if (state == State::kOctal) {
      if (digits < 3 && c >= '0' && c <= '7') {
        value = value * 8 + (c - '0');
        ++digits;
        continue;
      }
      s.append(static_cast<char>(value & 0xFF));
      state = State::kNormal;
    }
    if (state == State::kAfterEscape) {
      state = State::kNormal;
      switch (c) {
        case 'b':
          s.append('\b');
          break;
        case 'n':
          s.append('\n');
          break;
        case 'r':
          s.append('\r');
          break;
        case 't':
          s.append('\t');
          break;
        default:
          if (c >= '0' && c <= '7') {
            state = State::kOctal;
            value = c - '0';
            digits = 1;
          } else {
            s.append(static_cast<char>(c));
          }
          break;
      }
      continue;
    }
    if (c == escapeByte) {
      state = State::kAfterEscape;
    } else {
      s.append(static_cast<char>(c));
    }
  }
  // A lone escape character at the very end stands for nothing.
  if (state == State::kOctal) s.append(static_cast<char>(value & 0xFF));
}

}  // namespace cdt
