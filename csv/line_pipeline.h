// LinePipeline: formats encoded CSV lines (csv/csv_line.h) into a stream in
// batches. Lines are added one by one into the batch being filled; a full
// batch goes to a worker thread, which formats it into its own text buffer
// and writes the text once every earlier batch is written, so the stream
// receives the lines in the order they were added while several batches are
// formatted at once. With no workers the adding thread formats each batch
// itself when it is full.
//
// Memory is fixed: a few batches (workers + 2), each an encoding buffer that
// grows only as far as one line needs (kMaxEncodedLineSize at most) and a
// text buffer of kTextCapacity bytes; nothing depends on the number of lines.
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

  // False once a write to the stream has failed; a failure shows here only
  // after the worker that met it has finished its batch, at most a few
  // batches after the line that caused it was added.
  bool ok() const { return !failed_.load(std::memory_order_relaxed); }

  // Writes every line added, waits for that and stops the workers. True when
  // every write succeeded. Later calls only repeat the result.
  [[nodiscard]] bool finish();

 private:
  struct Batch {
    std::unique_ptr<unsigned char[]> lines;
    std::size_t capacity = 0;
    std::size_t used = 0;
    std::unique_ptr<char[]> text;
  };
  // A batch's text on its way to the stream.
  struct Output {
    LinePipeline* pipeline;
    uint64_t sequence;
  };

  Batch& batch(uint64_t sequence) { return batches_[sequence % batches_.size()]; }
  bool startWorkers();
  // Hands the batch being filled on and waits until the next one is free.
  void submit();
  void formatOnThisThread(Batch& b);
  void work();
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
  std::vector<Batch> batches_;
  std::vector<std::thread> workers_;

  // Batch sequence numbers: `filling_` is the one being filled (every one
  // before it is handed on), `claimed_` the next one a worker takes,
  // `written_` the next one to reach the stream. Batch n lives in slot n mod
  // batches_.size(), so it can be filled once batch n - size is written.
  // Guarded by `mutex_`; only the adding thread changes `filling_`.
  std::mutex mutex_;
  std::condition_variable workAvailable_;  // filling_ grew, or stopping_ is set
  std::condition_variable batchWritten_;   // written_ grew
  uint64_t filling_ = 0;
  uint64_t claimed_ = 0;
  uint64_t written_ = 0;
  bool stopping_ = false;
};

}  // namespace cdt
