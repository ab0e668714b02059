// Constants of the Parquet file format as our writer and its tests use them:
// the magic word, the Thrift compact protocol's type codes, the enumerations
// of parquet.thrift and the field ids of the structures we write. Constants
// only; the writer is export/parquet_writer.h.
#pragma once

#include <cstdint>

namespace cdt::parquet {

// "PAR1": at the start of the file and after the footer's length.
inline constexpr char kMagic[4] = {'P', 'A', 'R', '1'};
inline constexpr uint32_t kMagicSize = 4;
// The footer ends in its length, 4 bytes little-endian, then the magic.
inline constexpr uint32_t kFooterTailSize = 4 + kMagicSize;

// Thrift compact protocol type codes (field headers and list headers).
namespace compact {
inline constexpr uint8_t kStop = 0;
inline constexpr uint8_t kTrue = 1;   // a bool field's value is in its header
inline constexpr uint8_t kFalse = 2;  // likewise; the bool element type of a list
inline constexpr uint8_t kI8 = 3;
inline constexpr uint8_t kI16 = 4;
inline constexpr uint8_t kI32 = 5;
inline constexpr uint8_t kI64 = 6;
inline constexpr uint8_t kDouble = 7;
inline constexpr uint8_t kBinary = 8;  // also strings
inline constexpr uint8_t kList = 9;
inline constexpr uint8_t kSet = 10;
inline constexpr uint8_t kMap = 11;
inline constexpr uint8_t kStruct = 12;  // also unions
inline constexpr uint8_t kUuid = 13;
// A list of fewer elements keeps its size in the header byte.
inline constexpr uint32_t kShortListMax = 14;
}  // namespace compact

// enum Type
inline constexpr int32_t kBoolean = 0;
inline constexpr int32_t kInt32 = 1;
inline constexpr int32_t kInt64 = 2;
inline constexpr int32_t kFloat = 4;
inline constexpr int32_t kDouble = 5;
inline constexpr int32_t kByteArray = 6;

// enum ConvertedType (what old readers go by)
inline constexpr int32_t kConvertedUtf8 = 0;
inline constexpr int32_t kConvertedTimestampMicros = 10;
inline constexpr int32_t kConvertedUint8 = 11;
inline constexpr int32_t kConvertedUint16 = 12;
inline constexpr int32_t kConvertedUint32 = 13;
inline constexpr int32_t kConvertedUint64 = 14;

// enum FieldRepetitionType
inline constexpr int32_t kRequired = 0;
inline constexpr int32_t kOptional = 1;

// enum Encoding
inline constexpr int32_t kPlain = 0;
inline constexpr int32_t kRle = 3;  // the RLE / bit-packing hybrid

// enum CompressionCodec
inline constexpr int32_t kUncompressed = 0;
inline constexpr int32_t kGzip = 2;
inline constexpr int32_t kZstd = 6;

// enum PageType
inline constexpr int32_t kDataPage = 0;

// The file format version FileMetaData states.
inline constexpr int32_t kFormatVersion = 1;

// Field ids, by structure.
namespace file_meta_data {
inline constexpr int16_t kVersion = 1;
inline constexpr int16_t kSchema = 2;  // list<SchemaElement>
inline constexpr int16_t kNumRows = 3;
inline constexpr int16_t kRowGroups = 4;         // list<RowGroup>
inline constexpr int16_t kKeyValueMetadata = 5;  // list<KeyValue>
inline constexpr int16_t kCreatedBy = 6;
inline constexpr int16_t kColumnOrders = 7;  // list<ColumnOrder>
}  // namespace file_meta_data

namespace schema_element {
inline constexpr int16_t kType = 1;
inline constexpr int16_t kRepetitionType = 3;
inline constexpr int16_t kName = 4;
inline constexpr int16_t kNumChildren = 5;
inline constexpr int16_t kConvertedType = 6;
inline constexpr int16_t kLogicalType = 10;
}  // namespace schema_element

// union LogicalType, and the fields of its members
namespace logical_type {
inline constexpr int16_t kString = 1;     // StringType {}
inline constexpr int16_t kTimestamp = 8;  // TimestampType
inline constexpr int16_t kInteger = 10;   // IntType
}  // namespace logical_type
namespace timestamp_type {
inline constexpr int16_t kIsAdjustedToUtc = 1;
inline constexpr int16_t kUnit = 2;  // union TimeUnit
}  // namespace timestamp_type
namespace time_unit {
inline constexpr int16_t kMicros = 2;  // MicroSeconds {}
}  // namespace time_unit
namespace int_type {
inline constexpr int16_t kBitWidth = 1;  // i8
inline constexpr int16_t kIsSigned = 2;
}  // namespace int_type

namespace key_value {
inline constexpr int16_t kKey = 1;
inline constexpr int16_t kValue = 2;
}  // namespace key_value

namespace row_group {
inline constexpr int16_t kColumns = 1;  // list<ColumnChunk>
inline constexpr int16_t kTotalByteSize = 2;
inline constexpr int16_t kNumRows = 3;
inline constexpr int16_t kFileOffset = 5;
inline constexpr int16_t kTotalCompressedSize = 6;
inline constexpr int16_t kOrdinal = 7;  // i16
}  // namespace row_group

namespace column_chunk {
inline constexpr int16_t kFileOffset = 2;
inline constexpr int16_t kMetaData = 3;  // ColumnMetaData
}  // namespace column_chunk

namespace column_meta_data {
inline constexpr int16_t kType = 1;
inline constexpr int16_t kEncodings = 2;     // list<Encoding>
inline constexpr int16_t kPathInSchema = 3;  // list<string>
inline constexpr int16_t kCodec = 4;
inline constexpr int16_t kNumValues = 5;
inline constexpr int16_t kTotalUncompressedSize = 6;
inline constexpr int16_t kTotalCompressedSize = 7;
inline constexpr int16_t kDataPageOffset = 9;
inline constexpr int16_t kStatistics = 12;
}  // namespace column_meta_data

namespace statistics {
inline constexpr int16_t kMax = 1;  // the old signed-order bounds
inline constexpr int16_t kMin = 2;
inline constexpr int16_t kNullCount = 3;
inline constexpr int16_t kMaxValue = 5;  // bounds in the column's order
inline constexpr int16_t kMinValue = 6;
inline constexpr int16_t kNanCount = 9;
}  // namespace statistics

// union ColumnOrder
namespace column_order {
inline constexpr int16_t kTypeOrder = 1;  // TypeDefinedOrder {}
}  // namespace column_order

namespace page_header {
inline constexpr int16_t kType = 1;
inline constexpr int16_t kUncompressedPageSize = 2;
inline constexpr int16_t kCompressedPageSize = 3;
inline constexpr int16_t kDataPageHeader = 5;
}  // namespace page_header

namespace data_page_header {
inline constexpr int16_t kNumValues = 1;
inline constexpr int16_t kEncoding = 2;
inline constexpr int16_t kDefinitionLevelEncoding = 3;
inline constexpr int16_t kRepetitionLevelEncoding = 4;
}  // namespace data_page_header

}  // namespace cdt::parquet
