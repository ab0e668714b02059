// What a window read's start costs: for windows starting after the index
// entries at 10 %, 50 %, 90 % and 100 % of a recording, the time seekToTime
// takes on a freshly opened file (the walk over the record headers that
// confirms the entry, or finds the window without it), against reading every
// record from the start.
//
//   cdt_window_seek FILE...
//
// Run it on a recording and on a copy with one index entry changed to see
// what a fallback costs.
#include <chrono>
#include <cstdio>
#include <memory>

#include "datafile/data_file.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int measure(const char* path) {
  auto file = cdt::openDataFile(path);
  if (file == nullptr || !file->loadIndex() || file->index().empty()) {
    std::fprintf(stderr, "cdt_window_seek: cannot read the index of '%s'\n", path);
    return 1;
  }
  const cdt::IndexArray& index = file->index();
  const uint32_t count = index.size();
  std::printf("%s: %u index entries\n", path, count);

  Clock::time_point t0 = Clock::now();
  uint64_t records = 0;
  while (cdt::RecordRef record = cdt::readNextRecord(*file)) ++records;
  std::printf("  read every record from the start: %llu records in %.1f ms\n",
              static_cast<unsigned long long>(records), millisecondsSince(t0));

  for (const unsigned percent : {10u, 50u, 90u, 100u}) {
    const uint32_t k = static_cast<uint32_t>(uint64_t{count - 1} * percent / 100);
    const uint64_t start = index[k].time + 1;
    t0 = Clock::now();
    auto fresh = cdt::openDataFile(path);
    if (fresh == nullptr) return 1;
    const cdt::WindowSeek seek = cdt::seekToTime(*fresh, start);
    const double ms = millisecondsSince(t0);
    if (!seek.positioned) {
      std::printf("  after entry %u (%u %%): not positioned\n", k, percent);
      continue;
    }
    std::printf("  after entry %u (%3u %%): %8.1f ms, %s", k, percent, ms,
                seek.entry ? "the entry confirmed" : "no entry used");
    if (seek.indexDisagrees) std::printf(" (the index disagrees at entry %u)", seek.firstBadEntry);
    std::printf("\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: cdt_window_seek FILE...\n");
    return 2;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) status |= measure(argv[i]);
  return status;
}
