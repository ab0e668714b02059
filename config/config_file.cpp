// Saving the configuration text to a file and loading it back.
#include <cstdint>
#include <cstdio>

#include "config/config_text.h"
#include "foundation/counted_array.h"
#include "foundation/element_kinds.h"
#include "foundation/file_stream.h"
#include "foundation/file_system.h"
#include "foundation/time_value.h"

namespace cdt {

bool saveConfigFile(Configuration& configuration, const char* path) {
  if (path == nullptr) return false;
  std::FILE* file = openFile(path, "w");
  if (file == nullptr) return false;

  // The saved text carries the time stamp and revision that the configuration
  // has once the save succeeded, so that the file and the configuration agree.
  // They are put in place only for the writing and kept only when the whole
  // file was written.
  const bool stamp = configuration.modified;
  const uint64_t oldTime = configuration.modificationTime;
  const int32_t oldRevision = configuration.revision;
  const uint64_t newTime = stamp ? currentTime() : oldTime;
  const auto newRevision =
      stamp ? static_cast<int32_t>(static_cast<uint32_t>(oldRevision) + 1u) : oldRevision;
  configuration.modificationTime = newTime;
  configuration.revision = newRevision;
  const CountedString text = configToText(configuration, 0);
  configuration.modificationTime = oldTime;
  configuration.revision = oldRevision;

  const size_t n = text.length();
  bool written = n == 0 || std::fwrite(text.data(), 1, n, file) == n;
  written = std::fclose(file) == 0 && written;
  if (!written) return false;
  if (stamp) {
    configuration.modified = false;
    configuration.modificationTime = newTime;
    configuration.revision = newRevision;
  }
  return true;
}

bool loadConfigFile(Configuration& configuration, const char* path) {
  if (path == nullptr) return false;
  FileStream stream(CountedString(path), "r");
  if (!stream.isOpen()) return false;
  const int64_t size = stream.size();
  // The whole file goes into one byte array, and no array holds more than
  // kMaxArrayLength bytes: asking for more would end the process.
  if (size < 0 || size > int64_t{kMaxArrayLength}) return false;

  const auto n = static_cast<uint32_t>(size);
  ByteArray bytes;
  bytes.setLength(n);
  // A short read (a directory, a file cut while reading) leaves the
  // configuration untouched rather than parsing part of a text. The text is
  // read in text mode, so on Windows each CR LF arrives as one LF and the
  // text is shorter than the file: that is a whole read too.
  const size_t got = n != 0 ? stream.read(bytes.mutableData(), 1, n) : 0;
  if (got != n && (stream.hasError() || !stream.atEnd())) return false;
  bytes.setLength(static_cast<uint32_t>(got));
  Tokenizer tokenizer(reinterpret_cast<const char*>(bytes.data()), static_cast<uint32_t>(got));
  return parseConfigText(configuration, tokenizer);
}

}  // namespace cdt
