#include "tools/info_follow.h"

#include <chrono>
#include <string>

#include "datafile/follower.h"
#include "foundation/file_system.h"
#include "foundation/time_text.h"
#include "lines/line_follower.h"
#include "platform/interrupts.h"
#include "tools/commands.h"

namespace cdt {

using namespace std::chrono_literals;

namespace {

struct Status {
  uint64_t lines = 0;
  uint64_t lastRevolution = 0;
  float speed = 0;
  uint64_t lastTime = 0;
  uint64_t perChannel[kChannelsPerHost] = {};
};

std::string statusText(const std::string& path, const DataFileFollower& records, const Status& s) {
  // Appended piece by piece: GCC 12 warns of temporaries joined with +.
  std::string text = path;
  text += ": ";
  text += std::to_string(records.records());
  text += " records, ";
  text += std::to_string(s.lines);
  text += " revolutions";
  if (s.lines > 0) {
    char speed[32];
    std::snprintf(speed, sizeof speed, "%.1f", static_cast<double>(s.speed));
    text += " (last ";
    text += std::to_string(s.lastRevolution);
    text += "), speed ";
    text += speed;
    text += ", last ";
    text += formatTimeText(s.lastTime);
  }
  text += ", blade records by channel";
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    text += ' ';
    text += std::to_string(s.perChannel[slot]);
  }
  return text;
}

const char* endText(FollowStatus status) {
  switch (status) {
    case FollowStatus::Finished:
      return "finished";
    case FollowStatus::Idle:
      return "not growing, given up";
    case FollowStatus::Stopped:
      return "stopped";
    default:
      return "failed";
  }
}

}  // namespace

int runInfoFollow(const CommandArgs& args, FILE* out, FILE* err) {
  const std::optional<double> idle = realOption(args, "idle", 60.0, 0.01, 1e7, err);
  if (!idle) return 2;
  if (!args.has("follow")) return usageError(args, err, "--idle is for --follow");
  // Ctrl-C ends the watch with its last status line.
  catchInterrupts();
  const bool terminal = isTerminal(out);
  const auto every = terminal ? 200ms : 1000ms;
  int status = 0;
  for (const std::string& path : args.positionals) {
    FollowOptions options;
    options.idle = std::chrono::milliseconds(static_cast<int64_t>(*idle * 1000.0 + 0.5));
    options.stopOnInterrupt = true;
    DataFileFollower records(path, options);
    LineFollower lines(records);
    Status s;
    FollowBatch batch;
    auto shown = std::chrono::steady_clock::now() - every;
    std::size_t width = 0;
    do {
      batch = lines.nextGroups(4096, 100ms, [&](const LineGroup& group, uint64_t) {
        ++s.lines;
        s.lastRevolution = bladeStartRevolution(*group.first);
        s.speed = bladeSpeed(*group.first);
        s.lastTime = group.first->time();
        for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
          if (group.slots[slot] != nullptr) ++s.perChannel[slot];
        }
      });
      const auto now = std::chrono::steady_clock::now();
      if (now - shown >= every || followEnded(batch.status)) {
        shown = now;
        std::string text = statusText(path, records, s);
        if (followEnded(batch.status)) {
          text += ": ";
          text += endText(batch.status);
        }
        if (terminal) {
          // Rewritten in place; blanks cover a longer line before it.
          const std::size_t length = text.size();
          if (length < width) text.append(width - length, ' ');
          width = length;
          std::fprintf(out, "\r%s", text.c_str());
          if (followEnded(batch.status)) std::fputc('\n', out);
        } else {
          std::fprintf(out, "%s\n", text.c_str());
        }
        std::fflush(out);
      }
    } while (!followEnded(batch.status));
    if (batch.status == FollowStatus::Stopped && interruptRequested()) return kInterruptedStatus;
    if (batch.status == FollowStatus::Failed) {
      status = fileError(args, err, "cannot follow '%s': %s", path.c_str(),
                         followErrorText(records.error()));
    } else if (batch.status == FollowStatus::Idle && !records.hasConfiguration()) {
      status = fileError(args, err, "cannot read '%s': no data file appeared there", path.c_str());
    }
  }
  return status;
}

}  // namespace cdt
