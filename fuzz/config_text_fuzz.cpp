// Reads arbitrary bytes as a configuration text, then checks that whatever
// was read writes a text that reads back and writes the same text again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "config/config_text.h"
#include "config/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cdt;
  if (size > UINT32_MAX) return 0;
  Configuration configuration;
  Tokenizer input(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size));
  parseConfigText(configuration, input);

  // Thousands of racks are valid but make tens of megabytes of text; the
  // round trip is checked on the smaller structures, which exercise the same
  // code.
  if (configuration.racks.size() > 32 || configuration.hosts.size() > 256 ||
      configuration.stages.size() > 256) {
    return 0;
  }
  const CountedString text = configToText(configuration, 0);
  Configuration again;
  Tokenizer written(text.c_str(), text.length());
  if (!parseConfigText(again, written)) std::abort();
  if (!(configToText(again, 0) == text)) std::abort();
  return 0;
}
