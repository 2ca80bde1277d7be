// MD4, RIPEMD-128 and RIPEMD-256 of the cipher frame (VEZCipher.h).
#include <cstring>

#include "dbengine/foundation/VEZCipher.h"
#include "dbengine/foundation/VEZDecUtil.h"

namespace vez {

namespace {

inline std::uint32_t Rol(std::uint32_t v, int s) {
  return RotateLeft32(v, s);
}

inline std::uint32_t LoadLE(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

void LoadBlock(const std::uint8_t* block, std::uint32_t x[16]) {
  for (int i = 0; i < 16; ++i)
    x[i] = LoadLE(block + 4 * i);
}

// RIPEMD word orders and rotations, left line then right line, round by round.
constexpr std::uint8_t kR[64] = {0, 1,  2,  3,  4,  5,  6,  7, 8,  9, 10, 11, 12, 13, 14, 15,
                                 7, 4,  13, 1,  10, 6,  15, 3, 12, 0, 9,  5,  2,  14, 11, 8,
                                 3, 10, 14, 4,  9,  15, 8,  1, 2,  7, 0,  6,  13, 11, 5,  12,
                                 1, 9,  11, 10, 0,  8,  12, 4, 13, 3, 7,  15, 14, 5,  6,  2};
constexpr std::uint8_t kRR[64] = {5,  14, 7, 0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12,
                                  6,  11, 3, 7, 0, 13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,
                                  15, 5,  1, 3, 7, 14, 6,  9,  11, 8,  12, 2,  10, 0,  4,  13,
                                  8,  6,  4, 1, 3, 11, 15, 0,  5,  12, 2,  13, 9,  7,  10, 14};
constexpr std::uint8_t kS[64] = {11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,
                                 7,  6,  8,  13, 11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12,
                                 11, 13, 6,  7,  14, 9,  13, 15, 14, 8,  13, 6,  5,  12, 7,  5,
                                 11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,  8,  6,  5,  12};
constexpr std::uint8_t kSR[64] = {8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,
                                  9,  13, 15, 7,  12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11,
                                  9,  7,  15, 11, 8,  6,  6,  14, 12, 13, 5,  14, 13, 13, 7,  5,
                                  15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,  12, 5,  15, 8};
constexpr std::uint32_t kK[4] = {0x00000000u, 0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu};
constexpr std::uint32_t kKR[4] = {0x50A28BE6u, 0x5C4DD124u, 0x6D703EF3u, 0x00000000u};

inline std::uint32_t RipeF(int round, std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  switch (round) {
    case 0:
      return x ^ y ^ z;
    case 1:
      return (x & y) | (~x & z);
    case 2:
      return (x | ~y) ^ z;
    default:
      return (x & z) | (y & ~z);
  }
}

// One line step of RIPEMD-128/256: A, B, C, D rotate by one position.
inline void RipeStep(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d,
                     std::uint32_t f, std::uint32_t x, std::uint32_t k, int s) {
  const std::uint32_t t = Rol(a + f + x + k, s);
  a = d;
  d = c;
  c = b;
  b = t;
}

}  // namespace

// ---------------------------------------------------------------------------
// MD4 frame

THash_MD4::~THash_MD4() {
  SecureZero(digest_, sizeof digest_);
  SecureZero(buffer_, sizeof buffer_);
}

std::uint32_t THash_MD4::Word(int i) const {
  return LoadLE(digest_ + 4 * i);
}

void THash_MD4::SetWord(int i, std::uint32_t value) {
  for (int b = 0; b < 4; ++b)
    digest_[4 * i + b] = static_cast<std::uint8_t>(value >> (8 * b));
}

std::shared_ptr<THash> THash_MD4::Create() {
  return std::make_shared<THash_MD4>();
}

void THash_MD4::KnownAnswer() const {
  throw platform::Exception("THash_MD4.TestVector not implemented 28");
}

void THash_MD4::Init() {
  SecureZero(buffer_, sizeof buffer_);
  SecureZero(digest_, sizeof digest_);
  SetWord(0, 0x67452301u);
  SetWord(1, 0xEFCDAB89u);
  SetWord(2, 0x98BADCFEu);
  SetWord(3, 0x10325476u);
  count_ = 0;
}

void THash_MD4::Calc(const void* data, std::int32_t size) {
  if (size <= 0) return;
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::uint32_t pending = count_ % 64;
  count_ += static_cast<std::uint32_t>(size);
  std::uint32_t rest = static_cast<std::uint32_t>(size);
  if (pending > 0) {
    const std::uint32_t take = std::min<std::uint32_t>(64 - pending, rest);
    std::memcpy(buffer_ + pending, p, take);
    p += take;
    rest -= take;
    if (pending + take < 64) return;
    Compress();
  }
  while (rest >= 64) {
    std::memcpy(buffer_, p, 64);
    Compress();
    p += 64;
    rest -= 64;
  }
  if (rest > 0) std::memcpy(buffer_, p, rest);
}

void THash_MD4::Done() {
  std::uint32_t pending = count_ % 64;
  buffer_[pending++] = 0x80;
  std::memset(buffer_ + pending, 0, 64 - pending);
  if (pending > 56) {
    Compress();
    std::memset(buffer_, 0, 64);
  }
  const std::uint32_t bits = count_ * 8u;
  for (int i = 0; i < 4; ++i)
    buffer_[56 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
  std::memset(buffer_ + 60, 0, 4);
  Compress();
  SecureZero(buffer_, sizeof buffer_);
}

void THash_MD4::Compress() {
  std::uint32_t x[16];
  LoadBlock(buffer_, x);
  std::uint32_t a = Word(0), b = Word(1), c = Word(2), d = Word(3);
  auto r1 = [&](std::uint32_t& v, std::uint32_t p, std::uint32_t q, std::uint32_t r, int k, int s) {
    v = Rol(v + ((p & q) | (~p & r)) + x[k], s);
  };
  auto r2 = [&](std::uint32_t& v, std::uint32_t p, std::uint32_t q, std::uint32_t r, int k, int s) {
    v = Rol(v + ((p & q) | (p & r) | (q & r)) + x[k] + 0x5A827999u, s);
  };
  auto r3 = [&](std::uint32_t& v, std::uint32_t p, std::uint32_t q, std::uint32_t r, int k, int s) {
    v = Rol(v + (p ^ q ^ r) + x[k] + 0x6ED9EBA1u, s);
  };
  for (int i = 0; i < 16; i += 4) {
    r1(a, b, c, d, i, 3);
    r1(d, a, b, c, i + 1, 7);
    r1(c, d, a, b, i + 2, 11);
    r1(b, c, d, a, i + 3, 19);
  }
  for (int i = 0; i < 4; ++i) {
    r2(a, b, c, d, i, 3);
    r2(d, a, b, c, i + 4, 5);
    r2(c, d, a, b, i + 8, 9);
    r2(b, c, d, a, i + 12, 13);
  }
  constexpr int kOrder3[4] = {0, 2, 1, 3};
  for (int j : kOrder3) {
    r3(a, b, c, d, j, 3);
    r3(d, a, b, c, j + 8, 9);
    r3(c, d, a, b, j + 4, 11);
    r3(b, c, d, a, j + 12, 15);
  }
  SetWord(0, Word(0) + a);
  SetWord(1, Word(1) + b);
  SetWord(2, Word(2) + c);
  SetWord(3, Word(3) + d);
  SecureZero(x, sizeof x);
}

// ---------------------------------------------------------------------------
// RIPEMD-128

std::shared_ptr<THash> THash_RipeMD128::Create() {
  return std::make_shared<THash_RipeMD128>();
}

void THash_RipeMD128::KnownAnswer() const {
  throw platform::Exception("THash_RipeMD128.TestVector not implemented 30");
}

void THash_RipeMD128::Compress() {
  std::uint32_t x[16];
  LoadBlock(buffer_, x);
  std::uint32_t a = Word(0), b = Word(1), c = Word(2), d = Word(3);
  std::uint32_t aa = a, bb = b, cc = c, dd = d;
  for (int j = 0; j < 64; ++j) {
    const int round = j / 16;
    RipeStep(a, b, c, d, RipeF(round, b, c, d), x[kR[j]], kK[round], kS[j]);
    RipeStep(aa, bb, cc, dd, RipeF(3 - round, bb, cc, dd), x[kRR[j]], kKR[round], kSR[j]);
  }
  const std::uint32_t t = Word(1) + c + dd;
  SetWord(1, Word(2) + d + aa);
  SetWord(2, Word(3) + a + bb);
  SetWord(3, Word(0) + b + cc);
  SetWord(0, t);
  SecureZero(x, sizeof x);
}

// ---------------------------------------------------------------------------
// RIPEMD-256

std::shared_ptr<THash> THash_RipeMD256::Create() {
  return std::make_shared<THash_RipeMD256>();
}

void THash_RipeMD256::KnownAnswer() const {
  throw platform::Exception("THash_RipeMD256.TestVector not implemented 31");
}

void THash_RipeMD256::Init() {
  THash_MD4::Init();
  SetWord(4, 0x76543210u);
  SetWord(5, 0xFEDCBA98u);
  SetWord(6, 0x89ABCDEFu);
  SetWord(7, 0x01234567u);
}

void THash_RipeMD256::Compress() {
  std::uint32_t x[16];
  LoadBlock(buffer_, x);
  std::uint32_t a = Word(0), b = Word(1), c = Word(2), d = Word(3);
  std::uint32_t aa = Word(4), bb = Word(5), cc = Word(6), dd = Word(7);
  for (int j = 0; j < 64; ++j) {
    const int round = j / 16;
    RipeStep(a, b, c, d, RipeF(round, b, c, d), x[kR[j]], kK[round], kS[j]);
    RipeStep(aa, bb, cc, dd, RipeF(3 - round, bb, cc, dd), x[kRR[j]], kKR[round], kSR[j]);
    if (j % 16 == 15) {
      // After each round one register changes lines: A, then B, C, D.
      switch (round) {
        case 0:
          std::swap(a, aa);
          break;
        case 1:
          std::swap(b, bb);
          break;
        case 2:
          std::swap(c, cc);
          break;
        default:
          std::swap(d, dd);
          break;
      }
    }
  }
  SetWord(0, Word(0) + a);
  SetWord(1, Word(1) + b);
  SetWord(2, Word(2) + c);
  SetWord(3, Word(3) + d);
  SetWord(4, Word(4) + aa);
  SetWord(5, Word(5) + bb);
  SetWord(6, Word(6) + cc);
  SetWord(7, Word(7) + dd);
  SecureZero(x, sizeof x);
}

}  // namespace vez
