// Buffer compression: the one dispatcher pair (CompressBuffer, DecompressBuffer)
// through which BLOB blocks and internal files are compressed with zlib, bzip2
// or PPM, the conversion of an algorithm name from SQL text and the last-error
// text. Everything works on whole buffers in memory; there is no streaming.
//
// Output buffers come from the ordinary heap (not the engine's memory manager)
// and are handed over as TVEZHeapBuffer, which frees them with std::free.
//
// Thread safety: the dispatcher keeps no shared state; the last-error texts are
// per thread, so several threads may compress and decompress at once and each
// reads back its own last failure.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "dbengine/foundation/VEZCompressionTypes.h"

namespace vez {

// Frees a block of the ordinary heap.
struct THeapFree {
  void operator()(void* p) const noexcept { std::free(p); }
};
// A block of the ordinary heap owned by its holder.
using TVEZHeapBuffer = std::unique_ptr<std::uint8_t[], THeapFree>;

// The algorithm names of the SQL text and the SQL export, indexed by
// TVEZCompressionAlgorithm.
inline constexpr const char* CompressionAlgorithmNames[4] = {"NONE", "ZLIB", "BZIP", "PPM"};

// Compresses in_size bytes of in_buffer with the algorithm; mode is the zlib
// level, the bzip2 block size in 100000 bytes, or the PPM preset. On True,
// out_buffer holds out_size compressed bytes (and may be larger). On False
// (acaNone, in_size <= 0, an unknown algorithm, or a failure the library
// reports: EZlibError, EBZip2Error, EPPMError) out_size is 0 and out_buffer is
// left as it was unless a failure happened after the call began, in which case
// it is empty. Out of memory (std::bad_alloc), integer overflow in the size
// arithmetic and the memory manager's errors are raised as they are, with
// out_buffer empty and out_size 0.
bool CompressBuffer(TVEZCompressionAlgorithm algorithm, std::uint8_t mode, const void* in_buffer,
                    std::int32_t in_size, TVEZHeapBuffer& out_buffer, std::int32_t& out_size);

// Decompresses in_size bytes of in_buffer. out_size on entry is the expected
// decompressed size (0 when unknown). True only when the data decompressed
// whole and, for an expected size, to exactly that many bytes; then out_buffer
// holds out_size bytes. acaNone or in_size <= 0 give False with nothing touched;
// damaged data and the libraries' own failures (for PPM also a missing
// expected size, which it needs) give False with out_buffer empty and
// out_size 0. Out of memory, integer overflow and the memory
// manager's errors are raised as they are (out_buffer empty, out_size 0).
bool DecompressBuffer(TVEZCompressionAlgorithm algorithm, const void* in_buffer,
                      std::int32_t in_size, TVEZHeapBuffer& out_buffer, std::int32_t& out_size);

// The most bytes in_size stored bytes can decompress to with the algorithm
// (in_size itself for acaNone; 0 for an algorithm the engine cannot
// decompress, or no input). A larger decompressed size in a stored head is
// damage, refused before anything of that size is allocated.
std::int64_t MaxDecompressedSize(TVEZCompressionAlgorithm algorithm, std::int32_t in_size);

// The algorithm whose name equals the text without regard to case; acaNone
// for any other text.
TVEZCompressionAlgorithm StrToCompressionAlgorithm(std::string_view name);

// The ordinary heap as the wrappers use it: a block of size bytes (at least
// 1), or the block resized; std::bad_alloc when the heap refuses, the old
// block then kept.
std::uint8_t* CompressionHeapAlloc(std::size_t size);
std::uint8_t* CompressionHeapRealloc(void* block, std::size_t size);
// True while a TScopedCompressionHeapFailure lives on this thread; the
// libraries' own allocation hooks then refuse too.
bool CompressionHeapFailing() noexcept;

// Fault injection for tests: while an instance lives, every heap block the
// compression wrappers (and the libraries inside them) ask for on this thread
// is refused. Instances nest.
class TScopedCompressionHeapFailure {
 public:
  TScopedCompressionHeapFailure();
  ~TScopedCompressionHeapFailure();
  TScopedCompressionHeapFailure(const TScopedCompressionHeapFailure&) = delete;
  TScopedCompressionHeapFailure& operator=(const TScopedCompressionHeapFailure&) = delete;
};

// The last zlib failure seen by CompressBuffer/DecompressBuffer on this thread
// (empty when there was none).
void GetLastCompressionError(std::string& text);

}  // namespace vez
