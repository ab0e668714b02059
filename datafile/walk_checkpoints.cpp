#include "datafile/walk_checkpoints.h"

#include <algorithm>
#include <list>
#include <map>
#include <mutex>
#include <vector>

namespace cdt {

namespace {

// The files whose states are kept, the most recently used first.
constexpr std::size_t kMaxFiles = 16;

struct FileCheckpoints {
  WalkFileKey file;
  // Per observer key, the states in increasing entry order.
  std::map<uint64_t, std::vector<WalkCheckpoint>> states;
};

std::mutex guard;
std::list<FileCheckpoints> files;

// The file's states, moved to the front; nullptr when none are kept and
// `make` is false.
FileCheckpoints* find(const WalkFileKey& file, bool make) {
  for (auto it = files.begin(); it != files.end(); ++it) {
    if (it->file == file) {
      files.splice(files.begin(), files, it);
      return &files.front();
    }
  }
  if (!make) return nullptr;
  if (files.size() >= kMaxFiles) files.pop_back();
  files.push_front({file, {}});
  return &files.front();
}

// A hash of the index: of every entry up to kHashedEntries of them, and of
// kHashedEntries evenly spread ones and the last beyond, so that a key costs
// the same for any file (entries hold absolute times: another recording's
// index differs in nearly all of them).
constexpr std::size_t kHashedEntries = std::size_t{1} << 16;

uint64_t hashIndex(const IndexArray& index) {
  constexpr uint64_t kPrime = 0x100000001B3;
  uint64_t h = 0xCBF29CE484222325 ^ index.size();
  const auto add = [&](const IndexEntry& e) {
    h = (h ^ e.time) * kPrime;
    h = (h ^ e.position) * kPrime;
  };
  const std::size_t n = index.size();
  const std::size_t stride = n <= kHashedEntries ? 1 : n / kHashedEntries;
  for (std::size_t i = 0; i < n; i += stride) add(index[i]);
  if (n != 0) add(index[n - 1]);
  return h ^ (h >> 29);
}

}  // namespace

bool WalkFileKey::operator==(const WalkFileKey& other) const {
  const DataFileHeader& a = header;
  const DataFileHeader& b = other.header;
  return identity == other.identity && indexHash == other.indexHash && a.magic1 == b.magic1 &&
         a.magic2 == b.magic2 && a.configOffset == b.configOffset &&
         a.configLength == b.configLength && a.dataOffset == b.dataOffset &&
         a.indexOffset == b.indexOffset && a.indexEnd == b.indexEnd &&
         a.timeZoneBias == b.timeZoneBias;
}

std::optional<WalkFileKey> walkFileKey(std::FILE* stream, const DataFileHeader& header,
                                       const IndexArray& index) {
  WalkFileKey key;
  key.header = header;
  if (!fileIdentity(stream, key.identity)) return std::nullopt;
  key.indexHash = hashIndex(index);
  return key;
}

std::optional<WalkCheckpoint> nearestCheckpoint(const WalkFileKey& file, uint64_t observerKey,
                                                uint32_t atMost, uint64_t beforeTime) {
  const std::lock_guard<std::mutex> lock(guard);
  FileCheckpoints* kept = find(file, false);
  if (kept == nullptr) return std::nullopt;
  const auto states = kept->states.find(observerKey);
  if (states == kept->states.end()) return std::nullopt;
  const std::vector<WalkCheckpoint>& v = states->second;
  auto it = std::upper_bound(v.begin(), v.end(), atMost,
                             [](uint32_t k, const WalkCheckpoint& c) { return k < c.entry; });
  while (it != v.begin()) {
    --it;
    if (it->time < beforeTime) return *it;
  }
  return std::nullopt;
}

void keepCheckpoint(const WalkFileKey& file, uint64_t observerKey,
                    const WalkCheckpoint& checkpoint) {
  const std::lock_guard<std::mutex> lock(guard);
  std::vector<WalkCheckpoint>& v = find(file, true)->states[observerKey];
  const auto it = std::lower_bound(v.begin(), v.end(), checkpoint.entry,
                                   [](const WalkCheckpoint& c, uint32_t k) { return c.entry < k; });
  if (it != v.end() && it->entry == checkpoint.entry) return;
  if (v.size() >= kMaxCheckpoints) return;
  v.insert(it, checkpoint);
}

void forgetCheckpoints() {
  const std::lock_guard<std::mutex> lock(guard);
  files.clear();
}

}  // namespace cdt
