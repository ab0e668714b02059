#include "tools/info_follow.h"

#include <algorithm>
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

// The characters of a UTF-8 text: the columns it takes on a terminal (wide
// characters aside).
std::size_t columnsOf(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

// The first `columns` characters of `text`, cut between characters.
std::string leftColumns(const std::string& text, std::size_t columns) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && n++ == columns) {
      return text.substr(0, i);
    }
  }
  return text;
}

// The last `columns` characters of `text`.
std::string rightColumns(const std::string& text, std::size_t columns) {
  const std::size_t all = columnsOf(text);
  if (all <= columns) return text;
  std::size_t skip = all - columns, i = 0;
  for (; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && skip-- == 0) break;
  }
  return text.substr(i);
}

// The status of a terminal's one line, within `columns` characters (the
// last column left free: some terminals wrap as soon as it is written). The
// fields that fit, from all of them down to the revolutions alone, after the
// file's name (without its folder, shortened in the middle to leave them
// room, 12 characters at least); what still does not fit is cut.
std::string terminalText(const std::string& path, const DataFileFollower& records, const Status& s,
                         const char* ended, std::size_t columns) {
  const std::string revolutions = std::to_string(s.lines) + " revs";
  std::string last, speed, time, channels;
  if (s.lines > 0) {
    last = " (last " + std::to_string(s.lastRevolution) + ")";
    char text[32];
    std::snprintf(text, sizeof text, ", %.1f rpm", static_cast<double>(s.speed));
    speed = text;
    time = formatTimeText(s.lastTime);
  }
  channels = ", by channel";
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    channels += slot == 0 ? ' ' : '/';
    channels += std::to_string(s.perChannel[slot]);
  }
  const std::string recordCount = ", " + std::to_string(records.records()) + " records";
  // The time of day to the hundredth where the date does not fit.
  const std::string day = time.size() > 22 ? ", " + time.substr(11, 11) : std::string();
  if (!time.empty()) time = ", " + time;
  const std::string end = ended != nullptr ? std::string(": ") + ended : std::string();
  const std::string variants[] = {
      revolutions + last + speed + time + recordCount + channels + end,
      revolutions + last + speed + day + channels + end,
      revolutions + last + speed + day + end,
      revolutions + speed + end,
      revolutions + end,
  };
  const std::size_t room = columns > 1 ? columns - 1 : 1;
  constexpr std::size_t kShortestName = 12;
  const std::string* rest = &variants[std::size(variants) - 1];
  for (const std::string& v : variants) {
    if (columnsOf(v) + 2 + kShortestName <= room) {
      rest = &v;
      break;
    }
  }
  std::string name = path.substr(path.find_last_of("/\\") + 1);
  const std::size_t want = room > columnsOf(*rest) + 2
                               ? std::max(room - columnsOf(*rest) - 2, kShortestName)
                               : kShortestName;
  if (columnsOf(name) > want) {
    const std::size_t keep = want - 3;
    std::string shortened = leftColumns(name, keep - keep / 2);
    shortened += "...";
    shortened += rightColumns(name, keep / 2);
    name = std::move(shortened);
  }
  name += ": ";
  name += *rest;
  return leftColumns(name, room);
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
        const char* ended = followEnded(batch.status) ? endText(batch.status) : nullptr;
        if (terminal) {
          // One line rewritten in place, as wide as the terminal is now;
          // blanks cover a longer line before it.
          const std::size_t columns = terminalColumns(out);
          std::string text = terminalText(path, records, s, ended, columns > 0 ? columns : 80);
          const std::size_t length = columnsOf(text);
          if (length < width) text.append(width - length, ' ');
          width = length;
          std::fprintf(out, "\r%s", text.c_str());
          if (ended != nullptr) std::fputc('\n', out);
        } else {
          std::string text = statusText(path, records, s);
          if (ended != nullptr) {
            text += ": ";
            text += ended;
          }
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
