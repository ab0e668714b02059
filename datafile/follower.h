// DataFileFollower: the records of a data file while its writer is still
// appending them, each as soon as it is whole in the file.
//
// A recorder writes "NAME.cdt.temp" (header with index fields 0, the
// configuration text, then records back to back) and finishes it by
// appending the index, rewriting the header and renaming it to "NAME.cdt".
// The follower reads what has reached the file, hands out every record
// whose bytes are all there, and waits for more: bytes of a record still
// being written (cut anywhere, its 20-byte header included) are never handed
// out and nothing is allocated for them. Records are checked as the reader
// checks them (datafile/data_file.h); a damaged record ends the records, as
// it ends reading, but the follower still waits for the file's end.
//
// The follow ends when
//   - the writer finished the file: the header (read again through the open
//     file, which keeps its data across the rename) has its index. The
//     records up to the index are handed out as a finished file's reader
//     yields them, and the index is compared with the records handed out
//     (indexAgrees());
//   - the file has not grown for the idle time: the records handed out are
//     then exactly those the reader's salvage mode (ReadMode::Salvage, what
//     `cdt recover` keeps) reads from the file as it stands;
//   - stop() is called (from any thread);
//   - the file turns out not to be a data file, shrinks, its header's
//     fixed fields or its configuration change, or records already handed
//     out change (a writer that starts over in the same file: the first and
//     the last record handed out are read again at each wake-up and at the
//     end): an error (error()).
//
// The followed path may name the ".temp" file or the finished one: a file
// of the other name is taken when the named one does not exist (a recording
// that was finished before the follow began, or has not been renamed yet).
// While neither exists the follower waits for one (the idle time runs).
//
// Waits poll the file with a growing interval (firstPoll doubling up to
// longestPoll, back to firstPoll whenever the file grows); on Linux a change
// in the file's directory ends a wait early (platform/file_watch.h).
//
// Pull-style: next(record, timeout) returns at the latest after `timeout`.
// One thread calls next(); stop() may come from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "config/model.h"
#include "datafile/data_file.h"
#include "datafile/data_record.h"

namespace cdt {

class FileWatch;

struct FollowOptions {
  // Give up once the file has not grown for this long; 0: never.
  std::chrono::milliseconds idle{std::chrono::seconds(60)};
  std::chrono::milliseconds firstPoll{5};
  std::chrono::milliseconds longestPoll{100};
  // Ends the follow as stop() does once the process is interrupted
  // (platform/interrupts.h; the program calls catchInterrupts()).
  bool stopOnInterrupt = false;
};

enum class FollowStatus : uint8_t {
  Record,    // next() handed out a record
  Waiting,   // no record within the timeout; more may come
  Finished,  // the file is finished and every record was handed out
  Idle,      // given up after the idle time; every whole record was handed out
  Stopped,   // stop() was called
  Failed,    // the file cannot be followed; error() tells why
};

// Whether the follow has ended: Finished, Idle, Stopped or Failed.
inline bool followEnded(FollowStatus status) {
  return status != FollowStatus::Record && status != FollowStatus::Waiting;
}

enum class FollowError : uint8_t {
  None,
  CannotOpen,          // the path names something that is not a readable regular file
  NotDataFile,         // the magic words are wrong
  EmptyConfiguration,  // configLength (low 32 bits) is 0
  Shrank,              // the file is now shorter than the bytes already read
  Changed,             // the header's fixed fields or the configuration changed
  IoError,             // a read failed
  Rewritten,           // bytes of records already handed out changed
};

// A short lower-case description ("the file shrank", ...).
const char* followErrorText(FollowError error);

class DataFileFollower {
 public:
  explicit DataFileFollower(std::string path, const FollowOptions& options = {});
  ~DataFileFollower();
  DataFileFollower(const DataFileFollower&) = delete;
  DataFileFollower& operator=(const DataFileFollower&) = delete;

  // The next whole record (status Record, `record` set), or why there is
  // none: Waiting once `timeout` has passed without one, or how the follow
  // ended (returned again by every later call). A timeout of 0 only looks at
  // what the file holds now.
  FollowStatus next(RecordRef& record, std::chrono::milliseconds timeout);

  // Waits until the header and the configuration are read: Record once they
  // are (hasConfiguration()), else as next() says. Reads no record.
  FollowStatus waitForConfiguration(std::chrono::milliseconds timeout) {
    return pump(nullptr, timeout);
  }

  // Ends the follow: the next() running or to come returns Stopped within
  // about longestPoll. Thread-safe.
  void stop() { stopping_.store(true, std::memory_order_relaxed); }

  // Whether the header and the configuration have been read. Until then
  // header() and configuration() are empty.
  bool hasConfiguration() const { return configured_; }
  const DataFileHeader& header() const { return header_; }
  const Configuration& configuration() const { return configuration_; }
  bool configurationParsed() const { return configurationParsed_; }
  // The file being read (the named path or its other name).
  const std::string& openPath() const { return openPath_; }

  FollowError error() const { return error_; }
  // Where the records ended and why (as DataFile::lastReadStatus() after a
  // none): EndOfRecords at the end of the records or of the file, else the
  // damage and the record's offset. Ok until the records end (a damaged
  // record ends them at once, since bytes written are never written again).
  DataFileReport stopReport() const { return stopReport_; }
  // Finished: whether the stored index is the one the records handed out
  // make (datafile/index_check.h tells the rule). True until checked.
  bool indexAgrees() const { return indexAgrees_; }

  // Records handed out and the end of the last one.
  uint64_t records() const { return records_; }
  uint64_t position() const { return position_; }
  // The file's size at the last look.
  uint64_t fileSize() const { return fileSize_; }

 private:
  enum class Phase : uint8_t { Opening, Following, Finishing, Salvaging, Ended };
  enum class Parse : uint8_t { Record, NeedMore, Held, Damaged, End };

  // next(), or with `record` nullptr waitForConfiguration().
  FollowStatus pump(RecordRef* record, std::chrono::milliseconds timeout);
  FollowStatus end(FollowStatus status);
  FollowStatus fail(FollowError error);
  // Opens the file and reads its header and configuration once they are
  // there; false while they are not (or on failure, with the phase Ended).
  bool open();
  // The file's size now; false (and Failed) when it shrank below what was read.
  bool refreshSize();
  // Reads the header again; sets Finishing when the writer finished the
  // file. False when its fixed fields changed (Failed).
  bool checkHeader();
  bool configurationUnchanged();
  Parse parse(RecordRef& record);
  void confirmIndex();
  // Whether the first and the last record handed out still hold the bytes
  // they were read with; false (Failed, Rewritten) when not.
  bool handedOutUnchanged();
  bool readAt(uint64_t offset, void* into, std::size_t size);
  // The `size` bytes at `offset` (at most kChunkSize), from the chunk
  // buffer, refilled as needed; nullptr when they cannot be read.
  const unsigned char* bytesAt(uint64_t offset, std::size_t size);

  std::string path_;
  std::string otherPath_;
  std::string openPath_;
  FollowOptions options_;
  std::unique_ptr<FileWatch> watch_;
  std::FILE* file_ = nullptr;
  std::atomic<bool> stopping_{false};

  Phase phase_ = Phase::Opening;
  FollowStatus ended_ = FollowStatus::Waiting;
  FollowError error_ = FollowError::None;
  DataFileReport stopReport_;
  bool indexAgrees_ = true;

  bool configured_ = false;
  bool configurationParsed_ = false;
  DataFileHeader header_;
  std::string configText_;
  Configuration configuration_;

  uint64_t fileSize_ = 0;
  uint64_t position_ = 0;
  uint64_t recordsEnd_ = 0;      // Finishing: the header's indexOffset
  uint64_t rawIndexOffset_ = 0;  // as the header said at the last look
  uint64_t records_ = 0;
  // The first record's index entry: bytes that repeat it right after the
  // records are the start of an index being appended.
  uint64_t firstTime_ = 0;
  uint64_t firstEnd_ = 0;
  // Where the first and the last record handed out lie, and a digest of
  // their bytes as they were read.
  struct Consumed {
    uint64_t start = 0;
    uint64_t size = 0;
    uint64_t digest = 0;
  };
  Consumed first_;
  Consumed last_;
  // The index the records handed out make: its count, last time, and a
  // digest of its entries.
  uint64_t indexCount_ = 0;
  uint64_t indexLastTime_ = 0;
  uint64_t indexDigest_ = 0;

  std::unique_ptr<unsigned char[]> chunk_;
  uint64_t chunkStart_ = 0;
  std::size_t chunkLength_ = 0;

  std::chrono::steady_clock::time_point lastGrowth_;
  std::chrono::steady_clock::time_point configCheckedAt_;
  std::chrono::milliseconds interval_{0};
};

}  // namespace cdt
