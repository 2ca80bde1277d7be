#include "dbengine/foundation/VEZPPM.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/core/CheckedMath.h"

namespace vez {

namespace {

constexpr TPPMPreset kPresets[9] = {{2, 2},  {3, 3},   {4, 7},    {5, 16},  {7, 22},
                                    {8, 25}, {10, 40}, {13, 100}, {16, 100}};
constexpr std::uint32_t kVariant = 6;
constexpr std::uint32_t kMiB = 1048576;

// The one model of the process and the lock that guards it.
struct TPPMUnit {
  std::mutex lock;
  TPPMModel model;
  int last_restarts = 0;
};

TPPMUnit& Unit() {
  static TPPMUnit unit;
  return unit;
}

}  // namespace

TPPMPreset PPMPresetForMode(std::int32_t mode) {
  return kPresets[std::clamp<std::int32_t>(mode, 1, 9) - 1];
}

std::uint32_t PPMHead(int max_order, int memory_mib) {
  return static_cast<std::uint32_t>(max_order - 1) |
         (static_cast<std::uint32_t>(memory_mib - 1) << 4) | (kVariant << 12);
}

void PPMCompressBuffer(const void* in_buffer, std::int32_t in_size, TVEZHeapBuffer& out_buffer,
                       std::int32_t& out_size, std::int32_t mode) {
  const TPPMPreset preset = PPMPresetForMode(mode);
  PPMCompressBufferWithModel(in_buffer, in_size, out_buffer, out_size, preset.MaxOrder,
                             preset.MemoryMiB);
}

void PPMCompressBufferWithModel(const void* in_buffer, std::int32_t in_size,
                                TVEZHeapBuffer& out_buffer, std::int32_t& out_size, int max_order,
                                int memory_mib) {
  out_buffer.reset();
  out_size = 0;
  if (in_size < 0 || max_order < 1 || max_order > TPPMModel::kMaxOrderLimit || memory_mib < 1 ||
      memory_mib > 256)
    throw EPPMError("PPM Compression error");
  const std::int32_t capacity =
      platform::CheckedAdd(platform::CheckedAdd(in_size, in_size / 20), 50);
  TPPMUnit& unit = Unit();
  std::lock_guard<std::mutex> guard(unit.lock);
  TPPMOutput out(capacity);
  const std::uint32_t head = PPMHead(max_order, memory_mib);
  for (int i = 0; i < 4; ++i)
    out.Put(static_cast<std::uint8_t>(head >> (8 * i)));
  try {
    unit.model.Encode(static_cast<const std::uint8_t*>(in_buffer),
                      static_cast<std::size_t>(in_size), max_order,
                      static_cast<std::uint32_t>(memory_mib) * kMiB, out);
  } catch (...) {
    unit.last_restarts = unit.model.Restarts();
    throw;
  }
  unit.last_restarts = unit.model.Restarts();
  const std::int32_t written = out.Position();
  if (written <= 0) throw EPPMError("PPM Compression error");
  out_buffer = out.Release();
  out_size = written;
}

void PPMDecompressBuffer(const void* in_buffer, std::int32_t in_size, TVEZHeapBuffer& out_buffer,
                         std::int32_t& out_size) {
  out_buffer.reset();
  if (out_size <= 0) throw EPPMError("PPM DecpmpressBuf: OutSize must be set");
  const std::int32_t capacity = out_size;
  out_size = 0;
  TPPMUnit& unit = Unit();
  std::lock_guard<std::mutex> guard(unit.lock);
  TVEZHeapBuffer out(CompressionHeapAlloc(static_cast<std::size_t>(capacity)));
  std::memset(out.get(), 0, static_cast<std::size_t>(capacity));
  std::size_t decoded = 0;
  unit.last_restarts = 0;
  if (in_buffer != nullptr && in_size >= 4) {
    const auto* in = static_cast<const std::uint8_t*>(in_buffer);
    const std::uint32_t head = std::uint32_t{in[0]} | (std::uint32_t{in[1]} << 8) |
                               (std::uint32_t{in[2]} << 16) | (std::uint32_t{in[3]} << 24);
    // The variant number takes every bit above 11: a head with any of bits
    // 16-31 set is not ours either.
    if ((head >> 12) == kVariant) {
      const int max_order = static_cast<int>(head & 0xF) + 1;
      const std::uint32_t memory = (((head >> 4) & 0xFF) + 1) * kMiB;
      try {
        decoded = unit.model.Decode(in + 4, static_cast<std::size_t>(in_size - 4), max_order,
                                    memory, out.get(), static_cast<std::size_t>(capacity));
      } catch (...) {
        unit.last_restarts = unit.model.Restarts();
        throw;
      }
      unit.last_restarts = unit.model.Restarts();
    }
  }
  if (decoded == 0) throw EPPMError("PPM Decompression error");
  out_buffer = std::move(out);
  out_size = static_cast<std::int32_t>(decoded);
}

int PPMLastRestarts() {
  TPPMUnit& unit = Unit();
  std::lock_guard<std::mutex> guard(unit.lock);
  return unit.last_restarts;
}

}  // namespace vez
