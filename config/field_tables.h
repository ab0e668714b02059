// The constant tables that drive the configuration's text form: one field
// descriptor table per record kind (which fields are stored, under which key,
// how they are typed and where they live) and the enumeration tables that map
// the symbolic names of enumerated fields to their numbers.
//
// All tables are constant and live for the whole program.
#pragma once

#include <cstdint>

#include "foundation/text_view.h"

namespace cdt {

// One row of an enumeration table. A table ends with a row whose name is the
// empty text (never nullptr); that row's value is the table's default.
struct EnumName {
  int32_t value;
  const char* name;
};

// Type codes of field descriptors.
inline constexpr int32_t kFieldEnum = 'E';      // signed integer, written by its EnumName
inline constexpr int32_t kFieldString = 'S';    // CountedString
inline constexpr int32_t kFieldInteger = 'I';   // signed integer
inline constexpr int32_t kFieldReal = 'F';      // float (size 4) or double (size 8)
inline constexpr int32_t kFieldBoolean = 'B';   // integer, any bit set is true
inline constexpr int32_t kFieldUnsigned = 'U';  // integer written as unsigned 64-bit
inline constexpr int32_t kFieldList = 'L';      // StringList (no configuration table uses it)

// One stored field of a record kind. A table ends with a row whose key is
// nullptr (all members zero).
//
// `field` maps a record of the table's kind to the address of the field; the
// field is an object of exactly `size` bytes: an integer of 1, 2, 4 or 8 bytes
// for the integer codes (E, I, U, B), a float or double for F, a CountedString
// for S and a StringList for L.
struct FieldDescriptor {
  const char* key;
  const EnumName* enumTable;  // type E only
  int32_t type;
  int32_t size;
  void* (*field)(void* record);
};

// The field of `row` inside `record` (a record of the row's table kind).
inline void* fieldAddress(const FieldDescriptor& row, void* record) {
  return row.field(record);
}
inline const void* fieldAddress(const FieldDescriptor& row, const void* record) {
  // The accessors only compute an address; reading through it stays const.
  return row.field(const_cast<void*>(record));
}

// Descriptor tables, each applied to one record kind; rows in writing order.
extern const FieldDescriptor kChannelFields[];        // Channel
extern const FieldDescriptor kRelayFields[];          // Relay
extern const FieldDescriptor kProbeFields[];          // Probe
extern const FieldDescriptor kHostFields[];           // Host
extern const FieldDescriptor kRackFields[];           // Rack
extern const FieldDescriptor kStageFields[];          // Stage
extern const FieldDescriptor kConfigurationFields[];  // Configuration

// The seven tables in this order.
enum FieldTableKind : int32_t {
  kChannelTable = 0,
  kRelayTable,
  kProbeTable,
  kHostTable,
  kRackTable,
  kStageTable,
  kConfigurationTable,
};
extern const FieldDescriptor* const kFieldTables[7];

// Number of rows before the terminating row.
uint32_t fieldCount(const FieldDescriptor* table);
// The first row whose key equals `key` exactly, or nullptr.
const FieldDescriptor* findField(const FieldDescriptor* table, TextBuffer key);

// Enumeration tables.
extern const EnumName kRangeNames[];       // Channel range
extern const EnumName kCouplingNames[];    // Channel coupling
extern const EnumName kRelayUsageNames[];  // Relay usage
extern const EnumName kOscNames[];         // Probe demodulator.osc
extern const EnumName kGainNames[];        // Probe demodulator.gain and calGain
extern const EnumName kAcNames[];          // Probe demodulator.ac
extern const EnumName kFilterNames[];      // Probe demodulator.filter
extern const EnumName kProbeTypeNames[];   // Probe type
extern const EnumName kCalModeNames[];     // Probe calMode
extern const EnumName kAlarmModeNames[];   // Configuration alarmMode

// Name to value: the first row whose name equals `name` exactly (case
// included); a name no row lists, the empty text among them, gives the
// table's default.
int32_t enumValueOf(const EnumName* table, TextBuffer name);
// Value to name: the name of the first row with that value; the empty text
// when no row has it. Never nullptr.
const char* enumNameOf(const EnumName* table, int64_t value);

}  // namespace cdt
