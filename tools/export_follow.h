// cdt export --follow: recordings exported while their recorders write them.
// Each line is written as soon as it is complete (lines/line_follower.h),
// the text reaching the staged output within a fraction of a second so that
// it can be watched; each output is renamed to its name once its recording
// is finished, and then holds exactly what exporting the finished file
// gives. A recording whose file stops growing for the idle time is given
// up: its output holds the lines of the records `cdt recover` keeps.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/arguments.h"
#include "tools/export_file.h"
#include "tools/export_request.h"

namespace cdt {

// The follow options beyond the request's.
struct FollowRequest {
  std::chrono::milliseconds idle{std::chrono::seconds(60)};
  // Longest time a complete line waits in memory before it is written out.
  std::chrono::milliseconds flushEvery{50};
};

// Checks the options for --follow: the usage error's status (with its
// message on `err`), or 0 with `follow` filled.
int parseFollowRequest(const CommandArgs& args, const ExportRequest& request, FollowRequest& follow,
                       FILE* err);

// Follows `input` (the ".temp" file or its final name) into its output.
FileResult followFile(const ExportRequest& request, const FollowRequest& follow,
                      const std::string& input);

// cdt export --follow FILE...: every file at once, each on a thread of its
// own; their messages come out in the order of the arguments as each ends.
// With one directory as the argument, runExportFollowDirectory.
int runExportFollow(const CommandArgs& args, const ExportRequest& request, FILE* out, FILE* err);

// cdt export --follow DIR: the recording set whose hosts write in DIR (the
// newest file being written there and the other hosts' files of its
// recording, as they appear), each file followed into its own output. Ends
// once every host's file has ended, or, for hosts whose file never appears
// (each named in a note), once none has appeared for the idle time.
int runExportFollowDirectory(const CommandArgs& args, const ExportRequest& request,
                             const FollowRequest& follow, const std::string& directory, FILE* out,
                             FILE* err);

// cdt export --follow --set DIR_OR_FILE: the recording set being written,
// its hosts' lines joined as they come into one output, which once the set
// is finished holds exactly what `cdt export --set` gives of it
// (tools/export_follow_set.cpp).
int runExportFollowSet(const CommandArgs& args, const ExportRequest& request,
                       const FollowRequest& follow, FILE* out, FILE* err);

// The final names of the files being written in `directory`, newest
// recording first.
std::vector<std::string> filesBeingWritten(const std::string& directory);

}  // namespace cdt
