#include "tools/synth/synth_crash.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "datafile/data_file.h"
#include "datafile/format.h"
#include "foundation/byte_order.h"
#include "foundation/file_system.h"

namespace cdt {

namespace {

struct File {
  FILE* f = nullptr;
  ~File() {
    if (f != nullptr) std::fclose(f);
  }
};

bool fail(std::string& error, const std::string& what) {
  error = what + ": " + std::strerror(errno);
  return false;
}

}  // namespace

bool clearTimeZoneBias(const std::string& path, std::string& error) {
  File file;
  file.f = openFile(path.c_str(), "r+b");
  if (file.f == nullptr) return fail(error, "cannot open " + path);
  unsigned char bias[8];
  storeI64(bias, 0);
  if (!seekFile(file.f, kHeaderTimeZoneBias, SEEK_SET) ||
      std::fwrite(bias, sizeof bias, 1, file.f) != 1) {
    return fail(error, "cannot write " + path);
  }
  const int closed = std::fclose(file.f);
  file.f = nullptr;
  if (closed != 0) return fail(error, "cannot write " + path);
  return true;
}

bool simulateCrash(const std::string& path, uint64_t lastRecordStart, CrashShape shape,
                   std::string& resultPath, std::string& error) {
  resultPath = path;
  File file;
  file.f = openFile(path.c_str(), "r+b");
  if (file.f == nullptr) return fail(error, "cannot open " + path);
  unsigned char bytes[kFileHeaderSize];
  if (std::fread(bytes, sizeof bytes, 1, file.f) != 1) return fail(error, "cannot read " + path);
  DataFileHeader header = decodeFileHeader(bytes);
  const uint64_t recordsEnd = header.indexOffset;
  if (lastRecordStart < header.dataOffset || lastRecordStart > recordsEnd) {
    error = "unexpected layout of " + path;
    return false;
  }
  const uint64_t cut =
      shape.damage ? lastRecordStart + (recordsEnd - lastRecordStart) / 2 : recordsEnd;

  uint64_t end = cut;
  if (shape.unfinished) {
    header.indexOffset = 0;
    header.indexEnd = 0;
  } else {
    // Keep the entries of the whole records; the cut one loses its entry.
    const uint64_t count = (header.indexEnd - header.indexOffset) / kIndexEntrySize;
    std::vector<unsigned char> index(count * kIndexEntrySize);
    if (count > 0 && (!seekFile(file.f, static_cast<int64_t>(header.indexOffset), SEEK_SET) ||
                      std::fread(index.data(), index.size(), 1, file.f) != 1)) {
      return fail(error, "cannot read the index of " + path);
    }
    size_t kept = 0;
    while (kept < count && loadU64(index.data() + kept * kIndexEntrySize + kIndexEntryPosition) <=
                               lastRecordStart) {
      ++kept;
    }
    if (!seekFile(file.f, static_cast<int64_t>(cut), SEEK_SET) ||
        (kept > 0 && std::fwrite(index.data(), kept * kIndexEntrySize, 1, file.f) != 1)) {
      return fail(error, "cannot write the index of " + path);
    }
    header.indexOffset = cut;
    header.indexEnd = cut + kept * kIndexEntrySize;
    end = header.indexEnd;
  }
  encodeFileHeader(header, bytes);
  if (!seekFile(file.f, 0, SEEK_SET) || std::fwrite(bytes, sizeof bytes, 1, file.f) != 1 ||
      std::fflush(file.f) != 0) {
    return fail(error, "cannot write " + path);
  }
  if (!truncateFile(file.f, end)) {
    return fail(error, "cannot truncate " + path);
  }
  if (std::fclose(file.f) != 0) {
    file.f = nullptr;
    return fail(error, "cannot write " + path);
  }
  file.f = nullptr;
  if (shape.unfinished) {
    resultPath = path + ".temp";
    if (!renameFile(path.c_str(), resultPath.c_str())) {
      return fail(error, "cannot rename " + path);
    }
  }
  return true;
}

}  // namespace cdt
