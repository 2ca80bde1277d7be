// Thin wrapper around libbzip2 for the compression dispatcher: whole buffers
// in, whole buffers out. Output buffers come from the ordinary heap.
//
// Thread safety: no shared state.
#pragma once

#include <cstdint>

#include "dbengine/foundation/VEZCompression.h"
#include "platform/core/Exceptions.h"

namespace vez {

// An internal error of the library, "Compression Error %d". The distribution's
// library handles its internal errors itself (it reports and exits), so this
// class is never raised here; it keeps the hierarchy for callers that catch it.
class EBZip2Error : public platform::Exception {
  using Exception::Exception;
};
// A negative library result while compressing or decompressing, "error %d".
class EBZCompressionError : public EBZip2Error {
  using EBZip2Error::EBZip2Error;
};
class EBZDecompressionError : public EBZip2Error {
  using EBZip2Error::EBZip2Error;
};

// The output block that compression takes: the input times 1.01 rounded to
// the nearest integer (ties to even), plus 600. Raises EIntOverflow.
std::int32_t BZIPInitialOutSize(std::int32_t in_size);
// The growth step of decompression without an expected size: ten times the
// input rounded up to a multiple of 65536. Raises EIntOverflow.
std::int32_t BZIPDecompressIncrement(std::int32_t in_size);

// Compresses with the given block size (1 to 9, in 100000 bytes). out_size is
// the compressed size; the block keeps its initial size. Raises
// EBZCompressionError for a negative library result (a block size of 0 or
// above 9 among them); then out_buffer is empty.
void BZIPCompressBuffer(const void* in_buffer, std::int32_t in_size, TVEZHeapBuffer& out_buffer,
                        std::int32_t& out_size, std::uint8_t block_size_100k);

// Decompresses. With out_estimate > 0 the output may be at most that many
// bytes (more raises "error -8"); with 0 the output grows by
// BZIPDecompressIncrement up to the largest 32-bit size, each attempt starting
// over. Raises EBZDecompressionError for a negative final result (-4 damaged
// data, -7 unexpected end); then out_buffer is empty.
void BZIPDecompressBuffer(const void* in_buffer, std::int32_t in_size, std::int32_t out_estimate,
                          TVEZHeapBuffer& out_buffer, std::int32_t& out_size);

}  // namespace vez
