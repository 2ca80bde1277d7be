// Thin wrapper around the zlib library for the compression dispatcher: whole
// buffers in, whole buffers out, in the zlib format (header and Adler-32).
// Output buffers come from the ordinary heap.
//
// Thread safety: no shared state; the last-error text is per thread.
#pragma once

#include <cstdint>
#include <string>

#include "dbengine/foundation/VEZCompression.h"
#include "platform/core/Exceptions.h"

namespace vez {

class EZlibError : public platform::Exception {
  using Exception::Exception;
};
// A negative zlib result while compressing; message "error <code>".
class ECompressionError : public EZlibError {
  using EZlibError::EZlibError;
};

// Deflate cannot expand data by more than 1032 to 1 (258 bytes from a 2-bit
// code), so a stream that inflates further is damaged.
inline constexpr std::int64_t kMaxInflateRatio = 1032;

// The output block that compression starts with: the input plus a tenth plus
// 12, rounded up to a multiple of 256. Raises EIntOverflow.
std::int32_t ZLIBInitialOutSize(std::int32_t in_size);

// Deflates the input at the given level (0 to 9) into a new heap block of
// out_size bytes. Raises ECompressionError for a negative zlib result (a level
// above 9 among them) and the platform's errors for memory or overflow; then
// out_buffer is empty.
void ZLIBCompressBuffer(const void* in_buffer, std::int32_t in_size, TVEZHeapBuffer& out_buffer,
                        std::int32_t& out_size, std::uint8_t level);

// Inflates the input. With out_estimate > 0 the output may be at most that many
// bytes; with 0 it grows in steps of the input size rounded up to 256, never
// past what deflate can produce from the input. Damaged data (including a
// stream that asks for a dictionary, stops making progress or is longer than
// allowed, and an estimate deflate cannot reach from in_size bytes) gives an
// empty out_buffer and out_size 0 without an exception. Out of memory raises
// std::bad_alloc.
void ZLIBDecompressBuffer(const void* in_buffer, std::int32_t in_size, std::int32_t out_estimate,
                          TVEZHeapBuffer& out_buffer, std::int32_t& out_size);

// "InflateInit_ error: <code>" after the last failed start of decompression on
// this thread, else empty.
std::string LastZLIBError();
void ClearLastZLIBError();

}  // namespace vez
