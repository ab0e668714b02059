// DataFile: one data file opened for reading (openDataFile) or being written
// (createDataFile). The byte layout is in datafile/format.h.
//
// Reading streams: the open checks the header against the real file size,
// parses the embedded configuration and stands at the first record; each
// readNextRecord then reads one record. Memory use does not grow with the
// file: the index is read only when seekToIndexEntry first needs it. The first
// reason reading stopped (end of records, a damaged record, an I/O error) is
// kept with its file offset, for diagnostics.
//
// Writing goes to the final path with ".temp" appended; closeDataFile appends
// the index, completes the header and renames the file to its final path.
//
// A DataFile belongs to one thread at a time. Records it yields are
// reference-counted and may outlive it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "config/model.h"
#include "datafile/data_record.h"
#include "datafile/format.h"
#include "foundation/counted_string.h"
#include "foundation/element_kinds.h"
#include "foundation/file_stream.h"

namespace cdt {

// The 56-byte file header, decoded.
struct DataFileHeader {
  uint32_t magic1 = 0;
  uint32_t magic2 = 0;
  uint64_t configOffset = 0;
  uint64_t configLength = 0;  // readers use the low 32 bits
  uint64_t dataOffset = 0;
  uint64_t indexOffset = 0;  // end of the records; 0 while the file is written
  uint64_t indexEnd = 0;     // 0 while the file is written
  int64_t timeZoneBias = 0;  // microseconds, UTC minus local time of the writer
};

DataFileHeader decodeFileHeader(const unsigned char (&bytes)[kFileHeaderSize]);
void encodeFileHeader(const DataFileHeader& header, unsigned char (&bytes)[kFileHeaderSize]);

// The position where records start after a configuration text of `length`
// bytes: the end of the text rounded up to a multiple of kDataAlignment.
constexpr uint64_t dataOffsetFor(uint64_t configLength) {
  return (kFileHeaderSize + configLength + kDataAlignment - 1) & ~uint64_t{kDataAlignment - 1};
}

// One index entry, decoded: a record's time and the position just past it.
struct IndexEntry {
  uint64_t time = 0;
  uint64_t position = 0;
};
static_assert(sizeof(IndexEntry) == kIndexEntrySize);
using IndexArray = CountedArray<IndexEntry, &IndexEntryOps>;

// The first stored index entry that the records contradict.
struct IndexDisagreement {
  uint32_t entry = 0;
  // The stored entry; none when the index ends before the records make that
  // entry.
  std::optional<IndexEntry> stored;
  // The entry the records make; none when the records end (cleanly) before
  // making it.
  std::optional<IndexEntry> expected;
};

class IndexWalk;
class RecordHeadObserver;
struct PlannedSeek;

// Where seekToTime left reading.
struct WindowSeek {
  // False only for a file that cannot be read (being written, not open, an
  // I/O error); reading then stays where it was.
  bool positioned = false;
  // The confirmed index entry after whose record reading resumes; none when
  // reading resumes at the start of the records or where the walk stopped.
  std::optional<uint32_t> entry;
  // The index disagrees with the records: reading resumes where the walk
  // over the record headers found the first record of the window (or a
  // damaged record, or the end of the records) instead of at an entry.
  bool indexDisagrees = false;
  uint32_t firstBadEntry = 0;  // when indexDisagrees
  // Reading resumes at `entry`, confirmed by the records of a short stretch
  // before it (from a few entries back) rather than by every record from the
  // start: the index is trusted for the records before that stretch, which
  // were not read (a damaged record there goes unseen).
  bool jumped = false;
  // The walk with an observer began where an earlier walk of the file (in
  // this process) kept the observer's state, not at the first record.
  bool resumedWalk = false;
};

// Why an open failed or where and why reading stopped.
enum class DataFileStatus : uint8_t {
  Ok,
  // Opening.
  CannotOpen,            // no such file, no permission, or not a regular file
  ShortHeader,           // fewer than 56 bytes
  BadMagic,              // not a data file
  EmptyConfiguration,    // configLength (low 32 bits) is 0
  ConfigurationPastEnd,  // the configuration block runs past the end of the file
  IndexReversed,         // indexEnd lies before indexOffset
  IndexPastEnd,          // the index runs past the end of the file
  // Reading records.
  EndOfRecords,  // the next record would start at or after indexOffset
  CutRecord,     // a record runs past indexOffset or the end of the file, or has no body
  BadType,       // record type above 3
  BadSize,       // record size not a multiple of 4
  NotReadable,   // the file is being written, or is not open
  // Either.
  IoError,  // a read or seek failed for another reason
};

// A short lower-case description ("end of records", "record cut short", ...).
const char* dataFileStatusText(DataFileStatus status);

struct DataFileReport {
  DataFileStatus status = DataFileStatus::Ok;
  uint64_t offset = 0;  // the file position the status refers to
};

// How the writing constructor creates its ".temp" file.
enum class CreateMode : uint8_t {
  // An existing file of that name is truncated and written over.
  Replace,
  // The file must not exist yet: creation fails on any existing name, a
  // symbolic link included (which is never followed), so nothing but a new
  // file is ever written.
  Exclusive,
  // An existing file is opened for update and written over from its start
  // without being truncated first (what a writer that starts over in its
  // file does); creation fails when there is none.
  Update,
};

// Where the reading constructor takes the records to end.
enum class ReadMode : uint8_t {
  // At indexOffset, as the format states: a file still being written (index
  // fields 0) yields no records, and a header whose index does not fit the
  // file fails the open.
  Normal,
  // For recovering what a recorder left behind: when the header has no index
  // (indexOffset 0) or its index does not fit the file, the records run to
  // indexOffset if that lies within the file, else to the end of the file as
  // it was when opened, and the index is taken as empty. Every record is still
  // checked as in Normal mode, so reading stops at the first damaged one.
  Salvage,
};

class DataFile {
 public:
  // Reading constructor: opens `path` and checks it. Test isOpen(); on
  // failure openReport() tells why and the stream is closed again.
  explicit DataFile(const char* path, ReadMode mode = ReadMode::Normal);
  // Writing constructor: creates `path` + ".temp" (and missing directories)
  // and writes the header and the configuration text. Test isOpen().
  // `streamBuffer`, when not 0, is the size of the stream's buffer: the file
  // then grows by about that many bytes whenever it fills, wherever records
  // begin and end (a live writer's pieces; flushDataFile writes out the rest).
  DataFile(const Configuration& configuration, const char* path,
           CreateMode create = CreateMode::Replace, std::size_t streamBuffer = 0);
  // closeDataFile, ignoring its result.
  ~DataFile();

  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;

  bool isOpen() const { return stream_.isOpen(); }
  bool isWriting() const { return writing_; }
  // The file actually open: for a file being written, the ".temp" path.
  const CountedString& path() const { return stream_.path(); }

  // As read from the file, or as being written (index fields 0 until closed).
  const DataFileHeader& header() const { return header_; }
  // The embedded configuration; for a file being written, a copy of the one
  // it was created with. Owned by the DataFile and valid as long as it.
  const Configuration& configuration() const { return configuration_; }
  Configuration& configuration() { return configuration_; }
  // Whether the configuration block parsed without a failed structural line
  // (an open file keeps whatever the parser produced either way).
  bool configurationParsed() const { return configurationParsed_; }

  // Reading: the position where the records end (indexOffset, unless the
  // file was opened in ReadMode::Salvage). Writing: 0.
  uint64_t recordsEnd() const { return recordsEnd_; }

  // Ok, or why the reading constructor failed.
  DataFileReport openReport() const { return openReport_; }
  // Ok with the position of the next record while reading goes on; after
  // readNextRecord yielded none, the reason and the offset of the record (or
  // position) where reading stopped. Reset by a successful seekToIndexEntry.
  DataFileReport lastReadStatus() const { return readReport_; }

  // Reading: the number of entries the header announces. Writing: the
  // entries collected so far.
  uint32_t indexEntryCount() const;
  // The index in memory. While reading it is read on the first call (the
  // reading position is kept); false when it cannot be read or held, with
  // the index left empty. Writing: always true.
  [[nodiscard]] bool loadIndex();
  // Empty until loadIndex; the entries stay valid until closeDataFile (or,
  // while writing, until the next writeRecord).
  const IndexArray& index() const { return index_; }
  // The first index entry that the records seen by seekToIndexEntry and
  // seekToTime contradict; none while they agree (or none was checked).
  std::optional<IndexDisagreement> indexDisagreement() const;

 private:
  friend RecordRef readNextRecord(DataFile& file);
  friend bool seekToIndexEntry(DataFile& file, uint32_t k);
  friend WindowSeek seekToTime(DataFile& file, uint64_t start);
  friend WindowSeek seekToTime(DataFile& file, uint64_t start, RecordHeadObserver& observer);
  friend bool planSeeks(DataFile& file, const std::vector<uint64_t>& starts,
                        RecordHeadObserver& observer,
                        const std::function<void(std::size_t, const PlannedSeek&)>& at);
  friend bool resumeAt(DataFile& file, const PlannedSeek& seek);
  friend bool writeRecord(DataFile& file, const DataRecord& record);
  friend bool closeDataFile(DataFile& file);
  friend bool flushDataFile(DataFile& file);
  friend bool abandonDataFile(DataFile& file);

  void openForReading(const char* path, ReadMode mode);
  void useLargeReadBuffer();
  void failOpen(DataFileStatus status, uint64_t offset);
  RecordRef readRecord();
  RecordRef stopReading(DataFileStatus status, uint64_t offset);
  // The header walk of the index checks (datafile/index_walk.cpp), made on
  // first use; false when the index cannot be loaded for it.
  IndexWalk* indexWalk();
  // Moves reading to `position`; false (reading unchanged) when the seek fails.
  bool moveTo(uint64_t position);
  // Both seekToTime; with an observer the walk starts afresh.
  WindowSeek seekWindow(uint64_t start, RecordHeadObserver* observer);
  // A walk that has confirmed entry k from a few entries before it, for a
  // window from `start`, with `observer` settled by the records it showed
  // (when given); nullptr when the records there disagree with the index,
  // the observer cannot settle, or a read fails (the observer then backed
  // out). Only the header walk's stretch is read.
  std::unique_ptr<IndexWalk> jumpWalk(uint32_t k, uint64_t start, RecordHeadObserver* observer);
  // `cut` for a read that met the end of the file, IoError for a failed one.
  DataFileStatus shortRead(DataFileStatus cut);

  void createForWriting(const Configuration& configuration, const char* path, CreateMode create,
                        std::size_t streamBuffer);
  bool write(const void* bytes, uint64_t size);
  bool finishWriting();

  // The stream's buffer when reading a file larger than it; declared before
  // the stream so that it outlives it.
  std::unique_ptr<char[]> readBuffer_;
  FileStream stream_;
  DataFileHeader header_;
  Configuration configuration_;
  bool writing_ = false;
  bool configurationParsed_ = false;
  // Any write since creation failed (reported by closeDataFile).
  bool writeFailed_ = false;
  IndexArray index_;
  // Entries announced by the header (reading).
  uint32_t indexCount_ = 0;
  // End of the records (reading).
  uint64_t recordsEnd_ = 0;
  // Start of the next record (reading) or end of the last one (writing).
  uint64_t position_ = 0;
  DataFileReport openReport_;
  DataFileReport readReport_;
  std::unique_ptr<IndexWalk> walk_;
};

// Opens and checks a data file; nullptr when that fails (missing file, not a
// data file, a header whose sizes do not fit the file, an I/O error). The
// second form also tells why (Ok on success).
[[nodiscard]] std::unique_ptr<DataFile> openDataFile(const char* path);
[[nodiscard]] std::unique_ptr<DataFile> openDataFile(const char* path, DataFileReport& report,
                                                     ReadMode mode = ReadMode::Normal);

// The next record in file order, or none: at the end of the records, at a
// damaged or cut record, on an I/O error, and for a file being written. The
// caller holds the record's only reference. After a none every further call
// yields none too; lastReadStatus() tells why. Nothing larger than the bytes
// the file still holds before its index is ever allocated.
[[nodiscard]] RecordRef readNextRecord(DataFile& file);

// Seeks through the index are checked against the records, so that a
// damaged or lying index can make a read slower but never change what it
// yields. The check walks the record headers from the start of the records
// (20 bytes each; bodies are stepped over, nothing is allocated) and rebuilds
// the index the writer makes for them (datafile/index_check.h). An entry is
// confirmed when the rebuilt entry of its number agrees with it in time and
// position, and every entry before it is confirmed too; the position is then
// a record boundary inside the records, the record ending there has the
// entry's time, and no damaged record lies before it. What the walk has
// checked is kept, so a later seek walks on only from where it stopped.

// Moves the reading position to the end of the record of index entry k, so
// that the next readNextRecord yields the record after it, once the records
// confirm entry k. False, with the position unchanged, for a file being
// written, for k at or past the number of entries, when the index cannot be
// read, when the records contradict entry k or an entry before it
// (indexDisagreement() tells which), when a damaged record lies before entry
// k's position, or when the seek itself fails.
[[nodiscard]] bool seekToIndexEntry(DataFile& file, uint32_t k);

// Positions reading for the records from `start` on: the records
// readNextRecord yields from here, kept when their time is at or after
// `start`, are exactly those a read from the start of the records keeps, and
// reading stops at the same damaged record with the same status. No earlier
// record is dropped that a read from the start would keep, none is added, and
// none from beyond a damaged record appears. Reading resumes after the last
// confirmed entry before `start` (or at the start of the records when no
// entry lies before it); when the index disagrees with the records, the
// walk goes on by itself to the first record at or after `start`.
//
// A walk from the start costs a pass over every record header before the
// window. Where the entry lies far into the file (WalkReading::jumpBytes),
// the seek first jumps: it walks only from the entry a few entries before
// (4, then 64 when the observer has not settled) to its own, and keeps the
// jump when those records parse, chain from one entry's position to the
// next and rebuild exactly the stored entries in between (times and
// positions). The records before that stretch are then trusted to be what
// the index says: a lying index is caught wherever its lie touches the
// stretch, and any disagreement there falls back to the walk from the start;
// a damaged record or a lie wholly before the stretch goes unseen
// (WindowSeek::jumped says the seek jumped).
// There is no bound for the end of a window: a later record may carry an
// earlier time, so an exact window read goes on to the end of the records.
[[nodiscard]] WindowSeek seekToTime(DataFile& file, uint64_t start);

// What a reader that keeps state across records (the grouping of blade
// records into lines, say) needs to resume at a seek's position: every record
// before it, seen without being read. `head` holds the record's first
// kRecordHeadBytes file bytes; the size field says how many it has in all.
inline constexpr uint32_t kRecordHeadBytes = kRecordHeaderSize + 4;
class RecordHeadObserver {
 public:
  virtual ~RecordHeadObserver() = default;
  virtual void record(const unsigned char* head) = 0;

  // A seek may jump: show only the records after a confirmed entry, a few
  // entries before its own. It first calls jumped() with the latest record
  // time before them (the entry's); an observer that cannot take up its
  // state from such a stretch returns false (the default) and is shown
  // every record from the start instead. After the stretch the seek keeps
  // the jump only if settled() says the records shown fixed the observer's
  // state; otherwise, or when it gives the jump up for any other reason, it
  // calls backOut(), which puts back the state the observer had before
  // jumped().
  virtual bool jumped(uint64_t latestTime) {
    (void)latestTime;
    return false;
  }
  virtual bool settled() const { return false; }
  virtual void backOut() {}

  // A walk shown from the start of the records keeps the observer's state
  // after the records of some of the index entries it confirms (one per
  // WalkReading::jumpBytes of records), process-wide, for the file as it is
  // now (device, file number, size, modification time and header). A later
  // walk of that file, in any DataFile of the process, with an observer of
  // the same key, begins at the nearest kept state before its goal instead
  // of at the first record: resumeFrom() is called with it, and the observer
  // must then stand exactly where it would after seeing every record before.
  // An observer without a key (the default) is always shown every record.
  using Checkpoint = std::array<uint64_t, 4>;
  virtual std::optional<uint64_t> checkpointKey() const { return std::nullopt; }
  virtual Checkpoint checkpoint() const { return {}; }
  virtual void resumeFrom(const Checkpoint& state) { (void)state; }
};
// seekToTime that shows `observer`, in file order, every record before the
// position where reading resumes, from the start of the records, or from a
// state kept by an earlier walk of the file (see RecordHeadObserver), or,
// when the seek jumps, from a few index entries before its entry. A walk
// from the start steps over the records' bodies whatever earlier seeks
// walked, so the first such seek of a file costs a pass over the bytes
// before the window; the records from the window on are read as usual.
[[nodiscard]] WindowSeek seekToTime(DataFile& file, uint64_t start, RecordHeadObserver& observer);

// Where seekToTime(file, start, observer) resumes reading, found ahead of
// time: the record offset and what the seek would report.
struct PlannedSeek {
  uint64_t offset = 0;
  WindowSeek seek;
};
// For each of `starts` in turn (increasing), calls `at(i, planned)` with
// where seekToTime(file, starts[i], observer) would resume, `observer`
// having been shown exactly the records before that offset, as the seek
// shows them: one walk over the record heads serves them all. A start that
// would resume before the walk's position (an index that is not in order) is
// not planned: `at` is not called for it. False when the file cannot be
// read (reading then stays where it was).
[[nodiscard]] bool planSeeks(DataFile& file, const std::vector<uint64_t>& starts,
                             RecordHeadObserver& observer,
                             const std::function<void(std::size_t, const PlannedSeek&)>& at);
// Moves reading to a planned seek's offset, as the seek would have left it;
// false (reading unchanged) when the offset lies outside the records or the
// seek fails.
[[nodiscard]] bool resumeAt(DataFile& file, const PlannedSeek& seek);

// Creates `path` + ".temp" (missing directories included) holding the header
// and the configuration text; nullptr when the file cannot be created.
[[nodiscard]] std::unique_ptr<DataFile> createDataFile(const Configuration& configuration,
                                                       const char* path,
                                                       CreateMode create = CreateMode::Replace,
                                                       std::size_t streamBuffer = 0);
// createDataFile on "<directory>/<baseName>.YYYY-MM-DD.hh-mm-ss.cdt" with the
// UTC calendar fields of `time` (microseconds since 1970).
[[nodiscard]] std::unique_ptr<DataFile> createTimestampedDataFile(
    const Configuration& configuration, const char* directory, const char* baseName, uint64_t time);

// Appends the record's file bytes and adds an index entry when its time is
// later than the last entry's. False, and no entry, when the write fails or the
// file is not being written.
[[nodiscard]] bool writeRecord(DataFile& file, const DataRecord& record);

// Writes what the stream of a file being written buffers out to the file,
// so that readers following it see every record written so far. False when
// the file is not being written or the write fails.
[[nodiscard]] bool flushDataFile(DataFile& file);

// Stops writing a file without finishing it, as a recorder that ends
// without closing its file leaves it: what was written reaches the file,
// which keeps the header's index fields 0, no index and its ".temp" name.
// False when the file is not being written or the last write fails.
[[nodiscard]] bool abandonDataFile(DataFile& file);

// Ends the file's use; the object stays allocated and can be closed again.
// A file being written is finished first: index appended, header rewritten,
// stream closed, ".temp" renamed away. Then the index is released and the
// stream closed. False when finishing a written file failed anywhere (a write,
// the close or the rename) or an earlier write had failed; true otherwise.
[[nodiscard]] bool closeDataFile(DataFile& file);

}  // namespace cdt
