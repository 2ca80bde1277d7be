#include "dbengine/foundation/VEZZlib.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "platform/core/CheckedMath.h"

namespace vez {

namespace {

thread_local std::string last_zlib_error;

voidpf ZAlloc(voidpf, uInt items, uInt size) {
  if (CompressionHeapFailing()) return Z_NULL;
  std::size_t bytes;
  if (__builtin_mul_overflow(static_cast<std::size_t>(items), static_cast<std::size_t>(size),
                             &bytes))
    return Z_NULL;
  return std::calloc(bytes == 0 ? 1 : bytes, 1);
}

void ZFree(voidpf, voidpf address) {
  std::free(address);
}

int CheckDeflate(int result) {
  // Out of memory keeps its own cause.
  if (result == Z_MEM_ERROR) throw std::bad_alloc();
  if (result < 0) throw ECompressionError("error " + std::to_string(result));
  return result;
}

// Resizes a heap block; raises std::bad_alloc and keeps the old block when
// the heap refuses.
void Resize(TVEZHeapBuffer& buffer, std::int32_t size) {
  std::uint8_t* p = CompressionHeapRealloc(buffer.get(), static_cast<std::size_t>(size));
  (void)buffer.release();
  buffer.reset(p);
}

// A stream over the whole input and the output block, with heap hooks; not
// yet started.
z_stream NewStream(const void* in_buffer, std::int32_t in_size, std::uint8_t* out,
                   std::int32_t capacity) {
  z_stream s{};
  s.zalloc = ZAlloc;
  s.zfree = ZFree;
  s.next_in = static_cast<Bytef*>(const_cast<void*>(in_buffer));
  s.avail_in = static_cast<uInt>(in_size);
  s.next_out = out;
  s.avail_out = static_cast<uInt>(capacity);
  return s;
}

// Grows the output block to capacity bytes and hands the stream the new room
// behind what it has written.
void GrowOutput(z_stream& s, TVEZHeapBuffer& out, std::int32_t capacity) {
  Resize(out, capacity);
  s.next_out = out.get() + s.total_out;
  s.avail_out = static_cast<uInt>(capacity - static_cast<std::int32_t>(s.total_out));
}

}  // namespace

std::int32_t ZLIBInitialOutSize(std::int32_t in_size) {
  using platform::CheckedAdd;
  return CheckedAdd(CheckedAdd(CheckedAdd(in_size, in_size / 10), 12), 255) & ~255;
}

void ZLIBCompressBuffer(const void* in_buffer, std::int32_t in_size, TVEZHeapBuffer& out_buffer,
                        std::int32_t& out_size, std::uint8_t level) {
  out_buffer.reset();
  std::int32_t capacity = ZLIBInitialOutSize(in_size);
  TVEZHeapBuffer out(CompressionHeapAlloc(static_cast<std::size_t>(capacity)));
  std::memset(out.get(), 0, static_cast<std::size_t>(capacity));

  z_stream s = NewStream(in_buffer, in_size, out.get(), capacity);
  CheckDeflate(deflateInit(&s, level));
  try {
    while (CheckDeflate(deflate(&s, Z_FINISH)) != Z_STREAM_END) {
      // Output full before the end: give deflate 256 more bytes.
      capacity = platform::CheckedAdd(capacity, 256);
      GrowOutput(s, out, capacity);
    }
  } catch (...) {
    deflateEnd(&s);
    throw;
  }
  const auto total = static_cast<std::int32_t>(s.total_out);
  CheckDeflate(deflateEnd(&s));
  Resize(out, total);
  out_size = total;
  out_buffer = std::move(out);
}

void ZLIBDecompressBuffer(const void* in_buffer, std::int32_t in_size, std::int32_t out_estimate,
                          TVEZHeapBuffer& out_buffer, std::int32_t& out_size) {
  out_buffer.reset();
  out_size = 0;
  if (in_size <= 0 || out_estimate < 0) return;
  const std::int32_t increment = platform::CheckedAdd(in_size, 255) & ~255;
  const std::int64_t most = std::int64_t{in_size} * kMaxInflateRatio;
  // An expected size that deflate cannot reach is damage: refuse it before
  // taking its block.
  if (out_estimate > most) return;
  const std::int32_t limit = out_estimate > 0
                                 ? out_estimate
                                 : static_cast<std::int32_t>(std::min<std::int64_t>(
                                       std::numeric_limits<std::int32_t>::max(), most));
  std::int32_t capacity = out_estimate > 0 ? out_estimate : std::min(increment, limit);
  TVEZHeapBuffer out(CompressionHeapAlloc(static_cast<std::size_t>(capacity)));

  z_stream s = NewStream(in_buffer, in_size, out.get(), capacity);
  const int init = inflateInit(&s);
  if (init == Z_MEM_ERROR) throw std::bad_alloc();
  if (init < 0) {
    last_zlib_error = "InflateInit_ error: " + std::to_string(init);
    return;
  }
  bool ended = false;
  try {
    for (;;) {
      const uLong in_before = s.total_in;
      const uLong out_before = s.total_out;
      const int r = inflate(&s, Z_NO_FLUSH);
      if (r == Z_STREAM_END) {
        ended = true;
        break;
      }
      if (r == Z_MEM_ERROR) throw std::bad_alloc();
      // Negative results, and a stream that asks for a preset dictionary
      // (never written by the engine), are damaged data.
      if (r != Z_OK) break;
      if (s.total_in == in_before && s.total_out == out_before) break;
      if (s.avail_out == 0 && capacity < limit) {
        capacity = static_cast<std::int32_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(capacity) + increment, limit));
        GrowOutput(s, out, capacity);
      }
      // At the limit inflate is called again without room: it can still read
      // the end of the stream, and fails if more output would follow.
    }
  } catch (...) {
    inflateEnd(&s);
    throw;
  }
  const auto total = static_cast<std::int32_t>(s.total_out);
  if (inflateEnd(&s) < 0 || !ended) return;
  Resize(out, total);
  out_size = total;
  out_buffer = std::move(out);
}

std::string LastZLIBError() {
  return last_zlib_error;
}

void ClearLastZLIBError() {
  last_zlib_error.clear();
}

}  // namespace vez
