#include "export/parquet_thrift.h"

#include "export/parquet_format.h"

namespace cdt::parquet {

void CompactWriter::varint(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out += static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

void CompactWriter::fieldHeader(int16_t id, uint8_t type) {
  const int delta = id - last_;
  if (delta > 0 && delta <= 15) {
    out_ += static_cast<char>((delta << 4) | type);
  } else {
    out_ += static_cast<char>(type);
    varint(out_, zigzag(id));
  }
  last_ = id;
}

void CompactWriter::beginStruct() {
  enclosing_.push_back(last_);
  last_ = 0;
}

void CompactWriter::endStruct() {
  out_ += static_cast<char>(compact::kStop);
  last_ = enclosing_.empty() ? 0 : enclosing_.back();
  if (!enclosing_.empty()) enclosing_.pop_back();
}

void CompactWriter::i8Field(int16_t id, int8_t value) {
  fieldHeader(id, compact::kI8);
  out_ += static_cast<char>(value);
}

void CompactWriter::i16Field(int16_t id, int16_t value) {
  fieldHeader(id, compact::kI16);
  varint(out_, zigzag(value));
}

void CompactWriter::i32Field(int16_t id, int32_t value) {
  fieldHeader(id, compact::kI32);
  varint(out_, zigzag(value));
}

void CompactWriter::i64Field(int16_t id, int64_t value) {
  fieldHeader(id, compact::kI64);
  varint(out_, zigzag(value));
}

void CompactWriter::boolField(int16_t id, bool value) {
  fieldHeader(id, value ? compact::kTrue : compact::kFalse);
}

void CompactWriter::binaryField(int16_t id, std::string_view bytes) {
  fieldHeader(id, compact::kBinary);
  binary(bytes);
}

void CompactWriter::structField(int16_t id) {
  fieldHeader(id, compact::kStruct);
  beginStruct();
}

void CompactWriter::listField(int16_t id, uint8_t element, uint32_t size) {
  fieldHeader(id, compact::kList);
  if (size <= compact::kShortListMax) {
    out_ += static_cast<char>((size << 4) | element);
  } else {
    out_ += static_cast<char>(0xF0 | element);
    varint(out_, size);
  }
}

void CompactWriter::i32(int32_t value) {
  varint(out_, zigzag(value));
}

void CompactWriter::binary(std::string_view bytes) {
  varint(out_, bytes.size());
  out_.append(bytes);
}

}  // namespace cdt::parquet
