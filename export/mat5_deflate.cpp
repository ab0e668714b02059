#include "export/mat5_deflate.h"

#include <zlib.h>

#include <cerrno>
#include <system_error>
#include <thread>
#include <vector>

#include "foundation/file_system.h"

namespace cdt {

namespace {

// Long enough that the flush at each chunk's end costs nothing in size,
// short enough that a few per thread stay small.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

struct Chunk {
  std::vector<unsigned char> in;
  std::size_t inBytes = 0;
  std::vector<unsigned char> out;
  std::size_t outBytes = 0;
  bool last = false;  // ends the stream
  bool ok = false;
  uLong adler = 0;  // of the chunk's bytes
};

// Raw deflate (no zlib header or trailer) of the chunk on its own, ended
// by a sync flush, or by the stream's end for the last chunk.
void deflateChunk(Chunk& c, int level) {
  c.ok = false;
  c.adler = adler32(adler32(0, Z_NULL, 0), c.in.data(), static_cast<uInt>(c.inBytes));
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return;
  // The bound holds for one call; the flush's empty block adds a few bytes.
  c.out.resize(deflateBound(&z, static_cast<uLong>(c.inBytes)) + 64);
  z.next_in = c.in.data();
  z.avail_in = static_cast<uInt>(c.inBytes);
  c.outBytes = 0;
  int status = Z_OK;
  do {
    if (c.outBytes == c.out.size()) c.out.resize(c.out.size() * 2);
    z.next_out = c.out.data() + c.outBytes;
    z.avail_out = static_cast<uInt>(c.out.size() - c.outBytes);
    status = deflate(&z, c.last ? Z_FINISH : Z_SYNC_FLUSH);
    c.outBytes = c.out.size() - z.avail_out;
  } while (status == Z_OK && (c.last || z.avail_out == 0));
  // Without a last chunk, a call that finds the flush already complete
  // makes no progress and says so.
  c.ok = c.last ? status == Z_STREAM_END
                : (status == Z_OK || status == Z_BUF_ERROR) && z.avail_in == 0;
  deflateEnd(&z);
}

// Compresses chunks[0..n) on up to n threads, the first on this one.
void deflateChunks(std::vector<Chunk>& chunks, std::size_t n, int level) {
  std::vector<std::thread> workers;
  for (std::size_t i = 1; i < n; ++i) {
    try {
      workers.emplace_back(deflateChunk, std::ref(chunks[i]), level);
    } catch (const std::system_error&) {
      deflateChunk(chunks[i], level);  // no thread to spare: here, then
    }
  }
  deflateChunk(chunks[0], level);
  for (std::thread& w : workers) w.join();
}

}  // namespace

DeflateOutcome deflateRange(const DeflateJob& job) {
  DeflateOutcome outcome;
  const auto failed = [&outcome](const char* what, int code) {
    outcome.error = what;
    outcome.errorCode = code;
    return outcome;
  };
  const auto put = [&](const void* data, std::size_t n) {
    errno = 0;
    if (std::fwrite(data, 1, n, job.to) != n) return false;
    outcome.written += n;
    return true;
  };
  // The zlib header: deflate with a 32 KiB window, and the level's class.
  const int level = job.level < 1 ? 1 : job.level > 9 ? 9 : job.level;
  const unsigned char flags = level == 1 ? 0x01 : level < 6 ? 0x5E : level == 6 ? 0x9C : 0xDA;
  const unsigned char header[2] = {0x78, flags};
  if (!put(header, 2)) return failed("cannot write", errno);

  std::vector<Chunk> chunks(job.threads < 1 ? 1 : job.threads);
  uLong adler = adler32(0, Z_NULL, 0);
  uint64_t done = 0;
  if (!seekFile(job.from, static_cast<int64_t>(job.offset), SEEK_SET)) {
    return failed("cannot read the uncompressed file", errno);
  }
  do {
    std::size_t n = 0;
    for (; n < chunks.size() && (done < job.bytes || n == 0); ++n) {
      Chunk& c = chunks[n];
      c.inBytes = static_cast<std::size_t>(std::min<uint64_t>(kChunkBytes, job.bytes - done));
      c.in.resize(kChunkBytes);
      errno = 0;
      if (std::fread(c.in.data(), 1, c.inBytes, job.from) != c.inBytes) {
        return failed("cannot read the uncompressed file", errno);
      }
      done += c.inBytes;
      c.last = done == job.bytes;
    }
    deflateChunks(chunks, n, level);
    for (std::size_t i = 0; i < n; ++i) {
      Chunk& c = chunks[i];
      if (!c.ok) return failed("cannot compress", 0);
      if (!put(c.out.data(), c.outBytes)) return failed("cannot write", errno);
      adler = adler32_combine(adler, c.adler, static_cast<z_off_t>(c.inBytes));
    }
  } while (done < job.bytes);
  const unsigned char trailer[4] = {
      static_cast<unsigned char>(adler >> 24), static_cast<unsigned char>(adler >> 16),
      static_cast<unsigned char>(adler >> 8), static_cast<unsigned char>(adler)};
  if (!put(trailer, 4)) return failed("cannot write", errno);
  outcome.ok = true;
  return outcome;
}

}  // namespace cdt
