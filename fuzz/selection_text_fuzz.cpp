// The selection texts of cdt export: any text parses or is refused without
// harm; a blade list that parses gives ascending distinct numbers in range,
// and its shortest text parses back to the same numbers; a revolution range
// has its first number at or before its last. A list of names (--probes) of
// any bytes splits into items without a comma that join back to the text,
// and each item decodes as a name does (fuzz/name_checks.h).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/name_checks.h"
#include "tools/selection_text.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto numbers = cdt::parseBladeList(text)) {
    for (size_t i = 0; i < numbers->size(); ++i) {
      check((*numbers)[i] >= 1 && (*numbers)[i] <= cdt::kMaxBladeNumber);
      if (i > 0) check((*numbers)[i - 1] < (*numbers)[i]);
    }
    check(!numbers->empty());
    check(cdt::parseBladeList(cdt::formatBladeList(*numbers)) == numbers);
  }
  if (const auto range = cdt::parseRevolutionRange(text)) check(range->first <= range->second);

  const std::vector<std::string> items = cdt::splitList(text);
  std::string joined;
  for (size_t i = 0; i < items.size(); ++i) {
    check(items[i].find(',') == std::string::npos);
    if (i > 0) joined += ',';
    joined += items[i];
    cdt::fuzzing::checkNameDecoding(items[i]);
  }
  check(joined == text);
  return 0;
}
