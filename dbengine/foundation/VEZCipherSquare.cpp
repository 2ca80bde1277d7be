// Square: eight rounds of byte substitution, transposition, a row mixing by
// c(x) = 2 + x + x^2 + 3x^3 modulo x^4 + 1 over GF(2^8) reduced by 0x1F5,
// and key addition. The state is four rows of four bytes in memory order.
#include <cstring>

#include "dbengine/foundation/VEZCipher.h"
#include "dbengine/foundation/VEZDecUtil.h"

namespace vez {

namespace {

constexpr unsigned kPoly = 0x1F5;
constexpr int kRounds = 8;

std::uint8_t Mul(std::uint8_t a, std::uint8_t b) {
  unsigned r = 0, x = a;
  while (b) {
    if (b & 1) r ^= x;
    x <<= 1;
    if (x & 0x100) x ^= kPoly;
    b >>= 1;
  }
  return static_cast<std::uint8_t>(r);
}

struct SquareTables {
  std::uint8_t se[256];
  std::uint8_t sd[256];
  // Coefficients of c(x) and of its inverse modulo x^4 + 1.
  std::uint8_t c[4] = {2, 1, 1, 3};
  std::uint8_t d[4] = {};
  // Products of every byte with each coefficient of c(x) and d(x).
  std::uint8_t mc[4][256];
  std::uint8_t md[4][256];
  SquareTables() {
    // The substitution: inversion in the field, then an affine map whose
    // matrix columns (images of bits 0..7) are these, plus 0xB1.
    static constexpr std::uint8_t kColumns[8] = {0x7F, 0xDA, 0xBC, 0x78, 0xF0, 0x60, 0xC0, 0x80};
    for (int x = 0; x < 256; ++x) {
      std::uint8_t inv = 0;
      if (x)
        for (int y = 1; y < 256; ++y)
          if (Mul(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)) == 1) {
            inv = static_cast<std::uint8_t>(y);
            break;
          }
      std::uint8_t s = 0xB1;
      for (int b = 0; b < 8; ++b)
        if (inv & (1 << b)) s ^= kColumns[b];
      se[x] = s;
      sd[s] = static_cast<std::uint8_t>(x);
    }
    // d(x) = c(x)^-1 modulo x^4 + 1: the units of that ring form a group of
    // order 256^4 - 256^3, so the inverse is c raised to that order less one.
    std::uint8_t result[4] = {1, 0, 0, 0};
    std::uint8_t base[4] = {c[0], c[1], c[2], c[3]};
    std::uint64_t e = (std::uint64_t{1} << 32) - (std::uint64_t{1} << 24) - 1;
    while (e) {
      if (e & 1) PolyMul(result, base, result);
      PolyMul(base, base, base);
      e >>= 1;
    }
    std::memcpy(d, result, 4);
    for (int j = 0; j < 4; ++j)
      for (int x = 0; x < 256; ++x) {
        mc[j][x] = Mul(c[j], static_cast<std::uint8_t>(x));
        md[j][x] = Mul(d[j], static_cast<std::uint8_t>(x));
      }
  }
  // out = a * b modulo x^4 + 1; out may be a or b.
  static void PolyMul(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out) {
    std::uint8_t r[4] = {};
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j)
        r[(i + j) % 4] ^= Mul(a[i], b[j]);
    std::memcpy(out, r, 4);
  }
};

const SquareTables& ST() {
  static const SquareTables t;
  return t;
}

// b_j = sum_k m_(j-k) a_k for each row: multiplication by m(x), given as the
// product tables of its coefficients.
void MixRows(std::uint8_t* s, const std::uint8_t (*m)[256]) {
  for (int r = 0; r < 4; ++r) {
    std::uint8_t a[4];
    std::memcpy(a, s + 4 * r, 4);
    for (int j = 0; j < 4; ++j) {
      std::uint8_t v = 0;
      for (int k = 0; k < 4; ++k)
        v ^= m[(j - k + 4) % 4][a[k]];
      s[4 * r + j] = v;
    }
  }
}

void Transpose(std::uint8_t* s) {
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j)
      std::swap(s[4 * i + j], s[4 * j + i]);
}

void AddKey(std::uint8_t* s, const std::uint32_t* k) {
  for (int r = 0; r < 4; ++r)
    for (int j = 0; j < 4; ++j)
      s[4 * r + j] ^= static_cast<std::uint8_t>(k[r] >> (24 - 8 * j));
}

}  // namespace

TCipher_Square::TCipher_Square(std::shared_ptr<TProtection> protection)
    : TCipher(std::move(protection), 16, 16, 288) {}

void TCipher_Square::KnownAnswer() const {
  throw platform::Exception("TCipher_Square.TestVector not implemented 27");
}

void TCipher_Square::SetupKey(const std::uint8_t* key, std::int32_t) {
  // Key schedule area: the nine round keys (four row words each, first
  // byte most significant) for encryption, then the same for decryption.
  std::uint8_t k[16];
  std::memcpy(k, key, 16);
  std::uint32_t* ek = User();
  std::uint32_t* dk = User() + 4 * (kRounds + 1);
  std::uint8_t constant = 1;
  for (int t = 0; t <= kRounds; ++t) {
    if (t > 0) {
      // row0 ^= row3 rotated left by one byte, and the round constant.
      std::uint8_t rot[4] = {k[13], k[14], k[15], k[12]};
      for (int j = 0; j < 4; ++j)
        k[j] ^= rot[j];
      k[0] ^= constant;
      constant = Mul(constant, 2);
      for (int r = 1; r < 4; ++r)
        for (int j = 0; j < 4; ++j)
          k[4 * r + j] ^= k[4 * (r - 1) + j];
    }
    std::uint8_t rk[16];
    std::memcpy(rk, k, 16);
    // The rounds mix before adding their key; the first eight keys are
    // mixed the same way so that no separate inverse mixing is needed.
    if (t < kRounds) MixRows(rk, ST().mc);
    for (int r = 0; r < 4; ++r) {
      ek[4 * t + r] = (std::uint32_t{rk[4 * r]} << 24) | (std::uint32_t{rk[4 * r + 1]} << 16) |
                      (std::uint32_t{rk[4 * r + 2]} << 8) | rk[4 * r + 3];
      dk[4 * t + r] = ek[4 * t + r];
    }
    SecureZero(rk, sizeof rk);
  }
  SecureZero(k, sizeof k);
}

void TCipher_Square::EncryptBlock(void* block) const {
  const auto& t = ST();
  auto* s = static_cast<std::uint8_t*>(block);
  const std::uint32_t* k = User();
  AddKey(s, k);
  for (int r = 1; r <= kRounds; ++r) {
    for (int i = 0; i < 16; ++i)
      s[i] = t.se[s[i]];
    Transpose(s);
    if (r < kRounds) MixRows(s, t.mc);
    AddKey(s, k + 4 * r);
  }
}

void TCipher_Square::DecryptBlock(void* block) const {
  const auto& t = ST();
  auto* s = static_cast<std::uint8_t*>(block);
  const std::uint32_t* k = User() + 4 * (kRounds + 1);
  for (int r = kRounds; r >= 1; --r) {
    AddKey(s, k + 4 * r);
    if (r < kRounds) MixRows(s, t.md);
    Transpose(s);
    for (int i = 0; i < 16; ++i)
      s[i] = t.sd[s[i]];
  }
  AddKey(s, k);
}

}  // namespace vez
