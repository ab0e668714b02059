// What a window read's start costs: for windows starting after the index
// entries at 10 %, 50 %, 90 % and 100 % of a recording, the time seekToTime
// takes on a freshly opened file: jumping near the entry (the records of a
// few entries before it confirm it), and walking the record headers from the
// start (through views of the mapped file, and in chunks through the
// stream), against reading every record from the start. Then the lines of a
// 1 s window at 10 % and at 90 %, from the open to the last line, as an
// export of the window reads them, and their ratio against the target: the
// first such window of the process (its walk keeps states of the line
// grouping on the way) and the same windows again (they begin at the
// nearest kept state when they cannot jump).
//
//   cdt_window_seek FILE...
//
// Each time is the best of three. Run it on a recording and on a copy with
// one index entry changed to see what a fallback costs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "datafile/data_file.h"
#include "datafile/index_walk.h"
#include "datafile/walk_checkpoints.h"
#include "lines/line_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 3;
constexpr uint64_t kWindow = 1000000;  // 1 s
constexpr double kTargetRatio = 1.3;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The best of kRuns runs of `run`, which returns false when it failed.
template <class Run>
double bestOf(Run run) {
  double best = -1;
  for (int i = 0; i < kRuns; ++i) {
    const Clock::time_point t0 = Clock::now();
    if (!run()) return -1;
    const double ms = millisecondsSince(t0);
    if (best < 0 || ms < best) best = ms;
  }
  return best;
}

// A seek to `start` on a freshly opened file.
double timeSeek(const char* path, uint64_t start, cdt::WindowSeek& seek) {
  return bestOf([&] {
    auto file = cdt::openDataFile(path);
    if (file == nullptr) return false;
    seek = cdt::seekToTime(*file, start);
    return seek.positioned;
  });
}

// The lines of [start, start + kWindow) of a freshly opened file, with the
// host of its first line as an export takes it; its time, -1 when it fails.
struct WindowRead {
  uint64_t lines = 0;
  bool jumped = false;
  bool resumed = false;
};
const char* how(const WindowRead& read) {
  return read.jumped    ? "jumped near the entry"
         : read.resumed ? "walked from a state kept by an earlier walk"
                        : "walked from the start";
}

double timeWindow(const char* path, uint64_t start, WindowRead& out) {
  const Clock::time_point t0 = Clock::now();
  const bool read = [&] {
    auto file = cdt::openDataFile(path);
    if (file == nullptr) return false;
    cdt::LineWindow window;
    window.host = cdt::firstLineHost(*file);
    if (!cdt::seekToTime(*file, 0).positioned) return false;
    window.start = start;
    window.stop = start + kWindow;
    cdt::LineReader reader(*file, cdt::ColumnPlan{}, window);
    out.jumped = reader.seek().jumped;
    out.resumed = reader.seek().resumedWalk;
    out.lines = 0;
    reader.readGroups([&](const cdt::LineGroup&) { ++out.lines; });
    return true;
  }();
  return read ? millisecondsSince(t0) : -1;
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

  const auto entryAt = [&](unsigned percent) {
    return static_cast<uint32_t>(uint64_t{count - 1} * percent / 100);
  };
  const cdt::WalkReading jumping = cdt::walkReading();
  cdt::WalkReading mapped = jumping;
  mapped.jumpBytes = UINT64_MAX;
  mapped.map = true;
  cdt::WalkReading chunked = mapped;
  chunked.map = false;
  std::printf("  seek after entry      jump  walk: mapped    chunked\n");
  for (const unsigned percent : {10u, 50u, 90u, 100u}) {
    const uint32_t k = entryAt(percent);
    const uint64_t start = index[k].time + 1;
    cdt::WindowSeek seek;
    cdt::setWalkReading(chunked);
    const double streamMs = timeSeek(path, start, seek);
    cdt::setWalkReading(mapped);
    const double mapMs = timeSeek(path, start, seek);
    cdt::setWalkReading(jumping);
    const double jumpMs = timeSeek(path, start, seek);
    if (mapMs < 0 || streamMs < 0 || jumpMs < 0) {
      std::printf("  %7u (%3u %%): not positioned\n", k, percent);
      continue;
    }
    std::printf("  %7u (%3u %%): %8.2f ms %8.1f ms %8.1f ms, %s", k, percent, jumpMs, mapMs,
                streamMs,
                seek.jumped  ? "the entry confirmed near it"
                : seek.entry ? "the entry confirmed from the start"
                             : "no entry used");
    if (seek.indexDisagrees) std::printf(" (the index disagrees at entry %u)", seek.firstBadEntry);
    std::printf("\n");
  }

  // The two windows in turn: each first in a process that kept no state of
  // the file (cold), then again (the best of kRuns).
  const unsigned percents[2] = {10, 90};
  double coldMs[2] = {-1, -1};
  double windowMs[2] = {-1, -1};
  WindowRead cold[2];
  WindowRead warm[2];
  for (int run = 0; run <= kRuns; ++run) {
    for (int i = 0; i < 2; ++i) {
      if (run == 0) cdt::forgetCheckpoints();
      const uint64_t start = index[entryAt(percents[i])].time + 1;
      WindowRead read;
      const double ms = timeWindow(path, start, read);
      if (ms < 0) {
        std::printf("  1 s window at %u %%: cannot be read\n", percents[i]);
        return 1;
      }
      if (run == 0) {
        coldMs[i] = ms;
        cold[i] = read;
      } else if (windowMs[i] < 0 || ms < windowMs[i]) {
        windowMs[i] = ms;
        warm[i] = read;
      }
    }
  }
  for (int i = 0; i < 2; ++i) {
    // A line window jumps only where the records near its entry fix how
    // they group into lines; a stream whose channels come round in the same
    // order throughout groups alike from any start, and the grouping there
    // is known only from a walk from the start, or from a state an earlier
    // walk kept.
    std::printf("  1 s window at %2u %%: %llu lines; first %.1f ms, %s; again %.1f ms, %s\n",
                percents[i], static_cast<unsigned long long>(warm[i].lines), coldMs[i],
                how(cold[i]), windowMs[i], how(warm[i]));
  }
  const double coldRatio = coldMs[0] > 0 ? coldMs[1] / coldMs[0] : 0;
  const double ratio = windowMs[0] > 0 ? windowMs[1] / windowMs[0] : 0;
  std::printf(
      "  target: window at 90 %% %.2f x the one at 10 %% <= %.1f %s (first windows: %.2f x)\n",
      ratio, kTargetRatio, ratio <= kTargetRatio ? "holds" : "FAILS", coldRatio);
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
