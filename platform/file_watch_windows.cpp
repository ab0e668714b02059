// Windows: plain polling; each wait sleeps its timeout, and the follower's
// growing interval keeps that short while the file grows.
#include <thread>

#include "platform/file_watch.h"

namespace cdt {

FileWatch::FileWatch(const std::string& directory) {
  (void)directory;
}

FileWatch::~FileWatch() = default;

void FileWatch::wait(std::chrono::milliseconds timeout) {
  if (timeout.count() > 0) std::this_thread::sleep_for(timeout);
}

}  // namespace cdt
