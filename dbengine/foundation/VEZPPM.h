// The PPM compressor (acaPPM): whole buffers in, whole buffers out, framed by
// a 4-byte head that records the model's maximum order and memory, followed
// by the range coder's bytes. The compression mode picks the model from a
// preset table (order 2 with 2 MiB at mode 1 up to order 16 with 100 MiB).
//
// Thread safety: the model is one process-wide object, so every call holds
// one lock for its whole run; PPM work of different threads runs strictly one
// at a time (zlib and bzip2 are not affected).
#pragma once

#include <cstdint>

#include "dbengine/foundation/VEZCompression.h"
#include "dbengine/foundation/VEZPPMModel.h"

namespace vez {

// The coder spends at least 0.0028 bits on a symbol (the most a binary
// context's probability reaches is 16352/16384), about 2840 bytes per stored
// byte; a stream that decompresses further than this ratio is damaged.
inline constexpr std::int64_t kMaxPPMRatio = 4096;

// The model a compression mode stands for (mode 0 and below count as 1, above
// 9 as 9).
struct TPPMPreset {
  int MaxOrder;
  int MemoryMiB;
};
TPPMPreset PPMPresetForMode(std::int32_t mode);

// The head for a model: bits 0-3 order - 1, bits 4-11 memory in MiB - 1,
// bits 12-15 the variant number 6, the rest 0.
std::uint32_t PPMHead(int max_order, int memory_mib);

// Compresses with the preset of the mode. out_buffer becomes a new heap block
// of out_size bytes (head included). The output grows beyond its first guess
// (InSize + InSize/20 + 50) when the input does not compress. Raises
// EPPMError ("PPM Compression error") when no output came and
// std::bad_alloc / platform::EIntOverflow for memory and size limits; then
// out_buffer is empty.
void PPMCompressBuffer(const void* in_buffer, std::int32_t in_size, TVEZHeapBuffer& out_buffer,
                       std::int32_t& out_size, std::int32_t mode);

// The same with an explicit model (order 1 to 16, memory 1 to 256 MiB), for
// tests that need a model smaller than any preset.
void PPMCompressBufferWithModel(const void* in_buffer, std::int32_t in_size,
                                TVEZHeapBuffer& out_buffer, std::int32_t& out_size, int max_order,
                                int memory_mib);

// Decompresses; out_size on entry is the expected size (> 0, else EPPMError
// "PPM DecpmpressBuf: OutSize must be set"). out_buffer becomes a zero-filled
// heap block of that size and out_size the number of bytes decoded. Data that
// decodes to nothing (a wrong head, data that ends at once) raises EPPMError
// "PPM Decompression error", and so does data that would decode past the
// expected size: nothing is ever written beyond it. Damaged data never runs
// longer than the expected size allows and never allocates more model memory
// than its head states (at most 256 MiB).
void PPMDecompressBuffer(const void* in_buffer, std::int32_t in_size, TVEZHeapBuffer& out_buffer,
                         std::int32_t& out_size);

// Model restarts (memory ran out) in the last compression or decompression.
int PPMLastRestarts();

}  // namespace vez
