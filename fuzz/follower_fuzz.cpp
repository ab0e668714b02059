// Follows arbitrary bytes as a data file that grows: the bytes are appended
// to the scratch file in pieces of sizes drawn from the input itself (cut
// anywhere, record headers included), and after each piece the follower
// takes what it hands out at once. What must hold for any input: a record
// is handed out only once all its bytes are in the file, and the records
// handed out in all are exactly those a reader of the whole file yields:
// the reader's normal mode when the follow ends with the file finished, its
// salvage mode (what `cdt recover` keeps) when it gives up; a follow that
// fails hands out nothing and is a file no reader can open.
//
// The bytes are written to one scratch file (fuzz/scratch_input.h).
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "datafile/data_file.h"
#include "datafile/follower.h"
#include "fuzz/scratch_input.h"

namespace {

using namespace cdt;
using namespace std::chrono_literals;

void check(bool condition) {
  if (!condition) std::abort();
}

using Records = std::vector<std::string>;

std::string bytesOf(const RecordRef& r) {
  return {reinterpret_cast<const char*>(r->fileBytes()), r->fileSize()};
}

Records readWhole(const std::string& path, ReadMode mode, bool& opened) {
  DataFileReport report;
  std::unique_ptr<DataFile> file = openDataFile(path.c_str(), report, mode);
  Records records;
  opened = file != nullptr;
  if (file == nullptr) return records;
  while (RecordRef r = readNextRecord(*file)) records.push_back(bytesOf(r));
  return records;
}

void appendBytes(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
  check(fd >= 0);
  for (size_t done = 0; done < size;) {
    const ssize_t n = write(fd, data + done, size - done);
    check(n > 0);
    done += static_cast<size_t>(n);
  }
  check(close(fd) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = fuzzing::scratchInputPath("cdt-follower-fuzz");
  fuzzing::writeScratchInput(path, data, 0);
  FollowOptions options;
  options.idle = 1ms;
  options.firstPoll = 1ms;
  options.longestPoll = 1ms;
  DataFileFollower follower(path, options);

  // Piece sizes from a generator seeded by the input.
  uint64_t state = 0x9E3779B97F4A7C15ull ^ size;
  for (size_t i = 0; i < size && i < 64; ++i) state = state * 31 + data[i];
  Records seen;
  FollowStatus status = FollowStatus::Waiting;
  for (size_t done = 0; done < size && !followEnded(status);) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    const size_t piece = 1 + static_cast<size_t>((state >> 33) % ((state >> 60) < 4 ? 24 : 700));
    const size_t n = piece < size - done ? piece : size - done;
    appendBytes(path, data + done, n);
    done += n;
    for (;;) {
      RecordRef r;
      status = follower.next(r, 0ms);
      if (status != FollowStatus::Record) break;
      // Only whole records, within the bytes written so far.
      check(follower.position() <= done);
      seen.push_back(bytesOf(r));
    }
  }
  while (!followEnded(status)) {
    RecordRef r;
    status = follower.next(r, 100ms);
    if (r) seen.push_back(bytesOf(r));
  }

  bool opened = false;
  if (status == FollowStatus::Finished) {
    check(seen == readWhole(path, ReadMode::Normal, opened));
    check(opened);
  } else if (status == FollowStatus::Idle) {
    check(seen == readWhole(path, ReadMode::Salvage, opened));
  } else {
    check(status == FollowStatus::Failed);
    check(seen.empty());
    (void)readWhole(path, ReadMode::Salvage, opened);
    check(!opened);
  }
  return 0;
}
