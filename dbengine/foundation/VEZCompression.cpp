#include "dbengine/foundation/VEZCompression.h"

#include "dbengine/foundation/VEZBZip2.h"
#include "dbengine/foundation/VEZZlib.h"

namespace vez {

namespace {

thread_local std::string last_compression_error;

}  // namespace

bool CompressBuffer(TVEZCompressionAlgorithm algorithm, std::uint8_t mode, const void* in_buffer,
                    std::int32_t in_size, TVEZHeapBuffer& out_buffer, std::int32_t& out_size) {
  out_size = 0;
  if (algorithm == acaNone || in_size <= 0) return false;
  try {
    switch (algorithm) {
      case acaZLIB:
        try {
          ZLIBCompressBuffer(in_buffer, in_size, out_buffer, out_size, mode);
        } catch (...) {
          last_compression_error = LastZLIBError();
          throw;
        }
        break;
      case acaBZIP:
        // The library refuses block size 0; a bzip2 stream records its own
        // block size, so using 1 keeps the data readable everywhere.
        BZIPCompressBuffer(in_buffer, in_size, out_buffer, out_size, mode == 0 ? 1 : mode);
        break;
      default:
        // acaPPM: the PPM coder is not part of the engine yet, so it answers
        // like any unavailable algorithm.
        return false;
    }
  } catch (...) {
    out_buffer.reset();
    out_size = 0;
    return false;
  }
  return out_size > 0;
}

bool DecompressBuffer(TVEZCompressionAlgorithm algorithm, const void* in_buffer,
                      std::int32_t in_size, TVEZHeapBuffer& out_buffer, std::int32_t& out_size) {
  if (algorithm == acaNone || in_size <= 0) return false;
  if (algorithm != acaZLIB && algorithm != acaBZIP) {
    // acaPPM: the PPM coder is not part of the engine yet.
    return false;
  }
  const std::int32_t expected = out_size;
  bool ok = false;
  try {
    if (algorithm == acaZLIB)
      ZLIBDecompressBuffer(in_buffer, in_size, expected, out_buffer, out_size);
    else
      BZIPDecompressBuffer(in_buffer, in_size, expected, out_buffer, out_size);
    // Callers copy the expected number of bytes: anything else is a failure.
    ok = out_size > 0 && (expected <= 0 || out_size == expected);
  } catch (...) {
    ok = false;
  }
  if (!ok) {
    if (algorithm == acaZLIB) last_compression_error = LastZLIBError();
    out_buffer.reset();
    out_size = 0;
  }
  return ok;
}

TVEZCompressionAlgorithm StrToCompressionAlgorithm(std::string_view name) {
  std::string upper(name);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  for (std::uint8_t i = 0; i < 4; ++i)
    if (upper == CompressionAlgorithmNames[i]) return static_cast<TVEZCompressionAlgorithm>(i);
  return acaNone;
}

void GetLastCompressionError(std::string& text) {
  text = last_compression_error;
}

}  // namespace vez
