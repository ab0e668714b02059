// LinePipeline: formats encoded CSV lines (csv/csv_line.h) into a stream in
// batches. Lines are added one by one into the batch being filled; a full
// batch goes to a worker thread, which formats it into a free text buffer,
// hands the text to a queue that writes the texts in batch order and takes
// the next batch at once. Whichever worker queues the text that is next in
// order writes it, and the texts queued behind it. So the stream receives the
// lines in the order they were added while several batches are formatted at
// once, no worker waits for another to finish its batch, and a batch can be
// filled again as soon as it is formatted. A batch whose text overflows its
// buffer (a line larger than a batch, or lines of mostly empty cells) is the
// exception: its worker waits for the batch's turn and writes the text out in
// pieces. With no workers the adding thread formats each batch itself when it
// is full.
//
// Memory is fixed: a few batches (workers + 2), each an encoding buffer that
// grows only as far as one line needs (kMaxEncodedLineSize at most), and as
// many text buffers of kTextCapacity bytes; nothing depends on the number of
// lines. A worker takes a batch only together with a free text buffer, so
// when the writes fall behind the workers wait for them.
//
// One thread adds lines and finishes; the workers are the pipeline's own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "csv/csv_line.h"

namespace cdt {

class LinePipeline {
 public:
  // Encoded bytes at which a batch is handed on.
  static constexpr std::size_t kBatchTarget = 128 * 1024;
  // Text buffered per batch before it must be written out.
  static constexpr std::size_t kTextCapacity = 512 * 1024;

  // Worker threads to use on this machine: one per core up to four, none on
  // a single core.
  static unsigned defaultWorkers();

  // Writes to `stream`, which must stay open until finish() returned and
  // take no other writes meanwhile. `workers` 0 formats on the adding thread.
  // The threads start only when the first batch is full, so a short file
  // never starts any.
  LinePipeline(std::FILE* stream, const LineLayout& layout, unsigned workers);
  // Finishes if finish() was not called.
  ~LinePipeline();
  LinePipeline(const LinePipeline&) = delete;
  LinePipeline& operator=(const LinePipeline&) = delete;

  // Room for an encoded line of `size` bytes (at most kMaxEncodedLineSize):
  // the caller writes it there and calls commitLine with its end.
  unsigned char* lineRoom(std::size_t size);
  void commitLine(const unsigned char* end);

  // False once a write to the stream has failed; a failure shows here once
  // the write that met it has returned, at most a few batches after the line
  // that caused it was added.
  bool ok() const { return !failed_.load(std::memory_order_relaxed); }
  // The errno of the first write that failed (0 while none has, or when the
  // stream gave none); read it after finish().
  int writeError() const { return writeError_; }

  // Writes every line added so far to the stream (without flushing the
  // stream) before it returns; lines may be added after it. For an output
  // that is watched while it grows.
  void flush();

  // Writes every line added, waits for that and stops the workers. True when
  // every write succeeded. Later calls only repeat the result.
  [[nodiscard]] bool finish();

 private:
  struct Batch {
    std::unique_ptr<unsigned char[]> lines;
    std::size_t capacity = 0;
    std::size_t used = 0;
  };
  // A batch's formatted text, from its worker to the stream.
  struct Text {
    std::unique_ptr<char[]> bytes;
    std::size_t length = 0;
    uint64_t sequence = 0;
  };
  // The batch a worker formats, for its sink's drain.
  struct Output {
    LinePipeline* pipeline;
    uint64_t sequence;
    // Set once the text overflowed: every earlier batch is written and this
    // one writes its pieces directly.
    bool inTurn;
  };

  bool startWorkers();
  // Hands the batch being filled on and waits until another one is free.
  void submit();
  void formatOnThisThread(Batch& b);
  void work();
  // Writes the queued texts that are next in order, unless another thread
  // is writing; called with `lock` held, and returns with it held.
  void writeReady(std::unique_lock<std::mutex>& lock);
  // After a batch's text is written, with the lock held.
  void batchDone(Text* text);
  void waitForTurn(uint64_t sequence);
  void write(const char* text, std::size_t length);
  static void drainDirectly(void* context, const char* text, std::size_t length);
  static void drainInTurn(void* context, const char* text, std::size_t length);

  std::FILE* stream_;
  LineLayout layout_;
  unsigned workerCount_;
  bool started_ = false;
  bool finished_ = false;
  bool result_ = true;
  std::atomic<bool> failed_{false};
  int writeError_ = 0;  // set once, by the write that failed first
  std::vector<Batch> batches_;
  std::vector<Text> texts_;
  std::vector<std::thread> workers_;

  // The batch being filled; only the adding thread uses it.
  Batch* filling_ = nullptr;

  // Batch sequence numbers: `submitted_` is the one being filled (every one
  // before it is handed on), `claimed_` the next one a worker takes,
  // `written_` the next one to reach the stream. The batches handed on and
  // not yet taken wait in `handed_`, oldest first; a batch is free again as
  // soon as it is formatted, in whatever order that happens. A text buffer
  // is free, held by a worker, queued in `ready_` or being written; only the
  // thread that took batch `written_`'s text off the queue (or its worker,
  // once in turn) writes, so the writes never overlap. Guarded by `mutex_`.
  std::mutex mutex_;
  std::condition_variable workAvailable_;   // a batch or text buffer came free, or stopping_
  std::condition_variable batchFormatted_;  // a batch came free
  std::condition_variable batchWritten_;    // written_ grew
  std::vector<Batch*> freeBatches_;
  std::vector<Batch*> handed_;
  std::vector<Text*> freeTexts_;
  std::vector<Text*> ready_;
  uint64_t submitted_ = 0;
  uint64_t claimed_ = 0;
  uint64_t written_ = 0;
  bool stopping_ = false;
};

}  // namespace cdt
