#include "info/json_writer.h"

#include <cmath>
#include <cstdio>

namespace cdt {

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0.
size_t utf8Length(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t n;
  uint32_t min;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) {
    n = 2;
    min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    n = 3;
    min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    n = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  uint32_t code = lead & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

void JsonWriter::separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!hasElement_.empty()) {
    if (hasElement_.back()) text_ += ',';
    hasElement_.back() = true;
  }
}

void JsonWriter::beginObject() {
  separate();
  text_ += '{';
  hasElement_.push_back(false);
}

void JsonWriter::endObject() {
  text_ += '}';
  hasElement_.pop_back();
}

void JsonWriter::beginArray() {
  separate();
  text_ += '[';
  hasElement_.push_back(false);
}

void JsonWriter::endArray() {
  text_ += ']';
  hasElement_.pop_back();
}

JsonWriter& JsonWriter::key(std::string_view name) {
  value(name);
  text_ += ':';
  afterKey_ = true;
  return *this;
}

void JsonWriter::value(std::string_view s) {
  separate();
  text_ += '"';
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c == '\\') {
      text_ += '\\';
      text_ += static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      text_ += escape;
      ++i;
    } else {
      const size_t n = utf8Length(s, i);
      if (n == 0) {
        text_ += "\xEF\xBF\xBD";
        ++i;
      } else {
        text_.append(s.substr(i, n));
        i += n;
      }
    }
  }
  text_ += '"';
}

void JsonWriter::value(uint64_t number) {
  separate();
  text_ += std::to_string(number);
}

void JsonWriter::value(int64_t number) {
  separate();
  text_ += std::to_string(number);
}

void JsonWriter::value(double number) {
  if (!std::isfinite(number)) {
    null();
    return;
  }
  separate();
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", number);
  text_ += text;
}

void JsonWriter::value(bool flag) {
  separate();
  text_ += flag ? "true" : "false";
}

void JsonWriter::null() {
  separate();
  text_ += "null";
}

}  // namespace cdt
