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
// (acaNone, in_size <= 0, an unknown or unavailable algorithm, or any failure of
// the library) out_size is 0 and out_buffer is left as it was unless a failure
// happened after the call began, in which case it is empty. Never throws.
bool CompressBuffer(TVEZCompressionAlgorithm algorithm, std::uint8_t mode, const void* in_buffer,
                    std::int32_t in_size, TVEZHeapBuffer& out_buffer, std::int32_t& out_size);

// Decompresses in_size bytes of in_buffer. out_size on entry is the expected
// decompressed size (0 when unknown). True only when the data decompressed
// whole and, for an expected size, to exactly that many bytes; then out_buffer
// holds out_size bytes. acaNone or in_size <= 0 give False with nothing touched;
// any other failure gives False with out_buffer empty and out_size 0.
// Never throws.
bool DecompressBuffer(TVEZCompressionAlgorithm algorithm, const void* in_buffer,
                      std::int32_t in_size, TVEZHeapBuffer& out_buffer, std::int32_t& out_size);

// The algorithm whose name equals the text without regard to case; acaNone
// for any other text.
TVEZCompressionAlgorithm StrToCompressionAlgorithm(std::string_view name);

// The last zlib failure seen by CompressBuffer/DecompressBuffer on this thread
// (empty when there was none).
void GetLastCompressionError(std::string& text);

}  // namespace vez
