// The one file a fuzz target writes its input to, so that it can be opened
// as a data file: in a private directory, on /dev/shm when there is one,
// made once per process and removed at exit.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace cdt::fuzzing {

struct ScratchInput {
  std::string directory;
  std::string path;
};

inline ScratchInput* scratchInput = nullptr;

inline void removeScratchInput() {
  if (scratchInput == nullptr) return;
  (void)unlink(scratchInput->path.c_str());
  (void)rmdir(scratchInput->directory.c_str());
}

// The path of the input file; the directory's name starts with `prefix`.
inline const std::string& scratchInputPath(const char* prefix) {
  if (scratchInput != nullptr) return scratchInput->path;
  for (const char* base : {"/dev/shm", "/tmp"}) {
    std::string directory = std::string(base) + "/" + prefix + "-XXXXXX";
    if (mkdtemp(directory.data()) == nullptr) continue;
    scratchInput = new ScratchInput{directory, directory + "/input.cdt"};
    std::atexit(removeScratchInput);
    return scratchInput->path;
  }
  std::perror("fuzz: no scratch directory");
  std::abort();
}

// Replaces the file at `path` with the bytes; aborts when that fails.
inline void writeScratchInput(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) std::abort();
  for (size_t done = 0; done < size;) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) std::abort();
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0) std::abort();
}

}  // namespace cdt::fuzzing
