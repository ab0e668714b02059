// Windows: plain polling. A directory change notification would end waits
// early, but every write of the watched file would wake the follower as
// well, which polling at its growing interval already covers.
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
