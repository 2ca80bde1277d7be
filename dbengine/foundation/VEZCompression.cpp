#include "dbengine/foundation/VEZCompression.h"

#include <new>

#include "dbengine/foundation/VEZBZip2.h"
#include "dbengine/foundation/VEZPPM.h"
#include "dbengine/foundation/VEZZlib.h"

namespace vez {

namespace {

thread_local std::string last_compression_error;
thread_local int heap_failures = 0;

}  // namespace

std::uint8_t* CompressionHeapAlloc(std::size_t size) {
  void* p = heap_failures > 0 ? nullptr : std::malloc(size == 0 ? 1 : size);
  if (!p) throw std::bad_alloc();
  return static_cast<std::uint8_t*>(p);
}

std::uint8_t* CompressionHeapRealloc(void* block, std::size_t size) {
  void* p = heap_failures > 0 ? nullptr : std::realloc(block, size == 0 ? 1 : size);
  if (!p) throw std::bad_alloc();
  return static_cast<std::uint8_t*>(p);
}

bool CompressionHeapFailing() noexcept {
  return heap_failures > 0;
}

TScopedCompressionHeapFailure::TScopedCompressionHeapFailure() {
  ++heap_failures;
}

TScopedCompressionHeapFailure::~TScopedCompressionHeapFailure() {
  --heap_failures;
}

bool CompressBuffer(TVEZCompressionAlgorithm algorithm, std::uint8_t mode, const void* in_buffer,
                    std::int32_t in_size, TVEZHeapBuffer& out_buffer, std::int32_t& out_size) {
  out_size = 0;
  if (algorithm == acaNone || in_size <= 0) return false;
  try {
    switch (algorithm) {
      case acaZLIB:
        try {
          ZLIBCompressBuffer(in_buffer, in_size, out_buffer, out_size, mode);
        } catch (const EZlibError&) {
          last_compression_error = LastZLIBError();
          throw;
        }
        break;
      case acaBZIP:
        // The library refuses block size 0; a bzip2 stream records its own
        // block size, so using 1 keeps the data readable everywhere.
        BZIPCompressBuffer(in_buffer, in_size, out_buffer, out_size, mode == 0 ? 1 : mode);
        break;
      case acaPPM:
        PPMCompressBuffer(in_buffer, in_size, out_buffer, out_size, mode);
        break;
      default:
        return false;
    }
  } catch (const EZlibError&) {
    // Only the libraries' own refusals mean "cannot compress": out of memory,
    // overflow and the memory manager's errors keep their cause.
    out_buffer.reset();
    out_size = 0;
    return false;
  } catch (const EBZip2Error&) {
    out_buffer.reset();
    out_size = 0;
    return false;
  } catch (const EPPMError&) {
    out_buffer.reset();
    out_size = 0;
    return false;
  } catch (...) {
    out_buffer.reset();
    out_size = 0;
    throw;
  }
  return out_size > 0;
}

bool DecompressBuffer(TVEZCompressionAlgorithm algorithm, const void* in_buffer,
                      std::int32_t in_size, TVEZHeapBuffer& out_buffer, std::int32_t& out_size) {
  if (algorithm == acaNone || in_size <= 0) return false;
  if (algorithm != acaZLIB && algorithm != acaBZIP && algorithm != acaPPM) return false;
  const std::int32_t expected = out_size;
  bool ok = false;
  try {
    if (algorithm == acaZLIB)
      ZLIBDecompressBuffer(in_buffer, in_size, expected, out_buffer, out_size);
    else if (algorithm == acaBZIP)
      BZIPDecompressBuffer(in_buffer, in_size, expected, out_buffer, out_size);
    else
      PPMDecompressBuffer(in_buffer, in_size, out_buffer, out_size);
    // Callers copy the expected number of bytes: anything else is a failure.
    ok = out_size > 0 && (expected <= 0 || out_size == expected);
  } catch (const EZlibError&) {
    ok = false;
  } catch (const EBZip2Error&) {
    ok = false;
  } catch (const EPPMError&) {
    ok = false;
  } catch (...) {
    out_buffer.reset();
    out_size = 0;
    throw;
  }
  if (!ok) {
    if (algorithm == acaZLIB) last_compression_error = LastZLIBError();
    out_buffer.reset();
    out_size = 0;
  }
  return ok;
}

std::int64_t MaxDecompressedSize(TVEZCompressionAlgorithm algorithm, std::int32_t in_size) {
  if (in_size <= 0) return 0;
  switch (algorithm) {
    case acaNone:
      return in_size;
    case acaZLIB:
      return std::int64_t{in_size} * kMaxInflateRatio;
    case acaBZIP:
      return BZIPDecompressLimit(in_size);
    case acaPPM:
      return std::int64_t{in_size} * kMaxPPMRatio;
    default:
      return 0;
  }
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
