#include "dbengine/foundation/VEZBZip2.h"

#include <bzlib.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <string>

#include "platform/core/CheckedMath.h"

namespace vez {

namespace {

// A bzip2 block unpacks to at most 900000 stored bytes whose runs of 4 + 255
// expand from 5 bytes to 259, and no block, with its magic, CRC, tables and
// one code, takes fewer than 16 bytes: a stream that unpacks further than
// this ratio is damaged.
constexpr std::int64_t kMaxBZip2Ratio = 900000LL * 259 / 5 / 16;

void* BzAlloc(void*, int items, int size) {
  if (CompressionHeapFailing() || items < 0 || size < 0) return nullptr;
  std::size_t bytes;
  if (__builtin_mul_overflow(static_cast<std::size_t>(items), static_cast<std::size_t>(size),
                             &bytes))
    return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void BzFree(void*, void* address) {
  std::free(address);
}

char* InPointer(const void* in_buffer) {
  // The library does not write its source; its interface only lacks const.
  return static_cast<char*>(const_cast<void*>(in_buffer));
}

bz_stream NewStream(const void* in_buffer, std::int32_t in_size) {
  bz_stream s{};
  s.bzalloc = BzAlloc;
  s.bzfree = BzFree;
  s.next_in = InPointer(in_buffer);
  s.avail_in = static_cast<unsigned int>(in_size);
  return s;
}

std::uint64_t TotalOut(const bz_stream& s) {
  return (std::uint64_t{s.total_out_hi32} << 32) | s.total_out_lo32;
}

std::uint64_t TotalIn(const bz_stream& s) {
  return (std::uint64_t{s.total_in_hi32} << 32) | s.total_in_lo32;
}

// Out of memory keeps its own cause; every other negative result is the
// library's refusal.
template <typename Error>
[[noreturn]] void Raise(int result) {
  if (result == BZ_MEM_ERROR) throw std::bad_alloc();
  throw Error("error " + std::to_string(result));
}

}  // namespace

std::int32_t BZIPInitialOutSize(std::int32_t in_size) {
  const double scaled = std::nearbyint(static_cast<double>(in_size) * 1.01);
  if (!(scaled <= static_cast<double>(std::numeric_limits<std::int32_t>::max())))
    throw platform::EIntOverflow();
  return platform::CheckedAdd(static_cast<std::int32_t>(scaled), 600);
}

std::int32_t BZIPDecompressIncrement(std::int32_t in_size) {
  return platform::CheckedAdd(platform::CheckedMul(in_size, 10), 65535) & ~65535;
}

std::int32_t BZIPDecompressLimit(std::int32_t in_size) {
  return static_cast<std::int32_t>(std::min<std::int64_t>(std::numeric_limits<std::int32_t>::max(),
                                                          std::int64_t{in_size} * kMaxBZip2Ratio));
}

void BZIPCompressBuffer(const void* in_buffer, std::int32_t in_size, TVEZHeapBuffer& out_buffer,
                        std::int32_t& out_size, std::uint8_t block_size_100k) {
  out_buffer.reset();
  const std::int32_t capacity = BZIPInitialOutSize(in_size);
  TVEZHeapBuffer out(CompressionHeapAlloc(static_cast<std::size_t>(capacity)));
  bz_stream s = NewStream(in_buffer, in_size);
  s.next_out = reinterpret_cast<char*>(out.get());
  s.avail_out = static_cast<unsigned int>(capacity);
  int r = BZ2_bzCompressInit(&s, block_size_100k, 0, 0);
  if (r != BZ_OK) Raise<EBZCompressionError>(r);
  do {
    r = BZ2_bzCompress(&s, BZ_FINISH);
    // The block is sized for the worst case; a full one is the library's
    // "output buffer full", as the one-call form reports it.
    if (r == BZ_FINISH_OK && s.avail_out == 0) r = BZ_OUTBUFF_FULL;
  } while (r == BZ_FINISH_OK);
  const auto total = static_cast<std::int32_t>(TotalOut(s));
  BZ2_bzCompressEnd(&s);
  if (r != BZ_STREAM_END) Raise<EBZCompressionError>(r);
  out_size = total;
  out_buffer = std::move(out);
}

void BZIPDecompressBuffer(const void* in_buffer, std::int32_t in_size, std::int32_t out_estimate,
                          TVEZHeapBuffer& out_buffer, std::int32_t& out_size) {
  out_buffer.reset();
  if (in_size <= 0 || out_estimate < 0) Raise<EBZDecompressionError>(BZ_PARAM_ERROR);
  const std::int32_t increment = BZIPDecompressIncrement(in_size);
  const std::int32_t limit = out_estimate != 0 ? out_estimate : BZIPDecompressLimit(in_size);
  std::int32_t capacity = out_estimate != 0 ? out_estimate : std::min(increment, limit);
  TVEZHeapBuffer out(CompressionHeapAlloc(static_cast<std::size_t>(capacity)));
  bz_stream s = NewStream(in_buffer, in_size);
  s.next_out = reinterpret_cast<char*>(out.get());
  s.avail_out = static_cast<unsigned int>(capacity);
  int r = BZ2_bzDecompressInit(&s, 0, 0);
  if (r != BZ_OK) Raise<EBZDecompressionError>(r);
  try {
    for (;;) {
      const std::uint64_t in_before = TotalIn(s);
      const std::uint64_t out_before = TotalOut(s);
      r = BZ2_bzDecompress(&s);
      if (r != BZ_OK) break;
      if (s.avail_out == 0 && capacity < limit) {
        // Grow and continue where the library stopped: doubling keeps the
        // copies linear in the output, not quadratic.
        capacity = static_cast<std::int32_t>(
            std::min<std::int64_t>(limit, std::max<std::int64_t>(std::int64_t{capacity} + increment,
                                                                 std::int64_t{capacity} * 2)));
        std::uint8_t* grown = CompressionHeapRealloc(out.get(), static_cast<std::size_t>(capacity));
        (void)out.release();
        out.reset(grown);
        s.next_out = reinterpret_cast<char*>(out.get() + TotalOut(s));
        s.avail_out = static_cast<unsigned int>(capacity - static_cast<std::int32_t>(TotalOut(s)));
        continue;
      }
      // At the limit the library is called once more without room: it can
      // still read the end of the stream; no progress means it cannot.
      if (TotalIn(s) == in_before && TotalOut(s) == out_before) {
        r = s.avail_out == 0 ? BZ_OUTBUFF_FULL : BZ_UNEXPECTED_EOF;
        break;
      }
    }
  } catch (...) {
    BZ2_bzDecompressEnd(&s);
    throw;
  }
  const auto total = static_cast<std::int32_t>(TotalOut(s));
  BZ2_bzDecompressEnd(&s);
  if (r != BZ_STREAM_END) Raise<EBZDecompressionError>(r);
  out_size = total;
  out_buffer = std::move(out);
}

}  // namespace vez
