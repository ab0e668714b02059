// FileWatch: a wait that ends early when something in a directory changes,
// for a reader that follows a file another process writes. The reader still
// polls: every wait ends at its timeout, so a change the watch cannot see
// (a network file system, a system without change notification) only costs
// latency, never a missed end.
//
// Linux watches the directory with inotify (writes to the files in it,
// renames, creations, closes); elsewhere, and where inotify is not
// available, a wait simply sleeps its timeout.
#pragma once

#include <chrono>
#include <string>

namespace cdt {

class FileWatch {
 public:
  // Watches the directory `directory` (UTF-8; "" for the current one).
  explicit FileWatch(const std::string& directory);
  ~FileWatch();
  FileWatch(const FileWatch&) = delete;
  FileWatch& operator=(const FileWatch&) = delete;

  // Whether changes are seen (else every wait sleeps its timeout).
  bool notifies() const { return handle_ >= 0; }

  // Waits until something in the directory changes or `timeout` has passed.
  // Changes since the previous wait end it at once.
  void wait(std::chrono::milliseconds timeout);

 private:
  int handle_ = -1;
};

}  // namespace cdt
