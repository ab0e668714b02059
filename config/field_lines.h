// The line-level pieces of the configuration text: the table-driven key =
// value serialiser and deserialiser, and the reader's structural-line matcher.
// writeConfigText and parseConfigText (config_text.h) are built from them.
#pragma once

#include <cstdint>

#include "config/field_tables.h"
#include "foundation/counted_string.h"
#include "foundation/text_view.h"
#include "foundation/tokenizer.h"

namespace cdt {

// Appends one key = value line per row of `table` (up to its terminating
// row), each indented by `indent` blanks. `record` is a record of the table's
// kind. Rows whose type code or size the serialiser does not know give no
// line.
void writeFieldLines(const FieldDescriptor* table, const void* record, CountedString& text,
                     uint32_t indent);

// Keeps at least `room` characters free at the end of `text`, growing its
// block geometrically. Formatted appends grow a block only to the size they
// need; the writers call this first so that a whole configuration text is not
// copied once per line.
void reserveTextRoom(CountedString& text, uint32_t room);

// Applies one key = value line (or key[index] = value for list rows) to
// `record`. True when the line has a key = value shape and its key names a row
// of `table`, whether or not the value passed its type's check. A value that
// fails its check, a list index outside the list, and a list length that is
// negative or above kMaxConfigCount leave the field unchanged.
bool parseFieldLine(const FieldDescriptor* table, void* record, TextBuffer line);

// The largest count a count line, a calibration count or a list length line
// may give.
inline constexpr uint32_t kMaxConfigCount = 4095;

// The reader's structural-line patterns, separated by line feeds; a pattern
// ending in '*' matches a line that starts with the text before the '*' and is
// at least as long as the pattern. The position of a pattern is its code.
inline constexpr char kConfigKeywords[] =
    "End Configuration\n"
    "numStages = *\n"
    "numHosts = *\n"
    "numRacks = *\n"
    "numCalData = *\n"
    "calData[*\n"
    "Begin Stage *\n"
    "Begin Host *\n"
    "Begin Rack *\n"
    "Begin Channel *\n"
    "Begin Relay *\n"
    "Begin Probe *\n"
    "End Stage\n"
    "End Host\n"
    "End Rack\n"
    "End Channel\n"
    "End Relay\n"
    "End Probe";

// Codes of kConfigKeywords.
enum ConfigKeyword : int32_t {
  kKeywordEndOfText = -1,
  kKeywordEndConfiguration = 0,
  kKeywordNumStages,
  kKeywordNumHosts,
  kKeywordNumRacks,
  kKeywordNumCalData,
  kKeywordCalData,
  kKeywordBeginStage,
  kKeywordBeginHost,
  kKeywordBeginRack,
  kKeywordBeginChannel,
  kKeywordBeginRelay,
  kKeywordBeginProbe,
  kKeywordEndStage,
  kKeywordEndHost,
  kKeywordEndRack,
  kKeywordEndChannel,
  kKeywordEndRelay,
  kKeywordEndProbe,
};

// A keyword list split into its patterns (line feed separated, trimmed, at
// most 100). The views point into the list's text.
struct KeywordPatterns {
  static constexpr uint32_t kMaxPatterns = 100;
  TextBuffer patterns[kMaxPatterns];
  uint32_t count = 0;
};
KeywordPatterns splitKeywordList(TextBuffer keywords);

// Reads lines (split at line feeds, trimmed, blank lines skipped) from the
// tokenizer until one matches a pattern of `keywords` and returns that
// pattern's position; every other line is applied with parseFieldLine to
// `record`. -1 at the end of the text. The matched line is left in
// tokenizer.lastToken.
int32_t nextKeywordLine(const FieldDescriptor* table, void* record, Tokenizer& tokenizer,
                        TextBuffer keywords);
// The same with the list already split (the reader splits it once per text).
int32_t nextKeywordLine(const FieldDescriptor* table, void* record, Tokenizer& tokenizer,
                        const KeywordPatterns& keywords);

// The number that ends the line last read (tokenizer.lastToken), or all bits
// set when its last word is not a number.
uint32_t lineNumberArgument(const Tokenizer& tokenizer);

}  // namespace cdt
