// cdt export --follow DIR: the recording set whose hosts start writing in
// DIR, each host's file followed into its own output as `--follow FILE`
// does. The set is that of the newest file being written there (NAME.cdt.temp
// with a time in its name), present when the follow starts or appearing
// later; the other hosts' files are those the discovery's rule names
// (datafile/discovery.h), followed as they appear.
#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include "datafile/discovery.h"
#include "datafile/file_names.h"
#include "datafile/follower.h"
#include "foundation/file_system.h"
#include "foundation/paths.h"
#include "platform/directory_listing.h"
#include "platform/file_watch.h"
#include "platform/interrupts.h"
#include "tools/commands.h"
#include "tools/export_follow.h"
#include "tools/export_steps.h"

namespace cdt {

using namespace std::chrono_literals;

namespace {

struct Task {
  std::string input;
  std::thread thread;
  std::atomic<bool> done{false};
  FileResult result;
};

std::string joined(const std::string& directory, std::string_view name) {
  if (directory.empty() || directory.back() == '/' || directory.back() == '\\') {
    return directory + std::string(name);
  }
  return directory + "/" + std::string(name);
}

bool isWrittenOrFinished(const std::string& path) {
  return pathExists((path + std::string(kBeingWrittenSuffix)).c_str()) || pathExists(path.c_str());
}

}  // namespace

std::vector<std::string> filesBeingWritten(const std::string& directory) {
  char** list = nullptr;
  const int32_t count = listDirectory(directory.c_str(), &list, nullptr, compareNames);
  std::vector<std::pair<uint64_t, std::string>> found;
  for (int32_t i = 0; i < count; ++i) {
    const std::string_view name = list[i];
    if (!name.ends_with(kBeingWrittenSuffix)) continue;
    const std::string_view finalName = name.substr(0, name.size() - kBeingWrittenSuffix.size());
    const std::string path = joined(directory, finalName);
    const uint64_t time = nameTime(TextBuffer(std::string_view(path)));
    if (time != 0) found.emplace_back(time, path);
  }
  freeDirectoryList(&list, count);
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::string> paths;
  for (auto& f : found) paths.push_back(std::move(f.second));
  return paths;
}

int runExportFollowDirectory(const CommandArgs& args, const ExportRequest& request,
                             const FollowRequest& follow, const std::string& directory, FILE* out,
                             FILE* err) {
  std::vector<std::unique_ptr<Task>> tasks;
  std::set<std::string> started;
  const auto start = [&](const std::string& path) {
    if (!started.insert(path).second) return;
    auto task = std::make_unique<Task>();
    task->input = path;
    Task* t = task.get();
    t->thread = std::thread([&request, &follow, t] {
      t->result = followFile(request, follow, t->input);
      t->done = true;
    });
    tasks.push_back(std::move(task));
  };

  FileWatch watch(directory);
  // The set's paths once the first file's configuration is known.
  std::vector<std::string> expected;
  bool known = false;
  auto lastNew = std::chrono::steady_clock::now();
  std::size_t printed = 0;
  int status = 0;
  for (;;) {
    if (tasks.empty()) {
      const std::vector<std::string> written = filesBeingWritten(directory);
      if (!written.empty()) {
        start(written.front());
        lastNew = std::chrono::steady_clock::now();
      }
    }
    if (!tasks.empty() && !known) {
      DataFileFollower first(tasks.front()->input);
      if (first.waitForConfiguration(0ms) == FollowStatus::Record) {
        expected = expectedSetPaths(first.configuration(), tasks.front()->input);
        known = true;
      }
    }
    for (const std::string& path : expected) {
      if (!path.empty() && !started.contains(path) && isWrittenOrFinished(path)) {
        start(path);
        lastNew = std::chrono::steady_clock::now();
      }
    }
    for (; printed < tasks.size() && tasks[printed]->done; ++printed) {
      tasks[printed]->thread.join();
      const FileResult& r = tasks[printed]->result;
      std::fputs(r.out.c_str(), out);
      std::fputs(r.err.c_str(), err);
      std::fflush(out);
      std::fflush(err);
      status = std::max(status, r.status);
    }
    const auto now = std::chrono::steady_clock::now();
    const bool allStarted = known && std::all_of(expected.begin(), expected.end(), [&](auto& p) {
                              return p.empty() || started.contains(p);
                            });
    const bool waitedEnough = now - lastNew >= follow.idle;
    if (printed == tasks.size() && (allStarted || (waitedEnough && !tasks.empty()))) break;
    if (interruptRequested() && printed == tasks.size()) return kInterruptedStatus;
    if (tasks.empty() && waitedEnough) {
      std::fprintf(err, "cdt export: no recording was written in '%s' within %g s\n",
                   directory.c_str(), static_cast<double>(follow.idle.count()) / 1000.0);
      return 1;
    }
    watch.wait(100ms);
  }
  for (const std::string& path : expected) {
    if (!path.empty() && !started.contains(path)) {
      std::fprintf(err, "cdt export: note: '%s' of the set did not appear\n", path.c_str());
    }
  }
  if (std::fflush(out) != 0) status = std::max(status, 1);
  (void)args;
  // An interrupt stops every follow, which then reports its own failure: the
  // run was interrupted, whatever the follows said.
  return interruptRequested() ? kInterruptedStatus : status;
}

}  // namespace cdt
