// AES with a table-driven round; keys above 24 bytes use the group expansion
// that chains words 4..7 of each group twice (see VEZCipher.h).
#include <cstring>

#include "dbengine/foundation/VEZCipher.h"
#include "dbengine/foundation/VEZDecUtil.h"

namespace vez {

namespace {

std::uint8_t XTime(std::uint8_t v) {
  return static_cast<std::uint8_t>((v << 1) ^ ((v & 0x80) ? 0x1B : 0));
}

std::uint8_t GMul(std::uint8_t a, std::uint8_t b) {
  std::uint8_t r = 0;
  while (b) {
    if (b & 1) r ^= a;
    a = XTime(a);
    b >>= 1;
  }
  return r;
}

struct AesTables {
  std::uint8_t sbox[256];
  std::uint8_t inv[256];
  std::uint32_t te[4][256];
  std::uint32_t td[4][256];
  AesTables() {
    // The S-box: multiplicative inverse in GF(2^8), then the affine map.
    for (int x = 0; x < 256; ++x) {
      std::uint8_t invx = 0;
      if (x)
        for (int y = 1; y < 256; ++y)
          if (GMul(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)) == 1) {
            invx = static_cast<std::uint8_t>(y);
            break;
          }
      std::uint8_t s = invx;
      std::uint8_t r = invx;
      for (int i = 0; i < 4; ++i) {
        r = static_cast<std::uint8_t>((r << 1) | (r >> 7));
        s ^= r;
      }
      s ^= 0x63;
      sbox[x] = s;
      inv[s] = static_cast<std::uint8_t>(x);
    }
    for (int x = 0; x < 256; ++x) {
      const std::uint8_t s = sbox[x];
      const std::uint32_t e = (std::uint32_t{GMul(s, 2)} << 24) | (std::uint32_t{s} << 16) |
                              (std::uint32_t{s} << 8) | GMul(s, 3);
      const std::uint8_t i = inv[x];
      const std::uint32_t d = (std::uint32_t{GMul(i, 14)} << 24) |
                              (std::uint32_t{GMul(i, 9)} << 16) |
                              (std::uint32_t{GMul(i, 13)} << 8) | GMul(i, 11);
      for (int k = 0; k < 4; ++k) {
        te[k][x] = k == 0 ? e : (e >> (8 * k)) | (e << (32 - 8 * k));
        td[k][x] = k == 0 ? d : (d >> (8 * k)) | (d << (32 - 8 * k));
      }
    }
  }
};

const AesTables& T() {
  static const AesTables t;
  return t;
}

std::uint32_t SubWord(std::uint32_t w) {
  const auto& s = T().sbox;
  return (std::uint32_t{s[w >> 24]} << 24) | (std::uint32_t{s[(w >> 16) & 0xFF]} << 16) |
         (std::uint32_t{s[(w >> 8) & 0xFF]} << 8) | s[w & 0xFF];
}

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

constexpr int kMaxWords = 60;

}  // namespace

TCipher_Rijndael::TCipher_Rijndael(std::shared_ptr<TProtection> protection)
    : TCipher(std::move(protection), 16, 32, 480) {}

void TCipher_Rijndael::KnownAnswer() const {
  throw platform::Exception("TCipher_Rijndael.TestVector not implemented 20");
}

void TCipher_Rijndael::SetupKey(const std::uint8_t* key, std::int32_t size) {
  const int nk = size <= 16 ? 4 : size <= 24 ? 6 : 8;
  rounds_ = nk + 6;
  const int total = 4 * (rounds_ + 1);
  std::uint32_t* ek = User();
  std::uint32_t* dk = User() + kMaxWords;
  std::uint32_t tk[8];
  for (int j = 0; j < nk; ++j)
    tk[j] = LoadBE(key + 4 * j);
  int produced = 0;
  std::uint8_t rcon = 1;
  for (;;) {
    for (int j = 0; j < nk && produced < total; ++j)
      ek[produced++] = tk[j];
    if (produced >= total) break;
    tk[0] ^= SubWord((tk[nk - 1] << 8) | (tk[nk - 1] >> 24)) ^ (std::uint32_t{rcon} << 24);
    rcon = XTime(rcon);
    for (int j = 1; j < nk; ++j)
      tk[j] ^= tk[j - 1];
    if (nk == 8) {
      tk[4] ^= SubWord(tk[3]);
      for (int j = 5; j < 8; ++j)
        tk[j] ^= tk[j - 1];
    }
  }
  // Round keys of the equivalent inverse cipher.
  const auto& t = T();
  for (int r = 0; r <= rounds_; ++r)
    for (int c = 0; c < 4; ++c) {
      const std::uint32_t w = ek[4 * (rounds_ - r) + c];
      dk[4 * r + c] = (r == 0 || r == rounds_)
                          ? w
                          : t.td[0][t.sbox[w >> 24]] ^ t.td[1][t.sbox[(w >> 16) & 0xFF]] ^
                                t.td[2][t.sbox[(w >> 8) & 0xFF]] ^ t.td[3][t.sbox[w & 0xFF]];
    }
  SecureZero(tk, sizeof tk);
}

void TCipher_Rijndael::EncryptBlock(void* block) const {
  const auto& t = T();
  auto* p = static_cast<std::uint8_t*>(block);
  const std::uint32_t* rk = User();
  std::uint32_t s0 = LoadBE(p) ^ rk[0], s1 = LoadBE(p + 4) ^ rk[1], s2 = LoadBE(p + 8) ^ rk[2],
                s3 = LoadBE(p + 12) ^ rk[3];
  for (int r = 1; r < rounds_; ++r) {
    rk += 4;
    const std::uint32_t t0 = t.te[0][s0 >> 24] ^ t.te[1][(s1 >> 16) & 0xFF] ^
                             t.te[2][(s2 >> 8) & 0xFF] ^ t.te[3][s3 & 0xFF] ^ rk[0];
    const std::uint32_t t1 = t.te[0][s1 >> 24] ^ t.te[1][(s2 >> 16) & 0xFF] ^
                             t.te[2][(s3 >> 8) & 0xFF] ^ t.te[3][s0 & 0xFF] ^ rk[1];
    const std::uint32_t t2 = t.te[0][s2 >> 24] ^ t.te[1][(s3 >> 16) & 0xFF] ^
                             t.te[2][(s0 >> 8) & 0xFF] ^ t.te[3][s1 & 0xFF] ^ rk[2];
    const std::uint32_t t3 = t.te[0][s3 >> 24] ^ t.te[1][(s0 >> 16) & 0xFF] ^
                             t.te[2][(s1 >> 8) & 0xFF] ^ t.te[3][s2 & 0xFF] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  const auto& s = t.sbox;
  auto last = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t k) {
    return ((std::uint32_t{s[a >> 24]} << 24) | (std::uint32_t{s[(b >> 16) & 0xFF]} << 16) |
            (std::uint32_t{s[(c >> 8) & 0xFF]} << 8) | s[d & 0xFF]) ^
           k;
  };
  StoreBE(p, last(s0, s1, s2, s3, rk[0]));
  StoreBE(p + 4, last(s1, s2, s3, s0, rk[1]));
  StoreBE(p + 8, last(s2, s3, s0, s1, rk[2]));
  StoreBE(p + 12, last(s3, s0, s1, s2, rk[3]));
}

void TCipher_Rijndael::DecryptBlock(void* block) const {
  const auto& t = T();
  auto* p = static_cast<std::uint8_t*>(block);
  const std::uint32_t* rk = User() + kMaxWords;
  std::uint32_t s0 = LoadBE(p) ^ rk[0], s1 = LoadBE(p + 4) ^ rk[1], s2 = LoadBE(p + 8) ^ rk[2],
                s3 = LoadBE(p + 12) ^ rk[3];
  for (int r = 1; r < rounds_; ++r) {
    rk += 4;
    const std::uint32_t t0 = t.td[0][s0 >> 24] ^ t.td[1][(s3 >> 16) & 0xFF] ^
                             t.td[2][(s2 >> 8) & 0xFF] ^ t.td[3][s1 & 0xFF] ^ rk[0];
    const std::uint32_t t1 = t.td[0][s1 >> 24] ^ t.td[1][(s0 >> 16) & 0xFF] ^
                             t.td[2][(s3 >> 8) & 0xFF] ^ t.td[3][s2 & 0xFF] ^ rk[1];
    const std::uint32_t t2 = t.td[0][s2 >> 24] ^ t.td[1][(s1 >> 16) & 0xFF] ^
                             t.td[2][(s0 >> 8) & 0xFF] ^ t.td[3][s3 & 0xFF] ^ rk[2];
    const std::uint32_t t3 = t.td[0][s3 >> 24] ^ t.td[1][(s2 >> 16) & 0xFF] ^
                             t.td[2][(s1 >> 8) & 0xFF] ^ t.td[3][s0 & 0xFF] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  const auto& s = t.inv;
  auto last = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t k) {
    return ((std::uint32_t{s[a >> 24]} << 24) | (std::uint32_t{s[(b >> 16) & 0xFF]} << 16) |
            (std::uint32_t{s[(c >> 8) & 0xFF]} << 8) | s[d & 0xFF]) ^
           k;
  };
  StoreBE(p, last(s0, s3, s2, s1, rk[0]));
  StoreBE(p + 4, last(s1, s0, s3, s2, rk[1]));
  StoreBE(p + 8, last(s2, s1, s0, s3, rk[2]));
  StoreBE(p + 12, last(s3, s2, s1, s0, rk[3]));
}

}  // namespace vez
