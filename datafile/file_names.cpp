#include "datafile/file_names.h"

#include <cstring>

#include "foundation/paths.h"
#include "foundation/text_building.h"
#include "foundation/time_value.h"

namespace cdt {

CountedString timestampedPath(const char* directory, const char* baseName, uint64_t time,
                              std::string_view extension) {
  const TimeStamp t = timeStampOf(time);
  CountedString path = formatString(
      "%s/%s.%04d-%02d-%02d.%02d-%02d-%02d", directory != nullptr ? directory : "",
      baseName != nullptr ? baseName : "", t.year, t.month, t.day, t.hour, t.minute, t.second);
  path.append(extension);
  return path;
}

CountedString recordingBaseName(const Configuration& configuration, uint32_t host) {
  const char* hostName =
      host < configuration.hosts.size() ? configuration.hosts[host].name.c_str() : "";
  return formatString("%s.%04d.%s", configuration.name.c_str(), configuration.revision, hostName);
}

CountedString outputPathFor(const char* inputPath) {
  const char* path = inputPath != nullptr ? inputPath : "";
  // The extension runs from the path's last dot; a dot in a directory name
  // leaves text with a separator in it, which the final component cannot end
  // with, so nothing is cut then.
  const TextBuffer base = pathBaseName(TextBuffer(std::string_view(path)), std::strrchr(path, '.'));
  CountedString output(base.text, base.length);
  output.append(".csv");
  return output;
}

}  // namespace cdt
