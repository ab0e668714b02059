#include "config/field_lines.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "foundation/element_kinds.h"
#include "foundation/text_building.h"

namespace cdt {

namespace {

constexpr char kQuote = '"';
// Room for one typical line; longer ones grow the text themselves.
constexpr uint32_t kLineRoom = 256;
// Geometric growth stops here, well inside the engine's 32-bit lengths; past
// it the appends grow the text exactly.
constexpr uint64_t kMaxReservedText = uint64_t{1} << 30;
constexpr char kEscape = '\\';

// Fields are reached through untyped addresses, so integers are copied in and
// out by size instead of being read through a cast pointer.
bool loadInteger(const void* field, int32_t size, int64_t& value) {
  switch (size) {
    case 1: {
      int8_t v;
      std::memcpy(&v, field, 1);
      value = v;  // NOLINT(bugprone-signed-char-misuse): widened with its sign on purpose
      return true;
    }
    case 2: {
      int16_t v;
      std::memcpy(&v, field, 2);
      value = v;
      return true;
    }
    case 4: {
      int32_t v;
      std::memcpy(&v, field, 4);
      value = v;
      return true;
    }
    case 8: {
      int64_t v;
      std::memcpy(&v, field, 8);
      value = v;
      return true;
    }
    default:
      return false;
  }
}

// Stores the value truncated to the field's `size` bytes.
void storeInteger(void* field, int32_t size, uint64_t value) {
  switch (size) {
    case 1: {
      const auto v = static_cast<uint8_t>(value);
      std::memcpy(field, &v, 1);
      break;
    }
    case 2: {
      const auto v = static_cast<uint16_t>(value);
      std::memcpy(field, &v, 2);
      break;
    }
    case 4: {
      const auto v = static_cast<uint32_t>(value);
      std::memcpy(field, &v, 4);
      break;
    }
    case 8:
      std::memcpy(field, &value, 8);
      break;
    default:
      break;
  }
}

// Beyond float's range the language leaves the narrowing undefined; IEEE
// rounding gives an infinity there, and so does this.
float narrowToFloat(double v) {
  constexpr double kOverflow = 340282356779733661637539395458142568448.0;  // 2^128 - 2^103
  if (v >= kOverflow) return std::numeric_limits<float>::infinity();
  if (v <= -kOverflow) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(v);
}

bool isIntegerSize(int32_t size) {
  return size == 1 || size == 2 || size == 4 || size == 8;
}

bool tokenIs(TextBuffer token, std::string_view text) {
  return token.view() == text;
}

TextBuffer viewOf(const CountedString& s) {
  return {s.c_str(), s.length()};
}

void appendQuoted(CountedString& text, const CountedString& value) {
  quoteText(text, text.length(), viewOf(value), kQuote, kEscape);
  text.append('\n');
}

void writeFieldLine(const FieldDescriptor& row, const void* record, CountedString& text, int w) {
  const void* field = fieldAddress(row, record);
  int64_t integer = 0;
  switch (row.type) {
    case kFieldBoolean:
      if (!loadInteger(field, row.size, integer)) return;
      formatAppend(text, "%*s%s = %s\n", w, "", row.key, integer != 0 ? "TRUE" : "FALSE");
      return;
    case kFieldEnum:
      if (!loadInteger(field, row.size, integer)) return;
      formatAppend(text, "%*s%s = \"%s\"\n", w, "", row.key, enumNameOf(row.enumTable, integer));
      return;
    case kFieldInteger:
      if (!loadInteger(field, row.size, integer)) return;
      formatAppend(text, "%*s%s = %" PRId64 "\n", w, "", row.key, integer);
      return;
    case kFieldUnsigned:
      if (!loadInteger(field, row.size, integer)) return;
      formatAppend(text, "%*s%s = %" PRIu64 "\n", w, "", row.key, static_cast<uint64_t>(integer));
      return;
    case kFieldReal:
      if (row.size == 4) {
        float v;
        std::memcpy(&v, field, 4);
        formatAppend(text, "%*s%s = %.8g\n", w, "", row.key, static_cast<double>(v));
      } else if (row.size == 8) {
        double v;
        std::memcpy(&v, field, 8);
        formatAppend(text, "%*s%s = %.18g\n", w, "", row.key, v);
      }
      return;
    case kFieldString:
      formatAppend(text, "%*s%s = ", w, "", row.key);
      appendQuoted(text, *static_cast<const CountedString*>(field));
      return;
    case kFieldList: {
      const auto& list = *static_cast<const StringList*>(field);
      const uint32_t n = list.size();
      formatAppend(text, "%*s%s = %d\n", w, "", row.key, static_cast<int>(n));
      for (uint32_t i = 0; i < n; ++i) {
        reserveTextRoom(text, kLineRoom);
        formatAppend(text, "%*s%s[%d] = ", w, "", row.key, static_cast<int>(i));
        appendQuoted(text, list[i]);
      }
      return;
    }
    default:
      return;
  }
}

// The plain form's value `value` stored into the row's field.
void storeValue(const FieldDescriptor& row, void* field, TextBuffer value) {
  switch (row.type) {
    case kFieldBoolean:
      if (isIntegerSize(row.size)) storeInteger(field, row.size, tokenIs(value, "TRUE") ? 1 : 0);
      return;
    case kFieldEnum:
      if (isIntegerSize(row.size)) {
        const int32_t v = enumValueOf(row.enumTable, stripQuotes(value, kQuote));
        storeInteger(field, row.size, static_cast<uint64_t>(static_cast<int64_t>(v)));
      }
      return;
    case kFieldInteger:
      if (isIntegerSize(row.size) && isIntegerText(value, 10)) {
        storeInteger(field, row.size, static_cast<uint64_t>(parseInt64(value, 0, 10)));
      }
      return;
    case kFieldUnsigned:
      if (isIntegerSize(row.size) && isIntegerText(value, 10)) {
        storeInteger(field, row.size, parseUInt64(value, 0, 10));
      }
      return;
    case kFieldReal:
      if (!isRealText(value)) return;
      if (row.size == 4) {
        const float v = narrowToFloat(parseReal(value, 0));
        std::memcpy(field, &v, 4);
      } else if (row.size == 8) {
        const double v = parseReal(value, 0);
        std::memcpy(field, &v, 8);
      }
      return;
    case kFieldString:
      unquoteText(*static_cast<CountedString*>(field), 0, value, kQuote, kEscape);
      return;
    case kFieldList: {
      if (!isIntegerText(value, 10)) return;
      const int32_t n = parseInt32(value, 0, 10);
      // A length from the text is bounded like every other count, so that a
      // damaged line cannot make the reader allocate without limit.
      if (n < 0 || static_cast<uint32_t>(n) > kMaxConfigCount) return;
      static_cast<StringList*>(field)->setLength(static_cast<uint32_t>(n));
      return;
    }
    default:
      return;
  }
}

}  // namespace

void reserveTextRoom(CountedString& text, uint32_t room) {
  char*& p = text.value();
  const int32_t capacity = arrayCapacityField(p);
  // A shared or constant block is copied by the next write in any case.
  if (p != nullptr && capacity <= 0) return;
  const uint64_t length = arrayLength(p);
  if (static_cast<uint64_t>(capacity) >= length + room) return;
  uint64_t wanted = std::max<uint64_t>(2 * static_cast<uint64_t>(capacity), length + room);
  // Beyond the largest block the engine accepts, the appends grow it exactly.
  if (wanted > kMaxReservedText) wanted = length + room;
  if (wanted > kMaxReservedText) return;
  p = static_cast<char*>(setArrayCapacity(StringOps, p, static_cast<uint32_t>(wanted)));
}

void writeFieldLines(const FieldDescriptor* table, const void* record, CountedString& text,
                     uint32_t indent) {
  const int w = static_cast<int>(indent);
  for (const FieldDescriptor* row = table; row->key != nullptr; ++row) {
    reserveTextRoom(text, kLineRoom);
    writeFieldLine(*row, record, text, w);
  }
}

bool parseFieldLine(const FieldDescriptor* table, void* record, TextBuffer line) {
  static constexpr TokenRules kRules{" \t\n\r", "=[]", true, kEscape, kQuote};
  TextBuffer tokens[10];
  Tokenizer tokenizer(line.text, line.length);
  const uint32_t count = splitTokens(tokenizer, kRules, tokens, 10);
  if (count < 3) return false;

  const bool elementForm = count >= 6 && tokenIs(tokens[1], "[") && isRealText(tokens[2]) &&
                           tokenIs(tokens[3], "]") && tokenIs(tokens[4], "=") &&
                           !isBlankText(tokens[5]);
  const bool plainForm = tokenIs(tokens[1], "=") && !isBlankText(tokens[2]);
  if (!elementForm && !plainForm) return false;

  const FieldDescriptor* row = findField(table, tokens[0]);
  if (row == nullptr) return false;
  void* field = fieldAddress(*row, record);

  if (elementForm) {
    if (row->type == kFieldList) {
      auto& list = *static_cast<StringList*>(field);
      const int32_t index = parseInt32(tokens[2], 0, 10);
      // An index outside the list is ignored rather than written past its end.
      if (index >= 0 && static_cast<uint32_t>(index) < list.size()) {
        unquoteText(list.at(static_cast<uint32_t>(index)), 0, tokens[5], kQuote, kEscape);
      }
    }
    return true;
  }
  storeValue(*row, field, tokens[2]);
  return true;
}

}  // namespace cdt
