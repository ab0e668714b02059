// CompactWriter: Thrift structures in the compact protocol, as Parquet's
// footer and page headers are written. Only what those need: structs (and
// unions, which are structs of one field), i8/i32/i64, bool, binary, and
// lists of i32, binary and structs.
//
// Fields are written in the order given, each id above the last of its
// struct (the short header form then takes one byte). A struct begun with
// beginStruct() or structField() is ended with endStruct().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cdt::parquet {

class CompactWriter {
 public:
  explicit CompactWriter(std::string& out) : out_(out) {}

  // A struct as a list element (or the outermost one).
  void beginStruct();
  void endStruct();

  void i8Field(int16_t id, int8_t value);
  void i16Field(int16_t id, int16_t value);
  void i32Field(int16_t id, int32_t value);
  void i64Field(int16_t id, int64_t value);
  void boolField(int16_t id, bool value);
  void binaryField(int16_t id, std::string_view bytes);
  // Begins a struct (or union) field; endStruct() ends it.
  void structField(int16_t id);
  // The header of a list field of `size` elements of compact type
  // `element`; the elements follow (i32(), binary(), beginStruct()...).
  void listField(int16_t id, uint8_t element, uint32_t size);

  void i32(int32_t value);
  void binary(std::string_view bytes);

  // Unsigned LEB128, and the zigzag form of a signed value.
  static void varint(std::string& out, uint64_t value);
  static uint64_t zigzag(int64_t value) {
    return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
  }

 private:
  void fieldHeader(int16_t id, uint8_t type);

  std::string& out_;
  int16_t last_ = 0;                // the last field id of the open struct
  std::vector<int16_t> enclosing_;  // those of the structs around it
};

}  // namespace cdt::parquet
