// DES, triple DES on 8-byte blocks, triple DES on 24-byte blocks, and
// Blowfish. Blocks are read as two 32-bit words, most significant byte first.
#include <cstring>

#include "dbengine/foundation/VEZCipher.h"
#include "dbengine/foundation/VEZDecUtil.h"

namespace vez {

namespace {

std::uint32_t LoadBE(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

void StoreBE(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// ---------------------------------------------------------------------------
// DES tables; bit 1 is the most significant bit, as the standard counts.

constexpr std::uint8_t kIP[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                                  62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                                  57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                                  61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
constexpr std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                 2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr std::uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                   10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                   63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                   14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr std::uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                   26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                   51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr std::uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
constexpr std::uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

struct DesTables {
  // A 64-bit permutation as eight byte-indexed tables.
  std::uint64_t ip[8][256];
  std::uint64_t fp[8][256];
  // S-box i followed by the P permutation, by its 6-bit input.
  std::uint32_t sp[8][64];

  static void BuildPermutation(const std::uint8_t* from, std::uint64_t (*t)[256]) {
    // Output bit i (1 = most significant) takes input bit from[i-1].
    for (int byte = 0; byte < 8; ++byte)
      for (int v = 0; v < 256; ++v) {
        std::uint64_t out = 0;
        for (int i = 0; i < 64; ++i) {
          const int src = from[i] - 1;  // 0 = most significant input bit
          if (src / 8 != byte) continue;
          if (v & (0x80 >> (src % 8))) out |= std::uint64_t{1} << (63 - i);
        }
        t[byte][v] = out;
      }
  }

  DesTables() {
    std::uint8_t fp_from[64];
    for (int i = 0; i < 64; ++i)
      fp_from[kIP[i] - 1] = static_cast<std::uint8_t>(i + 1);
    BuildPermutation(kIP, ip);
    BuildPermutation(fp_from, fp);
    for (int box = 0; box < 8; ++box)
      for (int v = 0; v < 64; ++v) {
        const int row = ((v >> 4) & 2) | (v & 1);
        const int col = (v >> 1) & 0xF;
        const std::uint32_t s = std::uint32_t{kS[box][row * 16 + col]} << (28 - 4 * box);
        std::uint32_t out = 0;
        for (int i = 0; i < 32; ++i)
          if (s & (0x80000000u >> (kP[i] - 1))) out |= 0x80000000u >> i;
        sp[box][v] = out;
      }
  }
};

const DesTables& DT() {
  static const DesTables t;
  return t;
}

std::uint64_t Permute(const std::uint64_t (*t)[256], std::uint64_t v) {
  std::uint64_t r = 0;
  for (int b = 0; b < 8; ++b)
    r |= t[b][(v >> (56 - 8 * b)) & 0xFF];
  return r;
}

}  // namespace

// ---------------------------------------------------------------------------
// Single DES

TCipher_1DES::TCipher_1DES(std::shared_ptr<TProtection> protection)
    : TCipher(std::move(protection), 8, 8, 256) {}

TCipher_1DES::TCipher_1DES(std::shared_ptr<TProtection> protection, std::int32_t buf_size,
                           std::int32_t key_size, std::int32_t user_size)
    : TCipher(std::move(protection), buf_size, key_size, user_size) {}

void TCipher_1DES::KnownAnswer() const {
  throw platform::Exception("TCipher_1DES.TestVector not implemented");
}

void TCipher_1DES::MakeSchedule(const std::uint8_t* key, bool decrypt, std::uint32_t* k) {
  std::uint64_t key64 = 0;
  for (int i = 0; i < 8; ++i)
    key64 = (key64 << 8) | key[i];
  std::uint64_t cd = 0;  // 56 bits, C in the upper 28
  for (int i = 0; i < 56; ++i)
    if (key64 & (std::uint64_t{1} << (64 - kPC1[i]))) cd |= std::uint64_t{1} << (55 - i);
  std::uint32_t c = static_cast<std::uint32_t>(cd >> 28) & 0x0FFFFFFF;
  std::uint32_t d = static_cast<std::uint32_t>(cd) & 0x0FFFFFFF;
  for (int round = 0; round < 16; ++round) {
    for (int s = 0; s < kShifts[round]; ++s) {
      c = ((c << 1) | (c >> 27)) & 0x0FFFFFFF;
      d = ((d << 1) | (d >> 27)) & 0x0FFFFFFF;
    }
    const std::uint64_t joined = (std::uint64_t{c} << 28) | d;
    std::uint64_t sub = 0;  // 48 bits
    for (int i = 0; i < 48; ++i)
      if (joined & (std::uint64_t{1} << (56 - kPC2[i]))) sub |= std::uint64_t{1} << (47 - i);
    std::uint32_t w0 = 0, w1 = 0;
    for (int i = 0; i < 4; ++i) {
      w0 |= static_cast<std::uint32_t>((sub >> (42 - 6 * i)) & 0x3F) << (24 - 8 * i);
      w1 |= static_cast<std::uint32_t>((sub >> (18 - 6 * i)) & 0x3F) << (24 - 8 * i);
    }
    const int slot = decrypt ? 15 - round : round;
    k[2 * slot] = w0;
    k[2 * slot + 1] = w1;
  }
}

void TCipher_1DES::DESFunc(const std::uint32_t* k, std::uint8_t* block) {
  const auto& t = DT();
  const std::uint64_t in = (std::uint64_t{LoadBE(block)} << 32) | LoadBE(block + 4);
  const std::uint64_t p = Permute(t.ip, in);
  std::uint32_t l = static_cast<std::uint32_t>(p >> 32);
  std::uint32_t r = static_cast<std::uint32_t>(p);
  for (int round = 0; round < 16; ++round) {
    const std::uint64_t v = r;
    const std::uint64_t w = (v << 33) | (v << 1) | (v >> 31);
    const std::uint32_t k0 = k[2 * round], k1 = k[2 * round + 1];
    std::uint32_t f = 0;
    for (int i = 0; i < 8; ++i) {
      const std::uint32_t kk = ((i < 4 ? k0 : k1) >> (24 - 8 * (i % 4))) & 0x3F;
      f ^= t.sp[i][((w >> (28 - 4 * i)) & 0x3F) ^ kk];
    }
    const std::uint32_t nl = r;
    r = l ^ f;
    l = nl;
  }
  const std::uint64_t out = Permute(t.fp, (std::uint64_t{r} << 32) | l);
  StoreBE(block, static_cast<std::uint32_t>(out >> 32));
  StoreBE(block + 4, static_cast<std::uint32_t>(out));
}

void TCipher_1DES::SetupKey(const std::uint8_t* key, std::int32_t) {
  MakeSchedule(key, false, User());
  MakeSchedule(key, true, User() + 32);
}

void TCipher_1DES::EncryptBlock(void* block) const {
  DESFunc(User(), static_cast<std::uint8_t*>(block));
}

void TCipher_1DES::DecryptBlock(void* block) const {
  DESFunc(User() + 32, static_cast<std::uint8_t*>(block));
}

// ---------------------------------------------------------------------------
// Triple DES. Schedules: K1 enc, K2 dec, K3 enc, then K3 dec, K2 enc, K1 dec.

TCipher_3DES::TCipher_3DES(std::shared_ptr<TProtection> protection)
    : TCipher_1DES(std::move(protection), 8, 24, 768) {}

TCipher_3DES::TCipher_3DES(std::shared_ptr<TProtection> protection, std::int32_t buf_size)
    : TCipher_1DES(std::move(protection), buf_size, 24, 768) {}

void TCipher_3DES::KnownAnswer() const {
  throw platform::Exception("TCipher_3DES.TestVector not implemented 24");
}

void TCipher_3DES::SetupKey(const std::uint8_t* key, std::int32_t) {
  std::uint32_t* k = User();
  MakeSchedule(key, false, k);
  MakeSchedule(key + 8, true, k + 32);
  MakeSchedule(key + 16, false, k + 64);
  MakeSchedule(key + 16, true, k + 96);
  MakeSchedule(key + 8, false, k + 128);
  MakeSchedule(key, true, k + 160);
}

void TCipher_3DES::EncryptBlock(void* block) const {
  auto* b = static_cast<std::uint8_t*>(block);
  for (int i = 0; i < 3; ++i)
    DESFunc(User() + 32 * i, b);
}

void TCipher_3DES::DecryptBlock(void* block) const {
  auto* b = static_cast<std::uint8_t*>(block);
  for (int i = 3; i < 6; ++i)
    DESFunc(User() + 32 * i, b);
}

TCipher_3TDES::TCipher_3TDES(std::shared_ptr<TProtection> protection)
    : TCipher_3DES(std::move(protection), 24) {}

void TCipher_3TDES::KnownAnswer() const {
  throw platform::Exception("TCipher_3TDES.TestVector not implemented 25");
}

namespace {

// Exchanges bytes 4-7 and 8-11 of a 24-byte block.
void SwapMiddleWords(std::uint8_t* b) {
  std::uint8_t t[4];
  std::memcpy(t, b + 4, 4);
  std::memmove(b + 4, b + 8, 4);
  std::memcpy(b + 8, t, 4);
}

}  // namespace

void TCipher_3TDES::EncryptBlock(void* block) const {
  auto* b = static_cast<std::uint8_t*>(block);
  for (int layer = 0; layer < 3; ++layer) {
    if (layer > 0) SwapMiddleWords(b);
    for (int lane = 0; lane < 3; ++lane)
      DESFunc(User() + 32 * layer, b + 8 * lane);
  }
}

void TCipher_3TDES::DecryptBlock(void* block) const {
  auto* b = static_cast<std::uint8_t*>(block);
  for (int layer = 3; layer < 6; ++layer) {
    if (layer > 3) SwapMiddleWords(b);
    for (int lane = 0; lane < 3; ++lane)
      DESFunc(User() + 32 * layer, b + 8 * lane);
  }
}

// ---------------------------------------------------------------------------
// Blowfish. Key schedule area: P-array (18 words), then S-boxes 0..3.

namespace {

constexpr std::uint32_t kPiWords[18 + 4 * 256] = {
#include "dbengine/foundation/VEZBlowfishTables.inc"
};

inline std::uint32_t BlowfishF(const std::uint32_t* s, std::uint32_t x) {
  return ((s[x >> 24] + s[256 + ((x >> 16) & 0xFF)]) ^ s[512 + ((x >> 8) & 0xFF)]) +
         s[768 + (x & 0xFF)];
}

void BlowfishEncrypt(const std::uint32_t* u, std::uint32_t& l, std::uint32_t& r) {
  const std::uint32_t* p = u;
  const std::uint32_t* s = u + 18;
  for (int i = 0; i < 16; i += 2) {
    l ^= p[i];
    r ^= BlowfishF(s, l);
    r ^= p[i + 1];
    l ^= BlowfishF(s, r);
  }
  l ^= p[16];
  r ^= p[17];
  std::swap(l, r);
}

}  // namespace

TCipher_Blowfish::TCipher_Blowfish(std::shared_ptr<TProtection> protection)
    : TCipher(std::move(protection), 8, 56, 4168) {}

void TCipher_Blowfish::KnownAnswer() const {
  throw platform::Exception("TCipher_Blowfish.TestVector not implemented 21");
}

void TCipher_Blowfish::SetupKey(const std::uint8_t* key, std::int32_t size) {
  std::uint32_t* u = User();
  std::memcpy(u, kPiWords, sizeof kPiWords);
  // An empty key is taken as one zero byte, the bytes being used cyclically.
  const std::uint8_t zero = 0;
  if (size <= 0) {
    key = &zero;
    size = 1;
  }
  std::int32_t j = 0;
  for (int i = 0; i < 18; ++i) {
    std::uint32_t w = 0;
    for (int b = 0; b < 4; ++b) {
      w = (w << 8) | key[j];
      j = (j + 1) % size;
    }
    u[i] ^= w;
  }
  std::uint32_t l = 0, r = 0;
  for (int i = 0; i < 18 + 4 * 256; i += 2) {
    BlowfishEncrypt(u, l, r);
    u[i] = l;
    u[i + 1] = r;
  }
}

void TCipher_Blowfish::EncryptBlock(void* block) const {
  auto* b = static_cast<std::uint8_t*>(block);
  std::uint32_t l = LoadBE(b), r = LoadBE(b + 4);
  BlowfishEncrypt(User(), l, r);
  StoreBE(b, l);
  StoreBE(b + 4, r);
}

void TCipher_Blowfish::DecryptBlock(void* block) const {
  auto* b = static_cast<std::uint8_t*>(block);
  const std::uint32_t* p = User();
  const std::uint32_t* s = User() + 18;
  std::uint32_t l = LoadBE(b), r = LoadBE(b + 4);
  for (int i = 17; i > 1; i -= 2) {
    l ^= p[i];
    r ^= BlowfishF(s, l);
    r ^= p[i - 1];
    l ^= BlowfishF(s, r);
  }
  l ^= p[1];
  r ^= p[0];
  StoreBE(b, r);
  StoreBE(b + 4, l);
}

}  // namespace vez
