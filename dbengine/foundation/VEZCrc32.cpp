#include "dbengine/foundation/VEZCrc32.h"

#include <zlib.h>

#include <cstddef>
#include <initializer_list>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VEZ_CRC32_CLMUL 1
#endif

namespace vez {

namespace {

// zlib's crc32 inverts on entry and exit; the engine's register does not.
std::uint32_t ZlibUpdate(std::uint32_t crc, const std::uint8_t* buffer, std::uint32_t length) {
  return static_cast<std::uint32_t>(crc32(crc ^ 0xFFFFFFFFu, buffer, length)) ^ 0xFFFFFFFFu;
}

#ifdef VEZ_CRC32_CLMUL

// The register after length bytes (a multiple of 16, at least 64), folded
// with carry-less multiplication: four 128-bit lanes folded 64 bytes at a
// time, then into one, then Barrett-reduced to 32 bits. The constants are
// those of the bit-reflected zlib polynomial (x^n mod P for the fold
// distances, P and floor(x^64 / P) for the reduction). The rollback journal
// checksums every commit's pages, which zlib's table method makes a
// noticeable part of a commit.
__attribute__((target("sse4.1,pclmul"))) std::uint32_t ClmulUpdate(std::uint32_t crc,
                                                                   const std::uint8_t* buf,
                                                                   std::size_t len) {
  alignas(16) static const std::uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
  alignas(16) static const std::uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
  alignas(16) static const std::uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
  alignas(16) static const std::uint64_t poly[] = {0x01db710641, 0x01f7011641};
  const auto load = [](const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  };
  __m128i x1 = load(buf + 0x00);
  __m128i x2 = load(buf + 0x10);
  __m128i x3 = load(buf + 0x20);
  __m128i x4 = load(buf + 0x30);
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  buf += 64;
  len -= 64;
  while (len >= 64) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    const __m128i x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
    const __m128i x7 = _mm_clmulepi64_si128(x3, x0, 0x00);
    const __m128i x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x11);
    x3 = _mm_clmulepi64_si128(x3, x0, 0x11);
    x4 = _mm_clmulepi64_si128(x4, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), load(buf + 0x00));
    x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), load(buf + 0x10));
    x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), load(buf + 0x20));
    x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), load(buf + 0x30));
    buf += 64;
    len -= 64;
  }
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  for (const __m128i next : {x2, x3, x4}) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, next), x5);
  }
  while (len >= 16) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, load(buf)), x5);
    buf += 16;
    len -= 16;
  }
  // 128 bits to 64.
  x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_and_si128(x1, low32);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, x0, 0x00), x2);
  // Barrett reduction to 32 bits.
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  x2 = _mm_and_si128(x1, low32);
  x2 = _mm_clmulepi64_si128(x2, x0, 0x10);
  x2 = _mm_and_si128(x2, low32);
  x2 = _mm_clmulepi64_si128(x2, x0, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

bool HasClmul() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

#endif

}  // namespace

std::uint32_t UpdateCrc32(std::uint32_t crc, const void* buffer, std::uint32_t length) {
  if (length == 0) return crc;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
#ifdef VEZ_CRC32_CLMUL
  if (length >= 64 && HasClmul()) {
    const std::uint32_t folded = length & ~std::uint32_t{15};
    crc = ClmulUpdate(crc, bytes, folded);
    bytes += folded;
    length -= folded;
    if (length == 0) return crc;
  }
#endif
  return ZlibUpdate(crc, bytes, length);
}

}  // namespace vez
