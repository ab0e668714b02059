// Reads arbitrary bytes as a configuration text, then checks that whatever
// was read writes a text that reads back and writes the same text again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/config_text.h"
#include "config/model.h"

namespace {

// Thousands of racks are valid but take the reader a large part of a second
// under the sanitizers and write tens of megabytes of text; inputs whose
// count lines ask for more than a few entities are skipped, since small
// structures run the same code many times faster.
constexpr unsigned long kMaxEntities = 32;

bool asksForManyEntities(std::string_view text) {
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == text.size() ? end : end + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    for (std::string_view key : {"numStages = ", "numHosts = ", "numRacks = "}) {
      if (line.substr(0, key.size()) != key) continue;
      const std::string number(line.substr(line.find_last_of(' ') + 1));
      const unsigned long n = std::strtoul(number.c_str(), nullptr, 10);
      if (n > kMaxEntities && n <= 4095) return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cdt;
  if (size > UINT32_MAX) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (asksForManyEntities(bytes)) return 0;

  Configuration configuration;
  Tokenizer input(bytes.data(), static_cast<uint32_t>(size));
  parseConfigText(configuration, input);

  const CountedString text = configToText(configuration, 0);
  Configuration again;
  Tokenizer written(text.c_str(), text.length());
  if (!parseConfigText(again, written)) std::abort();
  if (!(configToText(again, 0) == text)) std::abort();
  return 0;
}
