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

TVEZHeapBuffer HeapBlock(std::int32_t size) {
  TVEZHeapBuffer p(static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(size))));
  if (!p) throw std::bad_alloc();
  return p;
}

char* InPointer(const void* in_buffer) {
  // The library does not write its source; its interface only lacks const.
  return static_cast<char*>(const_cast<void*>(in_buffer));
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

void BZIPCompressBuffer(const void* in_buffer, std::int32_t in_size, TVEZHeapBuffer& out_buffer,
                        std::int32_t& out_size, std::uint8_t block_size_100k) {
  out_buffer.reset();
  const std::int32_t capacity = BZIPInitialOutSize(in_size);
  TVEZHeapBuffer out = HeapBlock(capacity);
  unsigned int dest_len = static_cast<unsigned int>(capacity);
  const int r =
      BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.get()), &dest_len, InPointer(in_buffer),
                               static_cast<unsigned int>(in_size), block_size_100k, 0, 0);
  if (r < 0) throw EBZCompressionError("error " + std::to_string(r));
  out_size = static_cast<std::int32_t>(dest_len);
  out_buffer = std::move(out);
}

void BZIPDecompressBuffer(const void* in_buffer, std::int32_t in_size, std::int32_t out_estimate,
                          TVEZHeapBuffer& out_buffer, std::int32_t& out_size) {
  out_buffer.reset();
  if (in_size <= 0 || out_estimate < 0)
    throw EBZDecompressionError("error " + std::to_string(BZ_PARAM_ERROR));
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  const std::int32_t increment = BZIPDecompressIncrement(in_size);
  std::int32_t capacity = out_estimate != 0 ? out_estimate : increment;
  TVEZHeapBuffer out = HeapBlock(capacity);
  for (;;) {
    unsigned int dest_len = static_cast<unsigned int>(capacity);
    const int r =
        BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.get()), &dest_len,
                                   InPointer(in_buffer), static_cast<unsigned int>(in_size), 0, 0);
    if (r == BZ_OUTBUFF_FULL && out_estimate == 0 && capacity < kMax) {
      // Unknown size: retry from the start with a larger block.
      capacity = static_cast<std::int32_t>(
          std::min<std::int64_t>(static_cast<std::int64_t>(capacity) + increment, kMax));
      out = HeapBlock(capacity);
      continue;
    }
    if (r < 0) throw EBZDecompressionError("error " + std::to_string(r));
    out_size = static_cast<std::int32_t>(dest_len);
    out_buffer = std::move(out);
    return;
  }
}

}  // namespace vez
