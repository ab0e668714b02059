// A small writer of compact JSON text: objects, arrays, strings, numbers,
// booleans and null, with the commas placed for the caller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cdt {

class JsonWriter {
 public:
  void beginObject();
  void endObject();
  void beginArray();
  void endArray();
  // The key of the next value inside an object.
  JsonWriter& key(std::string_view name);

  // Text is written as UTF-8 with the characters JSON requires escaped.
  // Names from a file are decoded into UTF-8 before they come here
  // (decodeName); as a last resort, bytes that are not valid UTF-8 become
  // U+FFFD, so the output always parses.
  void value(std::string_view text);
  void value(const char* text) { value(std::string_view(text)); }
  void value(uint64_t number);
  void value(int64_t number);
  void value(uint32_t number) { value(uint64_t{number}); }
  void value(int32_t number) { value(int64_t{number}); }
  // Nine significant digits, enough for every float; null when not finite.
  void value(double number);
  void value(bool flag);
  void null();

  // The text so far.
  const std::string& text() const { return text_; }

 private:
  void separate();

  std::string text_;
  // Per open container: whether it has an element yet.
  std::vector<bool> hasElement_;
  bool afterKey_ = false;
};

}  // namespace cdt
