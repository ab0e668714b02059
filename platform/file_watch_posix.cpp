// inotify on the directory: one event of any kind ends a wait, and the queue
// is drained so that the next wait sleeps until the next change.
#include <poll.h>
#include <unistd.h>

#include <thread>

#include "platform/file_watch.h"

#if __has_include(<sys/inotify.h>)
#include <sys/inotify.h>
#define CDT_HAVE_INOTIFY 1
#endif

namespace cdt {

FileWatch::FileWatch(const std::string& directory) {
#ifdef CDT_HAVE_INOTIFY
  const int handle = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (handle < 0) return;
  const std::string path = directory.empty() ? "." : directory;
  constexpr uint32_t kEvents =
      IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_ATTRIB;
  if (inotify_add_watch(handle, path.c_str(), kEvents) < 0) {
    (void)close(handle);
    return;
  }
  handle_ = handle;
#else
  (void)directory;
#endif
}

FileWatch::~FileWatch() {
  if (handle_ >= 0) (void)close(handle_);
}

void FileWatch::wait(std::chrono::milliseconds timeout) {
  if (timeout.count() <= 0) return;
  if (handle_ < 0) {
    std::this_thread::sleep_for(timeout);
    return;
  }
  pollfd watched{handle_, POLLIN, 0};
  if (poll(&watched, 1, static_cast<int>(timeout.count())) <= 0) return;
  // Events are only a reason to look again; their content is not needed.
  alignas(8) char events[4096];
  while (read(handle_, events, sizeof events) > 0) {
  }
}

}  // namespace cdt
