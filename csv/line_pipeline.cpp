#include "csv/line_pipeline.h"

#include <algorithm>
#include <system_error>

namespace cdt {

unsigned LinePipeline::defaultWorkers() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 1 ? std::min(cores, 4u) : 0;
}

LinePipeline::LinePipeline(std::FILE* stream, const LineLayout& layout, unsigned workers)
    : stream_(stream), layout_(layout), workerCount_(workers), batches_(workers + 2) {}

LinePipeline::~LinePipeline() {
  (void)finish();
}

unsigned char* LinePipeline::lineRoom(std::size_t size) {
  Batch* b = &batch(filling_);
  if (b->capacity - b->used < size) {
    if (b->used > 0) {
      submit();
      b = &batch(filling_);
    }
    if (b->capacity < size) {
      // Left uninitialised: only encoded bytes are ever read back.
      b->capacity = std::max(size, kBatchTarget);
      b->lines = std::make_unique_for_overwrite<unsigned char[]>(b->capacity);
    }
  }
  return b->lines.get() + b->used;
}

void LinePipeline::commitLine(const unsigned char* end) {
  Batch& b = batch(filling_);
  b.used = static_cast<std::size_t>(end - b.lines.get());
}

bool LinePipeline::startWorkers() {
  started_ = true;
  try {
    while (workers_.size() < workerCount_) workers_.emplace_back([this] { work(); });
  } catch (const std::system_error&) {
    // Fewer threads than asked for (none at worst) still do the job.
  }
  workerCount_ = static_cast<unsigned>(workers_.size());
  return workerCount_ > 0;
}

void LinePipeline::submit() {
  if (!started_) (void)startWorkers();
  if (workerCount_ == 0) {
    formatOnThisThread(batch(filling_));
    return;
  }
  {
    std::unique_lock lock(mutex_);
    ++filling_;
    workAvailable_.notify_one();
    batchWritten_.wait(lock, [this] { return written_ + batches_.size() > filling_; });
  }
  batch(filling_).used = 0;
}

void LinePipeline::formatOnThisThread(Batch& b) {
  if (!b.text) b.text = std::make_unique_for_overwrite<char[]>(kTextCapacity);
  LineSink sink(b.text.get(), kTextCapacity, drainDirectly, this);
  formatLines(layout_, b.lines.get(), b.used, sink);
  sink.drain();
  b.used = 0;
}

void LinePipeline::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    workAvailable_.wait(lock, [this] { return stopping_ || claimed_ < filling_; });
    if (claimed_ == filling_) return;
    const uint64_t sequence = claimed_++;
    lock.unlock();

    Batch& b = batch(sequence);
    if (!b.text) b.text = std::make_unique_for_overwrite<char[]>(kTextCapacity);
    Output output{this, sequence};
    LineSink sink(b.text.get(), kTextCapacity, drainInTurn, &output);
    formatLines(layout_, b.lines.get(), b.used, sink);
    sink.drain();
    // A batch whose text all went out while it was formatted still has to
    // wait for its turn before the next batch may write.
    waitForTurn(sequence);

    lock.lock();
    written_ = sequence + 1;
    batchWritten_.notify_all();
  }
}

void LinePipeline::waitForTurn(uint64_t sequence) {
  std::unique_lock lock(mutex_);
  batchWritten_.wait(lock, [&] { return written_ == sequence; });
}

void LinePipeline::write(const char* text, std::size_t length) {
  // After a failure the rest of the file is lost anyway; writing on would
  // only fail again.
  if (failed_.load(std::memory_order_relaxed)) return;
  if (stream_ == nullptr || std::fwrite(text, 1, length, stream_) != length) {
    failed_.store(true, std::memory_order_relaxed);
  }
}

void LinePipeline::drainDirectly(void* context, const char* text, std::size_t length) {
  static_cast<LinePipeline*>(context)->write(text, length);
}

void LinePipeline::drainInTurn(void* context, const char* text, std::size_t length) {
  const Output& output = *static_cast<const Output*>(context);
  // The worker keeps the turn until its whole batch is out, since written_
  // moves on only when the batch is done.
  output.pipeline->waitForTurn(output.sequence);
  output.pipeline->write(text, length);
}

bool LinePipeline::finish() {
  if (finished_) return result_;
  finished_ = true;
  const bool pending = batch(filling_).used > 0;
  if (!started_ && pending) {
    // Everything fits one batch: no thread is worth starting for it.
    workerCount_ = 0;
    started_ = true;
  }
  if (workerCount_ == 0) {
    if (pending) formatOnThisThread(batch(filling_));
  } else {
    std::unique_lock lock(mutex_);
    if (pending) ++filling_;
    stopping_ = true;
    workAvailable_.notify_all();
    batchWritten_.wait(lock, [this] { return written_ == filling_; });
  }
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  result_ = ok();
  return result_;
}

}  // namespace cdt
