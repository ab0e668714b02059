// zlib streams made on several threads: the bytes are cut into chunks, each
// deflated on its own and ended on a byte boundary without ending the
// stream (a sync flush), so that the chunks joined in order, between one
// zlib header and the Adler-32 of the whole, are one stream that any
// inflater reads. Memory is a few chunks per thread, whatever the length.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace cdt {

struct DeflateJob {
  std::FILE* from = nullptr;  // read from `offset` on
  uint64_t offset = 0;
  uint64_t bytes = 0;
  std::FILE* to = nullptr;  // written at its position
  int level = 1;            // zlib's 1 to 9
  unsigned threads = 1;
};

struct DeflateOutcome {
  bool ok = false;
  uint64_t written = 0;  // bytes of the stream
  std::string error;     // what failed
  int errorCode = 0;     // the system's errno of a failed read or write, else 0
};

// Deflates `bytes` bytes of `from` into one zlib stream written to `to`.
DeflateOutcome deflateRange(const DeflateJob& job);

}  // namespace cdt
