// Twofish with key-dependent S-boxes folded into the MDS matrix. The odd
// subkeys halve B where the published algorithm doubles it (VEZCipher.h).
#include <cstring>

#include "dbengine/foundation/VEZCipher.h"
#include "dbengine/foundation/VEZDecUtil.h"

namespace vez {

namespace {

constexpr std::uint8_t kQ0T[4][16] = {{8, 1, 7, 13, 6, 15, 3, 2, 0, 11, 5, 9, 14, 12, 10, 4},
                                      {14, 12, 11, 8, 1, 2, 3, 5, 15, 4, 10, 6, 7, 0, 9, 13},
                                      {11, 10, 5, 14, 6, 13, 9, 0, 12, 8, 15, 3, 2, 4, 7, 1},
                                      {13, 7, 15, 4, 1, 2, 6, 14, 9, 11, 3, 0, 8, 5, 12, 10}};
constexpr std::uint8_t kQ1T[4][16] = {{2, 8, 11, 13, 15, 7, 6, 14, 3, 1, 9, 4, 0, 10, 12, 5},
                                      {1, 14, 2, 11, 4, 12, 3, 7, 6, 13, 10, 5, 15, 9, 0, 8},
                                      {4, 12, 7, 5, 1, 6, 9, 10, 0, 14, 13, 8, 2, 11, 3, 15},
                                      {11, 9, 5, 1, 12, 3, 13, 14, 6, 4, 7, 15, 2, 0, 8, 10}};
constexpr std::uint8_t kMDS[4][4] = {{0x01, 0xEF, 0x5B, 0x5B},
                                     {0x5B, 0xEF, 0xEF, 0x01},
                                     {0xEF, 0x5B, 0x01, 0xEF},
                                     {0xEF, 0x01, 0xEF, 0x5B}};
constexpr std::uint8_t kRS[4][8] = {{0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
                                    {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
                                    {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
                                    {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03}};

std::uint8_t GfMul(std::uint8_t a, std::uint8_t b, unsigned poly) {
  unsigned r = 0, x = a;
  while (b) {
    if (b & 1) r ^= x;
    x <<= 1;
    if (x & 0x100) x ^= poly;
    b >>= 1;
  }
  return static_cast<std::uint8_t>(r);
}

struct TwofishTables {
  std::uint8_t q[2][256];
  // MDS column j times each byte value.
  std::uint32_t mds[4][256];
  static std::uint8_t Ror4(std::uint8_t v) {
    return static_cast<std::uint8_t>(((v >> 1) | (v << 3)) & 0xF);
  }
  static std::uint8_t Q(const std::uint8_t (*t)[16], std::uint8_t x) {
    std::uint8_t a = x >> 4, b = x & 0xF;
    std::uint8_t a1 = a ^ b, b1 = static_cast<std::uint8_t>((a ^ Ror4(b) ^ (8 * a)) & 0xF);
    std::uint8_t a2 = t[0][a1], b2 = t[1][b1];
    std::uint8_t a3 = a2 ^ b2, b3 = static_cast<std::uint8_t>((a2 ^ Ror4(b2) ^ (8 * a2)) & 0xF);
    return static_cast<std::uint8_t>((t[3][b3] << 4) | t[2][a3]);
  }
  TwofishTables() {
    for (int x = 0; x < 256; ++x) {
      q[0][x] = Q(kQ0T, static_cast<std::uint8_t>(x));
      q[1][x] = Q(kQ1T, static_cast<std::uint8_t>(x));
    }
    for (int j = 0; j < 4; ++j)
      for (int x = 0; x < 256; ++x) {
        std::uint32_t w = 0;
        for (int i = 0; i < 4; ++i)
          w |= std::uint32_t{GfMul(kMDS[i][j], static_cast<std::uint8_t>(x), 0x169)} << (8 * i);
        mds[j][x] = w;
      }
  }
};

const TwofishTables& TT() {
  static const TwofishTables t;
  return t;
}

inline std::uint8_t B(std::uint32_t w, int i) {
  return static_cast<std::uint8_t>(w >> (8 * i));
}

// The q-chain of h for byte lane j, keyed by the k words of l.
std::uint8_t HLane(int j, std::uint8_t y, const std::uint32_t* l, int k) {
  const auto& q = TT().q;
  // Which permutation each stage applies in each lane, outermost stage first.
  static constexpr std::uint8_t kStage4[4] = {1, 0, 0, 1};
  static constexpr std::uint8_t kStage3[4] = {1, 1, 0, 0};
  static constexpr std::uint8_t kStage2[4] = {0, 1, 0, 1};
  static constexpr std::uint8_t kStage1[4] = {0, 0, 1, 1};
  static constexpr std::uint8_t kStage0[4] = {1, 0, 1, 0};
  if (k == 4) y = q[kStage4[j]][y] ^ B(l[3], j);
  if (k >= 3) y = q[kStage3[j]][y] ^ B(l[2], j);
  y = q[kStage2[j]][y] ^ B(l[1], j);
  y = q[kStage1[j]][y] ^ B(l[0], j);
  return q[kStage0[j]][y];
}

std::uint32_t H(std::uint32_t x, const std::uint32_t* l, int k) {
  const auto& m = TT().mds;
  return m[0][HLane(0, B(x, 0), l, k)] ^ m[1][HLane(1, B(x, 1), l, k)] ^
         m[2][HLane(2, B(x, 2), l, k)] ^ m[3][HLane(3, B(x, 3), l, k)];
}

std::uint32_t LoadLE(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

void StoreLE(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Key schedule area: 40 subkeys, then the four keyed S-box tables.
constexpr int kSBoxOffset = 40;

inline std::uint32_t G(const std::uint32_t* s, std::uint32_t x) {
  return s[B(x, 0)] ^ s[256 + B(x, 1)] ^ s[512 + B(x, 2)] ^ s[768 + B(x, 3)];
}

}  // namespace

TCipher_Twofish::TCipher_Twofish(std::shared_ptr<TProtection> protection)
    : TCipher(std::move(protection), 16, 32, 4256) {}

void TCipher_Twofish::KnownAnswer() const {
  throw platform::Exception("TCipher_Twofish.TestVector not implemented 26");
}

void TCipher_Twofish::SetupKey(const std::uint8_t* key, std::int32_t size) {
  const int k = size <= 16 ? 2 : size <= 24 ? 3 : 4;
  std::uint32_t me[4] = {}, mo[4] = {}, s[4] = {};
  for (int i = 0; i < k; ++i) {
    me[i] = LoadLE(key + 8 * i);
    mo[i] = LoadLE(key + 8 * i + 4);
    std::uint32_t w = 0;
    for (int r = 0; r < 4; ++r) {
      std::uint8_t v = 0;
      for (int c = 0; c < 8; ++c)
        v ^= GfMul(kRS[r][c], key[8 * i + c], 0x14D);
      w |= std::uint32_t{v} << (8 * r);
    }
    s[k - 1 - i] = w;  // the S words are used in reverse order
  }
  std::uint32_t* u = User();
  constexpr std::uint32_t kRho = 0x01010101u;
  for (std::uint32_t i = 0; i < 20; ++i) {
    const std::uint32_t a = H(2 * i * kRho, me, k);
    const std::uint32_t b = RotateLeft32(H((2 * i + 1) * kRho, mo, k), 8);
    u[2 * i] = a + b;
    u[2 * i + 1] = RotateLeft32(a + (b >> 1), 9);
  }
  const auto& m = TT().mds;
  std::uint32_t* sb = u + kSBoxOffset;
  for (int j = 0; j < 4; ++j)
    for (int x = 0; x < 256; ++x)
      sb[256 * j + x] = m[j][HLane(j, static_cast<std::uint8_t>(x), s, k)];
  SecureZero(me, sizeof me);
  SecureZero(mo, sizeof mo);
  SecureZero(s, sizeof s);
}

void TCipher_Twofish::EncryptBlock(void* block) const {
  auto* p = static_cast<std::uint8_t*>(block);
  const std::uint32_t* k = User();
  const std::uint32_t* s = User() + kSBoxOffset;
  std::uint32_t r0 = LoadLE(p) ^ k[0], r1 = LoadLE(p + 4) ^ k[1], r2 = LoadLE(p + 8) ^ k[2],
                r3 = LoadLE(p + 12) ^ k[3];
  for (int r = 0; r < 16; ++r) {
    const std::uint32_t t0 = G(s, r0);
    const std::uint32_t t1 = G(s, RotateLeft32(r1, 8));
    r2 = RotateRight32(r2 ^ (t0 + t1 + k[2 * r + 8]), 1);
    r3 = RotateLeft32(r3, 1) ^ (t0 + 2 * t1 + k[2 * r + 9]);
    std::swap(r0, r2);
    std::swap(r1, r3);
  }
  StoreLE(p, r2 ^ k[4]);
  StoreLE(p + 4, r3 ^ k[5]);
  StoreLE(p + 8, r0 ^ k[6]);
  StoreLE(p + 12, r1 ^ k[7]);
}

void TCipher_Twofish::DecryptBlock(void* block) const {
  auto* p = static_cast<std::uint8_t*>(block);
  const std::uint32_t* k = User();
  const std::uint32_t* s = User() + kSBoxOffset;
  std::uint32_t r2 = LoadLE(p) ^ k[4], r3 = LoadLE(p + 4) ^ k[5], r0 = LoadLE(p + 8) ^ k[6],
                r1 = LoadLE(p + 12) ^ k[7];
  for (int r = 15; r >= 0; --r) {
    std::swap(r0, r2);
    std::swap(r1, r3);
    const std::uint32_t t0 = G(s, r0);
    const std::uint32_t t1 = G(s, RotateLeft32(r1, 8));
    r2 = RotateLeft32(r2, 1) ^ (t0 + t1 + k[2 * r + 8]);
    r3 = RotateRight32(r3 ^ (t0 + 2 * t1 + k[2 * r + 9]), 1);
  }
  StoreLE(p, r0 ^ k[0]);
  StoreLE(p + 4, r1 ^ k[1]);
  StoreLE(p + 8, r2 ^ k[2]);
  StoreLE(p + 12, r3 ^ k[3]);
}

}  // namespace vez
