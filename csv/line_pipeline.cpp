#include "csv/line_pipeline.h"

#include <cerrno>

#include <algorithm>
#include <system_error>

namespace cdt {

unsigned LinePipeline::defaultWorkers() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 1 ? std::min(cores, 4u) : 0;
}

LinePipeline::LinePipeline(std::FILE* stream, const LineLayout& layout, unsigned workers)
    : stream_(stream),
      layout_(layout),
      workerCount_(workers),
      batches_(workers + 2),
      texts_(workers + 2) {
  // Reserved here, so moving a buffer between the lists never allocates.
  freeBatches_.reserve(batches_.size());
  handed_.reserve(batches_.size());
  freeTexts_.reserve(texts_.size());
  ready_.reserve(texts_.size());
  filling_ = &batches_.front();
  for (std::size_t i = 1; i < batches_.size(); ++i) freeBatches_.push_back(&batches_[i]);
  for (Text& text : texts_) freeTexts_.push_back(&text);
}

LinePipeline::~LinePipeline() {
  (void)finish();
}

unsigned char* LinePipeline::lineRoom(std::size_t size) {
  Batch* b = filling_;
  if (b->capacity - b->used < size) {
    if (b->used > 0) {
      submit();
      b = filling_;
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
  filling_->used = static_cast<std::size_t>(end - filling_->lines.get());
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
    formatOnThisThread(*filling_);
    return;
  }
  {
    std::unique_lock lock(mutex_);
    handed_.push_back(filling_);
    ++submitted_;
    workAvailable_.notify_one();
    batchFormatted_.wait(lock, [this] { return !freeBatches_.empty(); });
    filling_ = freeBatches_.back();
    freeBatches_.pop_back();
  }
  filling_->used = 0;
}

void LinePipeline::formatOnThisThread(Batch& b) {
  Text& text = texts_.front();
  if (!text.bytes) text.bytes = std::make_unique_for_overwrite<char[]>(kTextCapacity);
  LineSink sink(text.bytes.get(), kTextCapacity, drainDirectly, this);
  formatLines(layout_, b.lines.get(), b.used, sink);
  sink.drain();
  b.used = 0;
}

void LinePipeline::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    // A batch is taken only with a text buffer, so every batch taken can be
    // formatted to its end without waiting for a buffer.
    workAvailable_.wait(lock, [this] {
      return (!handed_.empty() && !freeTexts_.empty()) || (stopping_ && handed_.empty());
    });
    if (handed_.empty()) return;
    const uint64_t sequence = claimed_++;
    Batch& b = *handed_.front();
    handed_.erase(handed_.begin());
    Text* text = freeTexts_.back();
    freeTexts_.pop_back();
    lock.unlock();

    if (!text->bytes) text->bytes = std::make_unique_for_overwrite<char[]>(kTextCapacity);
    Output output{this, sequence, false};
    // The sink drains only when the buffer is full; the text left in it at
    // the end is taken from the buffer here.
    LineSink sink(text->bytes.get(), kTextCapacity, drainInTurn, &output);
    formatLines(layout_, b.lines.get(), b.used, sink);
    text->length = sink.buffered();
    text->sequence = sequence;

    lock.lock();
    freeBatches_.push_back(&b);
    batchFormatted_.notify_one();
    if (output.inTurn) {
      // The batch's earlier pieces are out and no other thread writes until
      // written_ moves past it, so the rest goes out directly too.
      lock.unlock();
      write(text->bytes.get(), text->length);
      lock.lock();
      batchDone(text);
    } else {
      ready_.push_back(text);
    }
    writeReady(lock);
  }
}

void LinePipeline::writeReady(std::unique_lock<std::mutex>& lock) {
  for (;;) {
    // While a text is being written it is in no list and written_ still
    // names its batch, so no other thread finds anything to write.
    const auto next = std::find_if(ready_.begin(), ready_.end(),
                                   [this](const Text* t) { return t->sequence == written_; });
    if (next == ready_.end()) return;
    Text* text = *next;
    ready_.erase(next);
    lock.unlock();
    write(text->bytes.get(), text->length);
    lock.lock();
    batchDone(text);
  }
}

void LinePipeline::batchDone(Text* text) {
  ++written_;
  freeTexts_.push_back(text);
  workAvailable_.notify_one();
  batchWritten_.notify_all();
}

void LinePipeline::waitForTurn(uint64_t sequence) {
  std::unique_lock lock(mutex_);
  batchWritten_.wait(lock, [&] { return written_ == sequence; });
}

void LinePipeline::write(const char* text, std::size_t length) {
  // After a failure the rest of the file is lost anyway; writing on would
  // only fail again.
  if (length == 0 || failed_.load(std::memory_order_relaxed)) return;
  errno = 0;
  if (stream_ == nullptr || std::fwrite(text, 1, length, stream_) != length) {
    writeError_ = errno;
    failed_.store(true, std::memory_order_relaxed);
  }
}

void LinePipeline::drainDirectly(void* context, const char* text, std::size_t length) {
  static_cast<LinePipeline*>(context)->write(text, length);
}

void LinePipeline::drainInTurn(void* context, const char* text, std::size_t length) {
  Output& output = *static_cast<Output*>(context);
  // The sink reuses its buffer once this returns, so the text cannot wait in
  // the queue: the worker waits until every earlier batch is written (the
  // other threads write them meanwhile) and keeps the turn to its batch's end.
  if (!output.inTurn) {
    output.pipeline->waitForTurn(output.sequence);
    output.inTurn = true;
  }
  output.pipeline->write(text, length);
}

void LinePipeline::flush() {
  if (finished_) return;
  if (filling_->used > 0) submit();
  if (workerCount_ == 0) return;  // submit() wrote it on this thread
  std::unique_lock lock(mutex_);
  batchWritten_.wait(lock, [this] { return written_ == submitted_; });
}

bool LinePipeline::finish() {
  if (finished_) return result_;
  finished_ = true;
  const bool pending = filling_->used > 0;
  if (!started_ && pending) {
    // Everything fits one batch: no thread is worth starting for it.
    workerCount_ = 0;
    started_ = true;
  }
  if (workerCount_ == 0) {
    if (pending) formatOnThisThread(*filling_);
  } else {
    std::unique_lock lock(mutex_);
    if (pending) {
      handed_.push_back(filling_);
      ++submitted_;
    }
    stopping_ = true;
    workAvailable_.notify_all();
    batchWritten_.wait(lock, [this] { return written_ == submitted_; });
  }
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  result_ = ok();
  return result_;
}

}  // namespace cdt
