#include "datafile/discovery.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "foundation/paths.h"
#include "foundation/time_value.h"
#include "foundation/tokenizer.h"
#include "platform/directory_listing.h"

namespace cdt {

namespace {

inline constexpr ElementOps TimeValueOps = rawElementOps(sizeof(uint64_t));
using TimeValueList = CountedArray<uint64_t, &TimeValueOps>;

// The longest tail "%20s" reads.
constexpr uint32_t kMaxTailLength = 20;

// Numbers are clamped here while they are read, far beyond every valid field,
// so that long digit runs cannot overflow.
constexpr int64_t kNumberClamp = int64_t{1} << 40;

// Reads a time part the way sscanf reads "%d-%d-%d.%d-%d-%d.%20s" from a
// terminated copy of it: the view's end and a NUL both end the input.
class TimePartScanner {
 public:
  explicit TimePartScanner(TextBuffer text)
      : p_(text.text), end_(text.text != nullptr ? text.text + text.length : nullptr) {}

  // "%d": optional white space, an optional sign, at least one digit.
  bool number(int64_t& value) {
    skipSpace();
    bool negative = false;
    if (peek() == '+' || peek() == '-') {
      negative = peek() == '-';
      ++p_;
    }
    if (!isDigit(peek())) return false;
    int64_t magnitude = 0;
    while (isDigit(peek())) {
      magnitude = magnitude * 10 + (*p_ - '0');
      if (magnitude > kNumberClamp) magnitude = kNumberClamp;
      ++p_;
    }
    value = negative ? -magnitude : magnitude;
    return true;
  }

  // A literal character of the format: matches exactly, no white space skipped.
  bool literal(char c) {
    if (peek() != c) return false;
    ++p_;
    return true;
  }

  // "%20s": optional white space, then 1 to 20 characters that are not white
  // space; the rest of a longer run stays unread.
  bool word(std::string_view& value) {
    skipSpace();
    const char* start = p_;
    uint32_t n = 0;
    while (n < kMaxTailLength && peek() != '\0' && !isSpaceChar(peek())) {
      ++p_;
      ++n;
    }
    if (n == 0) return false;
    value = std::string_view(start, n);
    return true;
  }

 private:
  char peek() const { return p_ != nullptr && p_ < end_ ? *p_ : '\0'; }
  static bool isDigit(char c) { return c >= '0' && c <= '9'; }
  void skipSpace() {
    while (peek() != '\0' && isSpaceChar(peek())) ++p_;
  }

  const char* p_;
  const char* end_;
};

// Fields outside these ranges would be narrowed into the calendar fields or
// wrap around before 1970, giving a time unrelated to the name; the writer
// never produces them.
bool isValidMoment(const int64_t (&f)[6]) {
  return f[0] >= 1970 && f[0] <= 65535 && f[1] >= 1 && f[1] <= 12 && f[2] >= 1 &&
         f[2] <= daysInMonth(static_cast<uint32_t>(f[0]), static_cast<uint32_t>(f[1])) &&
         f[3] >= 0 && f[3] <= 23 && f[4] >= 0 && f[4] <= 59 && f[5] >= 0 && f[5] <= 59;
}

TextBuffer viewOf(const CountedString& s) {
  return TextBuffer(s.c_str(), s.length());
}

// The first `kMaxHostNameMatch` characters of a host's name.
std::string_view cutName(const CountedString& name) {
  return name.view().substr(0, kMaxHostNameMatch);
}

// `left` + `middle` + `right`, or empty when `middle` is empty: an empty name
// would turn the pattern into ".." or "//", which says nothing about a host.
CountedString enclosedName(char left, std::string_view middle, char right) {
  CountedString s;
  if (middle.empty()) return s;
  s.append(left);
  s.append(middle);
  s.append(right);
  return s;
}

// `text` with its first occurrence of `from` replaced by `to`; `text` itself
// (shared) when `from` does not occur.
CountedString replaceFirst(const CountedString& text, const CountedString& from,
                           const CountedString& to) {
  const std::string_view view = text.view();
  const size_t at = view.find(from.view());
  if (from.empty() || at == std::string_view::npos) return text;
  CountedString result(view.substr(0, at));
  result.append(to.view());
  result.append(view.substr(at + from.length()));
  return result;
}

void mergeSortIndices(uint32_t* indices, uint32_t* scratch, uint32_t begin, uint32_t end,
                      const uint64_t* times, bool descending) {
  if (end - begin < 2) return;
  const uint32_t middle = begin + (end - begin) / 2;
  mergeSortIndices(indices, scratch, begin, middle, times, descending);
  mergeSortIndices(indices, scratch, middle, end, times, descending);
  uint32_t left = begin;
  uint32_t right = middle;
  uint32_t out = begin;
  while (left < middle && right < end) {
    const uint64_t l = times[indices[left]];
    const uint64_t r = times[indices[right]];
    // Only a strictly earlier (or, descending, later) right entry goes first,
    // which keeps equal times in their original order.
    const bool takeRight = descending ? r > l : r < l;
    scratch[out++] = takeRight ? indices[right++] : indices[left++];
  }
  while (left < middle) scratch[out++] = indices[left++];
  while (right < end) scratch[out++] = indices[right++];
  std::memcpy(indices + begin, scratch + begin, (end - begin) * sizeof(uint32_t));
}

// The replacement patterns of one host: ".<name>.", "/<computer>/" and
// "\<computer>\"; each empty when its name is empty.
struct HostPatterns {
  StringArray dotted;
  StringArray slashed;
  StringArray backslashed;
};

HostPatterns hostPatterns(const Configuration& configuration) {
  const uint32_t n = configuration.hosts.size();
  HostPatterns patterns;
  patterns.dotted.setLength(n);
  patterns.slashed.setLength(n);
  patterns.backslashed.setLength(n);
  for (uint32_t k = 0; k < n; ++k) {
    const Host& host = configuration.hosts[k];
    patterns.dotted.at(k) = enclosedName('.', cutName(host.name), '.');
    patterns.slashed.at(k) = enclosedName('/', cutName(host.hostName), '/');
    patterns.backslashed.at(k) = enclosedName('\\', cutName(host.hostName), '\\');
  }
  return patterns;
}

// The first host whose name followed by "." occurs in `path`, or -1.
int64_t hostOfPath(const CountedString& path, const HostPatterns& patterns) {
  for (uint32_t k = 0; k < patterns.dotted.size(); ++k) {
    const std::string_view dotted = patterns.dotted[k].view();
    if (dotted.empty()) continue;
    if (path.view().find(dotted.substr(1)) != std::string_view::npos) return k;
  }
  return -1;
}

// Fills the empty slots of `set` with the files of the other hosts derived
// from the path of its master host.
void fillOtherHosts(RecordingSet& set, uint32_t master, const HostPatterns& patterns) {
  const CountedString masterPath = set[master];
  for (uint32_t k = 0; k < set.size(); ++k) {
    if (k == master || !set[k].empty() || patterns.dotted[k].empty()) continue;
    CountedString candidate = replaceFirst(masterPath, patterns.dotted[master], patterns.dotted[k]);
    if (candidate != masterPath && isReadable(candidate.c_str())) {
      set.at(k) = candidate;
      continue;
    }
    if (patterns.slashed[master].empty() || patterns.slashed[k].empty()) continue;
    candidate = replaceFirst(candidate, patterns.slashed[master], patterns.slashed[k]);
    candidate = replaceFirst(candidate, patterns.backslashed[master], patterns.backslashed[k]);
    if (candidate != masterPath && isReadable(candidate.c_str())) set.at(k) = candidate;
  }
}

// Whether one of the last sets, those of time `time`, already holds `path`.
bool heldByRecentSet(const RecordingSetArray& sets, const TimeValueList& setTimes, uint64_t time,
                     const CountedString& path) {
  for (uint32_t s = sets.size(); s > 0 && setTimes[s - 1] == time; --s) {
    for (const CountedString& slot : sets[s - 1]) {
      if (slot == path) return true;
    }
  }
  return false;
}

}  // namespace

TextBuffer findTimePart(TextBuffer name) {
  if (name.empty()) return {};
  TokenRules rules;
  rules.separators = ".";
  rules.trim = true;
  // Only the last three pieces matter, so they are kept in a ring and a name
  // may have any number of pieces.
  Tokenizer tokenizer(name.text, name.length);
  TextBuffer last[3];
  uint32_t count = 0;
  while (!tokenizer.atEnd()) {
    last[count % 3] = nextToken(tokenizer, rules);
    ++count;
  }
  if (count < 4) return {};
  const TextBuffer first = last[(count - 3) % 3];
  if (first.text == nullptr) return {};
  const uint32_t offset = static_cast<uint32_t>(first.text - name.text);
  return TextBuffer(first.text, name.length - offset);
}

uint64_t timePartTime(TextBuffer timePart) {
  if (timePart.empty()) return 0;
  TimePartScanner scan(timePart);
  int64_t f[6] = {};
  std::string_view tail;
  const bool read = scan.number(f[0]) && scan.literal('-') && scan.number(f[1]) &&
                    scan.literal('-') && scan.number(f[2]) && scan.literal('.') &&
                    scan.number(f[3]) && scan.literal('-') && scan.number(f[4]) &&
                    scan.literal('-') && scan.number(f[5]) && scan.literal('.') && scan.word(tail);
  if (!read || tail != "cdt" || !isValidMoment(f)) return 0;
  TimeStamp stamp;
  stamp.year = static_cast<uint16_t>(f[0]);
  stamp.month = static_cast<uint8_t>(f[1]);
  stamp.day = static_cast<uint8_t>(f[2]);
  stamp.hour = static_cast<uint8_t>(f[3]);
  stamp.minute = static_cast<uint8_t>(f[4]);
  stamp.second = static_cast<uint8_t>(f[5]);
  return calendarToTime(dateToDayOfYear(stamp));
}

uint64_t nameTime(TextBuffer name) {
  return timePartTime(findTimePart(name));
}

uint32_t listDataFiles(const char* directory, StringArray& paths,
                       const Configuration* configuration) {
  paths.clear();
  if (directory == nullptr) return 0;
  char** list = nullptr;
  const int32_t count = listDirectorySorted(directory, &list, compareNames);
  if (count <= 0) {
    freeDirectoryList(&list, count);
    return 0;
  }

  size_t directoryLength = std::strlen(directory);
  // An empty directory is the current one: the bare names are its paths.
  const bool prefixed = directoryLength != 0;
  while (directoryLength > 0 &&
         (directory[directoryLength - 1] == '/' || directory[directoryLength - 1] == '\\')) {
    --directoryLength;
  }

  std::string_view requiredName;
  char revision[16] = {};
  int revisionLength = 6;
  if (configuration != nullptr) {
    requiredName = configuration->name.view();
    revisionLength = std::snprintf(revision, sizeof revision, ".%04d.", configuration->revision);
  }

  paths.setCapacity(static_cast<uint32_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    const std::string_view name(list[i]);
    if (configuration != nullptr) {
      if (revisionLength != 6 || name.size() < requiredName.size() + 6 ||
          name.substr(0, requiredName.size()) != requiredName ||
          name.substr(requiredName.size(), 6) != std::string_view(revision, 6)) {
        continue;
      }
    }
    if (nameTime(TextBuffer(name)) == 0) continue;
    CountedString path;
    if (prefixed) {
      path.assign(directory, static_cast<uint32_t>(directoryLength));
      path.append('/');
    }
    path.append(name);
    paths.append(path);
  }
  freeDirectoryList(&list, count);
  paths.setCapacity(paths.size());
  return paths.size();
}

NameIndexList sortByNameTime(const StringArray& entries, SortOrder order) {
  const uint32_t n = entries.size();
  NameIndexList indices;
  if (n == 0) return indices;
  // Each time is read once, not once per comparison.
  TimeValueList times;
  times.setLength(n);
  uint64_t* t = times.mutableData();
  for (uint32_t i = 0; i < n; ++i) t[i] = nameTime(viewOf(entries[i]));
  indices.setLength(n);
  uint32_t* out = indices.mutableData();
  for (uint32_t i = 0; i < n; ++i) out[i] = i;
  NameIndexList scratch;
  scratch.setLength(n);
  mergeSortIndices(out, scratch.mutableData(), 0, n, t, order == SortOrder::Descending);
  return indices;
}

uint32_t findRecordingSets(const char* directory, RecordingSetArray& sets,
                           const Configuration& configuration) {
  sets.clear();
  const uint32_t hostCount = configuration.hosts.size();
  if (hostCount == 0) return 0;
  StringArray paths;
  const uint32_t pathCount = listDataFiles(directory, paths, &configuration);
  if (pathCount == 0) return 0;

  const NameIndexList order = sortByNameTime(paths, SortOrder::Ascending);
  const HostPatterns patterns = hostPatterns(configuration);
  TimeValueList setTimes;
  setTimes.setCapacity(pathCount);
  sets.setCapacity(pathCount);

  // Every listed path has a time part, so each path of a host opens a set of
  // its own unless an earlier set of its time already found it.
  for (uint32_t i = 0; i < pathCount; ++i) {
    const CountedString& path = paths[order[i]];
    const int64_t host = hostOfPath(path, patterns);
    if (host < 0) continue;
    const uint64_t time = nameTime(viewOf(path));
    if (heldByRecentSet(sets, setTimes, time, path)) continue;

    const uint32_t master = static_cast<uint32_t>(host);
    sets.splice(sets.size(), nullptr, 1, kSpliceInsert);
    RecordingSet& set = sets.at(sets.size() - 1);
    set.setLength(hostCount);
    set.at(master) = path;
    fillOtherHosts(set, master, patterns);
    setTimes.append(time);
  }
  sets.setCapacity(sets.size());
  return sets.size();
}

std::vector<std::string> expectedSetPaths(const Configuration& configuration,
                                          const std::string& path) {
  const HostPatterns patterns = hostPatterns(configuration);
  std::vector<std::string> paths(configuration.hosts.size());
  const CountedString own(path);
  const int64_t master = hostOfPath(own, patterns);
  if (master < 0) return paths;
  const auto m = static_cast<uint32_t>(master);
  for (uint32_t k = 0; k < paths.size(); ++k) {
    if (k == m) {
      paths[k] = path;
    } else if (!patterns.dotted[k].empty()) {
      const CountedString other = replaceFirst(own, patterns.dotted[m], patterns.dotted[k]);
      if (other != own) paths[k] = other.str();
    }
  }
  return paths;
}

}  // namespace cdt
