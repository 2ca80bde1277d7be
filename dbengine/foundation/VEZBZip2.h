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

// The most decompression without an expected size produces from in_size
// bytes: what bzip2 can unpack at most, within the largest 32-bit size.
std::int32_t BZIPDecompressLimit(std::int32_t in_size);

// Compresses with the given block size (1 to 9, in 100000 bytes). out_size is
// the compressed size; the block keeps its initial size. Raises
// EBZCompressionError for a negative library result (a block size of 0 or
// above 9 among them) and std::bad_alloc when memory runs out; then
// out_buffer is empty.
void BZIPCompressBuffer(const void* in_buffer, std::int32_t in_size, TVEZHeapBuffer& out_buffer,
                        std::int32_t& out_size, std::uint8_t block_size_100k);

// Decompresses in one pass. With out_estimate > 0 the output may be at most
// that many bytes (more raises "error -8"); with 0 the output starts at
// BZIPDecompressIncrement and grows (by the increment or doubling, whichever
// is more) up to BZIPDecompressLimit, a longer output raising "error -8".
// Raises EBZDecompressionError for a negative final result (-4 damaged data,
// -5 not a bzip2 stream, -7 unexpected end) and std::bad_alloc when memory
// runs out; then out_buffer is empty.
void BZIPDecompressBuffer(const void* in_buffer, std::int32_t in_size, std::int32_t out_estimate,
                          TVEZHeapBuffer& out_buffer, std::int32_t& out_size);

}  // namespace vez
