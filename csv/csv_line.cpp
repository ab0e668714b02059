#include "csv/csv_line.h"

#include <algorithm>
#include <cstring>

#include "csv/number_format.h"

namespace cdt {

namespace {

// The encoding's head. Slots without a record, and slots without a probe,
// have kNoLineRecord as their entry count and contribute no entries.
constexpr std::size_t kHeadTime = 0;         // u64 time of the group's first record
constexpr std::size_t kHeadStart = 8;        // u64 start revolution
constexpr std::size_t kHeadEnd = 16;         // u64 end revolution as the End Rev cell shows it
constexpr std::size_t kHeadSpeed = 24;       // f32 speed
constexpr std::size_t kHeadSync = 28;        // u32 0 or 1
constexpr std::size_t kHeadSlotCounts = 32;  // u32 entries copied, per slot
constexpr std::size_t kHeadSlotRms = 48;     // f32 rms, per slot
static_assert(kHeadSlotRms + 4 * kChannelsPerHost == kEncodedLineHeadSize);
// Then, slot by slot, the copied entries: f32 dns, f32 toa.
constexpr std::size_t kCopiedEntrySize = 8;

template <class T>
T load(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T>
void store(unsigned char* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// Room for one cell: the separator and the longest number a formatter may
// write, scratch bytes included.
constexpr std::size_t kCellRoom = 1 + kNumberRoom;
static_assert(kNumberRoom >= kMaxTimeCellLength && kNumberRoom >= kMaxU64Length &&
              kNumberRoom >= kMaxG8Length);
// The five leading cells.
constexpr std::size_t kLeadRoom = 5 * kCellRoom;
static_assert(kLeadRoom <= LineSink::kMinCapacity);

}  // namespace

std::size_t encodedLineSize(const LineLayout& layout, const LineGroup& group) {
  std::size_t size = kEncodedLineHeadSize;
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    const uint32_t used = usedBladeEntries(layout, group, slot);
    if (used != kNoLineRecord) size += std::size_t{used} * kCopiedEntrySize;
  }
  return size;
}

unsigned char* encodeLine(unsigned char* out, const LineLayout& layout, const LineGroup& group) {
  const DataRecord& first = *group.first;
  const uint64_t start = bladeStartRevolution(first);
  store<uint64_t>(out + kHeadTime, first.time());
  store<uint64_t>(out + kHeadStart, start);
  store<uint64_t>(out + kHeadEnd, isRevolutionRange(first) ? bladeEndRevolution(first) : start);
  store<float>(out + kHeadSpeed, bladeSpeed(first));
  store<uint32_t>(out + kHeadSync, bladeSync(first) != 0 ? 1 : 0);
  unsigned char* entries = out + kEncodedLineHeadSize;
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    const uint32_t used = usedBladeEntries(layout, group, slot);
    store<uint32_t>(out + kHeadSlotCounts + 4 * slot, used);
    if (used == kNoLineRecord) {
      store<float>(out + kHeadSlotRms + 4 * slot, 0.0f);
      continue;
    }
    const DataRecord& record = *group.slots[slot];
    store<float>(out + kHeadSlotRms + 4 * slot, bladeRms(record));
    const uint32_t stride = bladeEntrySize(record);
    const unsigned char* from = record.body() + bladeEntriesOffset(record);
    if (stride == kCopiedEntrySize && kBladeDns == 0 && kBladeToa == 4) {
      // One-revolution entries are already dns, toa.
      std::memcpy(entries, from, std::size_t{used} * kCopiedEntrySize);
      entries += std::size_t{used} * kCopiedEntrySize;
    } else {
      for (uint32_t j = 0; j < used; ++j, from += stride, entries += kCopiedEntrySize) {
        std::memcpy(entries, from + kBladeDns, 4);
        std::memcpy(entries + 4, from + kBladeToa, 4);
      }
    }
  }
  return entries;
}

void LineSink::drain() {
  if (cursor_ != begin_) drain_(context_, begin_, static_cast<std::size_t>(cursor_ - begin_));
  cursor_ = begin_;
}

// Writes through a local cursor, which the compiler can keep in a register
// across the formatter calls; the sink sees it again when drained and at the
// end.
class LineWriter {
 public:
  explicit LineWriter(LineSink& sink) : sink_(sink), out_(sink.cursor_), limit_(sink.limit_) {}
  ~LineWriter() { sink_.cursor_ = out_; }
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // Makes room for `n` bytes (n at most LineSink::kMinCapacity).
  void reserve(std::size_t n) {
    if (static_cast<std::size_t>(limit_ - out_) < n) {
      sink_.cursor_ = out_;
      sink_.drain();
      out_ = sink_.cursor_;
    }
  }
  char*& out() { return out_; }

  void putRepeated(char c, std::size_t n) {
    while (n > 0) {
      if (out_ == limit_) reserve(1);
      const std::size_t piece = std::min(n, static_cast<std::size_t>(limit_ - out_));
      std::memset(out_, c, piece);
      out_ += piece;
      n -= piece;
    }
  }

  // ",%.8g" of each of `count` entries' floats at `offset`.
  void putFloats(const unsigned char* entries, uint32_t count, std::size_t offset) {
    if (static_cast<std::size_t>(limit_ - out_) >= floatCellsRoom(count)) {
      out_ = formatFloatCellsG8(out_, entries + offset, count, kCopiedEntrySize);
      return;
    }
    // Near the end of the buffer: cell by cell, draining when needed.
    char* out = out_;
    const char* limit = limit_;
    const unsigned char* p = entries + offset;
    for (uint32_t j = 0; j < count; ++j, p += kCopiedEntrySize) {
      if (static_cast<std::size_t>(limit - out) < kCellRoom) {
        out_ = out;
        reserve(kCellRoom);
        out = out_;
      }
      *out++ = ',';
      out = formatG8(out, load<float>(p));
    }
    out_ = out;
  }

 private:
  LineSink& sink_;
  char* out_;
  char* limit_;
};

void formatLines(const LineLayout& layout, const unsigned char* data, std::size_t size,
                 LineSink& sink) {
  LineWriter w(sink);
  const unsigned char* const end = data + size;
  while (data < end) {
    const unsigned char* head = data;
    w.reserve(kLeadRoom);
    char* out = w.out();
    out = formatTimeCell(out, load<uint64_t>(head + kHeadTime));
    *out++ = ',';
    out = formatG6(out, load<float>(head + kHeadSpeed));
    if (load<uint32_t>(head + kHeadSync) != 0) {
      std::memcpy(out, ",Yes,", 5);
      out += 5;
    } else {
      std::memcpy(out, ",No,", 4);
      out += 4;
    }
    out = formatU64(out, load<uint64_t>(head + kHeadStart));
    *out++ = ',';
    out = formatU64(out, load<uint64_t>(head + kHeadEnd));
    w.out() = out;

    const unsigned char* entries = head + kEncodedLineHeadSize;
    const std::size_t perBlade = layout.withTimeOfArrival ? 2 : 1;
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      if (!layout.hasProbe[slot]) continue;
      const uint32_t blades = layout.blades[slot];
      const uint32_t used = load<uint32_t>(head + kHeadSlotCounts + 4 * slot);
      if (used == kNoLineRecord) {
        w.putRepeated(',', 2 + std::size_t{blades} * perBlade);
        continue;
      }
      // The mean adds the entries in blade order in double precision.
      double sum = 0;
      for (uint32_t j = 0; j < used; ++j) {
        sum += load<float>(entries + std::size_t{j} * kCopiedEntrySize);
      }
      w.reserve(2 * kCellRoom);
      out = w.out();
      *out++ = ',';
      out = formatG8(out, load<float>(head + kHeadSlotRms + 4 * slot));
      *out++ = ',';
      if (used > 0) out = formatDoubleG8(out, sum / used);
      w.out() = out;
      w.putFloats(entries, used, 0);
      w.putRepeated(',', blades - used);
      if (layout.withTimeOfArrival) {
        w.putFloats(entries, used, 4);
        w.putRepeated(',', blades - used);
      }
      entries += std::size_t{used} * kCopiedEntrySize;
    }
    w.reserve(1);
    *w.out()++ = '\n';
    data = entries;
  }
}

}  // namespace cdt
