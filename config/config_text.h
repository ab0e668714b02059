// The configuration's text form: a frame of Begin/End lines, count lines, one
// block per entity and key = value lines produced from the field tables. The
// writer's output is exact; the reader is tolerant and fails only on
// structural lines.
#pragma once

#include <cstdint>

#include "config/model.h"
#include "foundation/counted_string.h"
#include "foundation/tokenizer.h"

namespace cdt {

// Appends the whole text (frame included) with base indentation `indent`,
// which pads every line and so must stay small (a few dozen blanks).
void writeConfigText(const Configuration& configuration, CountedString& text, uint32_t indent);
// The text in a fresh string; data files embed it with indentation 0.
CountedString configToText(const Configuration& configuration, uint32_t indent);

// Reads the text from the tokenizer's cursor into `configuration` (normally
// freshly constructed) and relinks it, whatever the outcome. True when it
// ended at "End Configuration" with no failed structural line, or when the
// text was empty from the start.
bool parseConfigText(Configuration& configuration, Tokenizer& tokenizer);

// Writes the text to `path`. When the configuration is modified, the flag is
// cleared, `modificationTime` stamped and `revision` incremented, but only once
// the file has been written; a failed save leaves the configuration as it was.
// The file is written in place (so `path` may be a device or a pipe): a write
// that fails part way leaves it cut short.
[[nodiscard]] bool saveConfigFile(Configuration& configuration, const char* path);
// Reads and parses the file; true when it was read and parsed successfully.
[[nodiscard]] bool loadConfigFile(Configuration& configuration, const char* path);

}  // namespace cdt
