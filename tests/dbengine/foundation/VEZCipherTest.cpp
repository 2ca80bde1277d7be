// Ciphers, hashes and chaining modes: published known answers, Crypto++ as an
// independent oracle for the standard algorithms on random keys and data,
// frozen bytes for the three algorithms that deliberately differ, and round
// trips for every key length.
#include <gtest/gtest.h>

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/aes.h>
#include <cryptopp/blowfish.h>
#include <cryptopp/des.h>
#include <cryptopp/md4.h>
#include <cryptopp/ripemd.h>
#include <cryptopp/square.h>
#include <cryptopp/twofish.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZCipher.h"
#include "dbengine/foundation/VEZDecUtil.h"

namespace vez {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(const std::string& h) {
  Bytes b;
  for (std::size_t i = 0; i + 1 < h.size(); i += 2)
    b.push_back(static_cast<std::uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return b;
}

std::string ToHex(const std::uint8_t* p, std::size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s.push_back(d[p[i] >> 4]);
    s.push_back(d[p[i] & 15]);
  }
  return s;
}
std::string ToHex(const Bytes& b) {
  return ToHex(b.data(), b.size());
}

Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes b(n);
  for (auto& v : b)
    v = static_cast<std::uint8_t>(rng());
  return b;
}

template <class C>
std::shared_ptr<TCipher> Keyed(const Bytes& key) {
  auto c = std::make_shared<C>();
  c->Init(key.data(), static_cast<std::int32_t>(key.size()), nullptr);
  return c;
}

std::shared_ptr<TCipher> MakeByName(const std::string& name) {
  if (name == "Rijndael") return std::make_shared<TCipher_Rijndael>();
  if (name == "Blowfish") return std::make_shared<TCipher_Blowfish>();
  if (name == "1DES") return std::make_shared<TCipher_1DES>();
  if (name == "3DES") return std::make_shared<TCipher_3DES>();
  if (name == "3TDES") return std::make_shared<TCipher_3TDES>();
  if (name == "Twofish") return std::make_shared<TCipher_Twofish>();
  if (name == "Square") return std::make_shared<TCipher_Square>();
  return nullptr;
}

Bytes EncryptOne(TCipher& c, Bytes block) {
  c.EncryptBlock(block.data());
  return block;
}

// ---------------------------------------------------------------------------
// Published known answers

struct BlockKat {
  const char* cipher;
  const char* key;
  const char* plain;
  const char* cipher_text;
};

class BlockKnownAnswer : public ::testing::TestWithParam<BlockKat> {};

TEST_P(BlockKnownAnswer, EncryptsAndDecrypts) {
  const BlockKat& k = GetParam();
  auto c = MakeByName(k.cipher);
  const Bytes key = Hex(k.key);
  c->Init(key.data(), static_cast<std::int32_t>(key.size()), nullptr);
  Bytes block = Hex(k.plain);
  c->EncryptBlock(block.data());
  EXPECT_EQ(ToHex(block), k.cipher_text);
  c->DecryptBlock(block.data());
  EXPECT_EQ(ToHex(block), k.plain);
}

INSTANTIATE_TEST_SUITE_P(
    Standards, BlockKnownAnswer,
    ::testing::Values(
        // FIPS-197 appendix C.1 and C.2
        BlockKat{"Rijndael", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
                 "69c4e0d86a7b0430d8cdb78070b4c55a"},
        BlockKat{"Rijndael", "000102030405060708090a0b0c0d0e0f1011121314151617",
                 "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        // DES, the classic worked examples
        BlockKat{"1DES", "133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
        BlockKat{"1DES", "0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},
        // Triple DES with three equal keys is single DES; then the
        // three-key worked example
        BlockKat{"3DES", "133457799bbcdff1133457799bbcdff1133457799bbcdff1", "0123456789abcdef",
                 "85e813540f0ab405"},
        // Blowfish, Schneier's vectors
        BlockKat{"Blowfish", "0000000000000000", "0000000000000000", "4ef997456198dd78"},
        BlockKat{"Blowfish", "ffffffffffffffff", "ffffffffffffffff", "51866fd5b85ecb8a"},
        BlockKat{"Blowfish", "fedcba9876543210", "0123456789abcdef", "0aceab0fc6a0a28d"}),
    [](const ::testing::TestParamInfo<BlockKat>& info) {
      return std::string(info.param.cipher) + "_" + std::to_string(info.index);
    });

struct HashKat {
  const char* hash;
  const char* message;
  const char* digest;
};

std::shared_ptr<THash> MakeHash(const std::string& name) {
  if (name == "MD4") return THash_MD4::Create();
  if (name == "RipeMD128") return THash_RipeMD128::Create();
  return THash_RipeMD256::Create();
}

class HashKnownAnswer : public ::testing::TestWithParam<HashKat> {};

TEST_P(HashKnownAnswer, Digest) {
  const HashKat& k = GetParam();
  auto h = MakeHash(k.hash);
  h->Init();
  h->Calc(k.message, static_cast<std::int32_t>(std::strlen(k.message)));
  h->Done();
  EXPECT_EQ(ToHex(h->DigestKey(), static_cast<std::size_t>(h->DigestKeySize())), k.digest);
}

INSTANTIATE_TEST_SUITE_P(
    Standards, HashKnownAnswer,
    ::testing::Values(HashKat{"MD4", "", "31d6cfe0d16ae931b73c59d7e0c089c0"},
                      HashKat{"MD4", "abc", "a448017aaf21d8525fc10ae87aa6729d"},
                      HashKat{"MD4", "message digest", "d9130a8164549fe818874806e1c7014b"},
                      HashKat{"RipeMD128", "", "cdf26213a150dc3ecb610f18f6b38b46"},
                      HashKat{"RipeMD128", "abc", "c14a12199c66e4ba84636b0f69144c77"},
                      HashKat{"RipeMD256", "",
                              "02ba4c4e5f8ecd1877fc52d64d30e37a2d9774fb1e5d026380ae0168e3c5522d"},
                      HashKat{"RipeMD256", "abc",
                              "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65"}),
    [](const ::testing::TestParamInfo<HashKat>& info) {
      return std::string(info.param.hash) + "_" + std::to_string(info.index);
    });

// ---------------------------------------------------------------------------
// Crypto++ oracle on random keys and blocks

template <class Enc, class Dec>
void CompareBlocks(const std::function<std::shared_ptr<TCipher>()>& make, std::size_t key_len,
                   std::size_t block, std::mt19937& rng) {
  for (int trial = 0; trial < 50; ++trial) {
    const Bytes key = RandomBytes(rng, key_len);
    const Bytes plain = RandomBytes(rng, block);
    auto ours = make();
    ours->Init(key.data(), static_cast<std::int32_t>(key.size()), nullptr);
    Enc enc(key.data(), key.size());
    Bytes expected(block);
    enc.ProcessBlock(plain.data(), expected.data());
    Bytes got = plain;
    ours->EncryptBlock(got.data());
    ASSERT_EQ(ToHex(got), ToHex(expected)) << "key " << ToHex(key);
    Dec dec(key.data(), key.size());
    Bytes back(block);
    dec.ProcessBlock(expected.data(), back.data());
    ours->DecryptBlock(got.data());
    ASSERT_EQ(ToHex(got), ToHex(back));
  }
}

TEST(CipherOracle, StandardCiphersMatchOnRandomKeys) {
  std::mt19937 rng(1234);
  auto aes = [] { return std::shared_ptr<TCipher>(std::make_shared<TCipher_Rijndael>()); };
  SCOPED_TRACE("AES-128");
  CompareBlocks<CryptoPP::AES::Encryption, CryptoPP::AES::Decryption>(aes, 16, 16, rng);
  SCOPED_TRACE("AES-192");
  CompareBlocks<CryptoPP::AES::Encryption, CryptoPP::AES::Decryption>(aes, 24, 16, rng);
  SCOPED_TRACE("DES");
  CompareBlocks<CryptoPP::DES::Encryption, CryptoPP::DES::Decryption>(
      [] { return std::shared_ptr<TCipher>(std::make_shared<TCipher_1DES>()); }, 8, 8, rng);
  SCOPED_TRACE("3DES");
  CompareBlocks<CryptoPP::DES_EDE3::Encryption, CryptoPP::DES_EDE3::Decryption>(
      [] { return std::shared_ptr<TCipher>(std::make_shared<TCipher_3DES>()); }, 24, 8, rng);
  SCOPED_TRACE("Square");
  CompareBlocks<CryptoPP::Square::Encryption, CryptoPP::Square::Decryption>(
      [] { return std::shared_ptr<TCipher>(std::make_shared<TCipher_Square>()); }, 16, 16, rng);
  for (std::size_t len : {4u, 16u, 32u, 56u}) {
    SCOPED_TRACE("Blowfish key " + std::to_string(len));
    CompareBlocks<CryptoPP::Blowfish::Encryption, CryptoPP::Blowfish::Decryption>(
        [] { return std::shared_ptr<TCipher>(std::make_shared<TCipher_Blowfish>()); }, len, 8, rng);
  }
}

TEST(CipherOracle, ShortKeysArePaddedWithZeros) {
  std::mt19937 rng(77);
  for (std::size_t len : {1u, 5u, 15u, 20u}) {
    SCOPED_TRACE(len);
    const Bytes key = RandomBytes(rng, len);
    Bytes padded = key;
    padded.resize(len <= 16 ? 16 : 24, 0);
    auto ours = Keyed<TCipher_Rijndael>(key);
    EXPECT_EQ(static_cast<TCipher_Rijndael&>(*ours).Rounds(), len <= 16 ? 10 : 12);
    CryptoPP::AES::Encryption enc(padded.data(), padded.size());
    const Bytes plain = RandomBytes(rng, 16);
    Bytes expected(16);
    enc.ProcessBlock(plain.data(), expected.data());
    EXPECT_EQ(ToHex(EncryptOne(*ours, plain)), ToHex(expected));
  }
  // A key longer than KeySize is cut to it, without an error.
  const Bytes long_key = RandomBytes(rng, 40);
  auto cut = Keyed<TCipher_1DES>(long_key);
  CryptoPP::DES::Encryption des(long_key.data(), 8);
  Bytes expected(8);
  const Bytes plain(8, 0x5A);
  des.ProcessBlock(plain.data(), expected.data());
  EXPECT_EQ(ToHex(EncryptOne(*cut, plain)), ToHex(expected));
}

template <class H>
void CompareHash(const std::function<std::shared_ptr<THash>()>& make, std::mt19937& rng) {
  for (int trial = 0; trial < 40; ++trial) {
    const Bytes msg = RandomBytes(rng, rng() % 700);
    H oracle;
    Bytes expected(oracle.DigestSize());
    oracle.CalculateDigest(expected.data(), msg.data(), msg.size());
    auto h = make();
    h->Init();
    // Fed in random pieces: the result must not depend on the cut.
    std::size_t pos = 0;
    while (pos < msg.size()) {
      const std::size_t piece = std::min<std::size_t>(msg.size() - pos, rng() % 130);
      h->Calc(msg.data() + pos, static_cast<std::int32_t>(piece));
      pos += piece;
    }
    h->Done();
    ASSERT_EQ(ToHex(h->DigestKey(), expected.size()), ToHex(expected)) << "length " << msg.size();
  }
}

TEST(HashOracle, MatchesOnRandomMessagesFedInPieces) {
  std::mt19937 rng(99);
  CompareHash<CryptoPP::Weak::MD4>(&THash_MD4::Create, rng);
  CompareHash<CryptoPP::RIPEMD128>(&THash_RipeMD128::Create, rng);
  CompareHash<CryptoPP::RIPEMD256>(&THash_RipeMD256::Create, rng);
}

// The byte count is 32 bits: 512 MiB more fed bytes leave the length block,
// and so the digest, as they were (stored digests depend on this).
template <class H>
void CheckWrappingCount() {
  struct Counted : H {
    void AddToCount(std::uint32_t n) { this->count_ += n; }
  };
  Counted wrapped;
  wrapped.Init();
  wrapped.Calc("abc", 3);
  wrapped.AddToCount(0x20000000u);
  wrapped.Done();
  H plain;
  plain.Init();
  plain.Calc("abc", 3);
  plain.Done();
  EXPECT_EQ(ToHex(wrapped.DigestKey(), static_cast<std::size_t>(wrapped.DigestKeySize())),
            ToHex(plain.DigestKey(), static_cast<std::size_t>(plain.DigestKeySize())))
      << plain.ClassName();
}

TEST(HashFrame, ByteCountIsThirtyTwoBits) {
  CheckWrappingCount<THash_MD4>();
  CheckWrappingCount<THash_RipeMD128>();
  CheckWrappingCount<THash_RipeMD256>();
}

// ---------------------------------------------------------------------------
// The three algorithms that differ from their published form

TEST(ChangedAlgorithms, DifferFromThePublishedOnes) {
  const Bytes key32 = Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  const Bytes plain = Hex("00112233445566778899aabbccddeeff");
  // FIPS-197 C.3 answers 8ea2b7ca516745bfeafc49904b496089.
  auto aes = Keyed<TCipher_Rijndael>(key32);
  EXPECT_EQ(static_cast<TCipher_Rijndael&>(*aes).Rounds(), 14);
  EXPECT_NE(ToHex(EncryptOne(*aes, plain)), "8ea2b7ca516745bfeafc49904b496089");
  // Published Twofish of the zero key and block.
  auto tf = Keyed<TCipher_Twofish>(Bytes(16, 0));
  EXPECT_NE(ToHex(EncryptOne(*tf, Bytes(16, 0))), "9f589f5cf6122c32b6bfec2f2ae8c35a");
  std::mt19937 rng(5);
  for (std::size_t len : {16u, 24u, 32u}) {
    const Bytes key = RandomBytes(rng, len);
    CryptoPP::Twofish::Encryption enc(key.data(), key.size());
    Bytes expected(16);
    const Bytes block = RandomBytes(rng, 16);
    enc.ProcessBlock(block.data(), expected.data());
    EXPECT_NE(ToHex(EncryptOne(*Keyed<TCipher_Twofish>(key), block)), ToHex(expected));
  }
}

// The 24-byte block equals its definition through three single-DES layers.
TEST(ChangedAlgorithms, TripleDesBlockIsThreeLanesWithMiddleWordsExchanged) {
  std::mt19937 rng(8);
  for (std::size_t len : {16u, 24u}) {
    const Bytes key = RandomBytes(rng, len);
    Bytes k(24, 0);
    std::copy(key.begin(), key.end(), k.begin());
    CryptoPP::DES::Encryption e1(k.data(), 8), e3(k.data() + 16, 8);
    CryptoPP::DES::Decryption d2(k.data() + 8, 8);
    const Bytes plain = RandomBytes(rng, 24);
    Bytes m = plain;
    auto lanes = [&](CryptoPP::BlockTransformation& t) {
      for (int i = 0; i < 3; ++i)
        t.ProcessBlock(m.data() + 8 * i);
    };
    auto swap_w1_w2 = [&] { std::swap_ranges(m.begin() + 4, m.begin() + 8, m.begin() + 8); };
    lanes(e1);
    swap_w1_w2();
    lanes(d2);
    swap_w1_w2();
    lanes(e3);
    auto ours = Keyed<TCipher_3TDES>(key);
    Bytes got = plain;
    ours->EncryptBlock(got.data());
    EXPECT_EQ(ToHex(got), ToHex(m));
    ours->DecryptBlock(got.data());
    EXPECT_EQ(ToHex(got), ToHex(plain));
  }
}

// Frozen outputs: a change here changes every encrypted file.
TEST(ChangedAlgorithms, FrozenBytes) {
  const Bytes key32 = Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  const Bytes plain16 = Hex("00112233445566778899aabbccddeeff");
  const Bytes plain24 = Hex("00112233445566778899aabbccddeeff0011223344556677");
  EXPECT_EQ(ToHex(EncryptOne(*Keyed<TCipher_Rijndael>(key32), plain16)),
            "7db8ca4ebc1555cd9b4e8c321b572299");
  EXPECT_EQ(
      ToHex(EncryptOne(*Keyed<TCipher_Twofish>(Bytes(key32.begin(), key32.begin() + 16)), plain16)),
      "06e51545b958ed877ae41dc39fd7af93");
  EXPECT_EQ(
      ToHex(EncryptOne(*Keyed<TCipher_Twofish>(Bytes(key32.begin(), key32.begin() + 24)), plain16)),
      "71edb5ce5435548b39b36621060ad020");
  EXPECT_EQ(ToHex(EncryptOne(*Keyed<TCipher_Twofish>(key32), plain16)),
            "50193c0df2cf85dca405bbe88a9719d2");
  EXPECT_EQ(
      ToHex(EncryptOne(*Keyed<TCipher_3TDES>(Bytes(key32.begin(), key32.begin() + 16)), plain24)),
      "fc631bacbdc6e2df9f9f19a01035736395f874f52c751218");
  EXPECT_EQ(
      ToHex(EncryptOne(*Keyed<TCipher_3TDES>(Bytes(key32.begin(), key32.begin() + 24)), plain24)),
      "b03591712d7b7d95a3dab4c61e482bbc97a25ba82b564f4c");
}

TEST(CipherRoundTrip, EveryKeyLength) {
  std::mt19937 rng(42);
  for (const char* name : {"Rijndael", "Blowfish", "1DES", "3DES", "3TDES", "Twofish", "Square"}) {
    auto c = MakeByName(name);
    for (int len = std::string(name) == "Blowfish" ? 1 : 0; len <= c->KeySize(); ++len) {
      SCOPED_TRACE(std::string(name) + " key " + std::to_string(len));
      const Bytes key = RandomBytes(rng, static_cast<std::size_t>(len));
      c->Init(key.data(), len, nullptr);
      const Bytes plain = RandomBytes(rng, static_cast<std::size_t>(c->BufSize()));
      Bytes b = plain;
      c->EncryptBlock(b.data());
      EXPECT_NE(b, plain);
      c->DecryptBlock(b.data());
      ASSERT_EQ(b, plain);
    }
  }
}

// ---------------------------------------------------------------------------
// Chaining modes against a model written from their definitions, with the
// oracle's block cipher as E and D.

struct ModeModel {
  std::function<void(std::uint8_t*)> e, d;
  int n;
  Bytes f;

  void Tail(const std::uint8_t* in, std::uint8_t* out, int r, bool write) {
    Bytes k = f;
    e(k.data());
    if (write)
      for (int i = 0; i < r; ++i)
        out[i] = in[i] ^ k[static_cast<std::size_t>(i)];
    for (int i = 0; i < n; ++i)
      f[static_cast<std::size_t>(i)] ^= k[static_cast<std::size_t>(i)];
  }

  Bytes Run(TCipherMode mode, bool encode, const Bytes& in) {
    Bytes out = in;
    const int size = static_cast<int>(in.size());
    int pos = 0;
    auto block = [&](int p) { return Bytes(in.begin() + p, in.begin() + p + n); };
    switch (mode) {
      case TCipherMode::cmCTS:
      case TCipherMode::cmCBC:
        for (; pos + n <= size; pos += n) {
          Bytes b = block(pos), c;
          if (encode) {
            for (int i = 0; i < n; ++i)
              b[i] ^= f[i];
            e(b.data());
            c = b;
          } else {
            c = b;
            d(b.data());
            for (int i = 0; i < n; ++i)
              b[i] ^= f[i];
          }
          std::copy(b.begin(), b.end(), out.begin() + pos);
          if (mode == TCipherMode::cmCTS)
            for (int i = 0; i < n; ++i)
              f[i] ^= c[i];
          else
            f = c;
        }
        if (pos < size) Tail(in.data() + pos, out.data() + pos, size - pos, true);
        return out;
      case TCipherMode::cmCTSMAC:
      case TCipherMode::cmCBCMAC:
        for (; pos + n <= size; pos += n) {
          Bytes b = block(pos);
          for (int i = 0; i < n; ++i)
            b[i] ^= f[i];
          e(b.data());
          if (mode == TCipherMode::cmCTSMAC)
            for (int i = 0; i < n; ++i)
              f[i] ^= b[i];
          else
            f = b;
        }
        if (pos < size) Tail(nullptr, nullptr, size - pos, false);
        return in;
      case TCipherMode::cmECB:
        for (; pos + n <= size; pos += n)
          (encode ? e : d)(out.data() + pos);
        return out;
      default:
        for (; pos < size; ++pos) {
          Bytes k = f;
          e(k.data());
          const std::uint8_t x = in[pos];
          const std::uint8_t y = x ^ k[0];
          std::uint8_t fb = mode == TCipherMode::cmOFB ? k[0] : (encode ? y : x);
          if (mode == TCipherMode::cmCFBMAC) fb = y;
          f.erase(f.begin());
          f.push_back(fb);
          if (mode != TCipherMode::cmCFBMAC) out[pos] = y;
        }
        return mode == TCipherMode::cmCFBMAC ? in : out;
    }
  }
};

TEST(CipherModes, MatchTheirDefinitionOnStandardCiphers) {
  std::mt19937 rng(2024);
  const Bytes aes_key = RandomBytes(rng, 16);
  CryptoPP::AES::Encryption aes_e(aes_key.data(), 16);
  CryptoPP::AES::Decryption aes_d(aes_key.data(), 16);
  const Bytes bf_key = RandomBytes(rng, 16);
  CryptoPP::Blowfish::Encryption bf_e(bf_key.data(), 16);
  CryptoPP::Blowfish::Decryption bf_d(bf_key.data(), 16);
  struct Case {
    std::shared_ptr<TCipher> ours;
    Bytes key;
    CryptoPP::BlockTransformation* e;
    CryptoPP::BlockTransformation* d;
  };
  std::vector<Case> cases{{std::make_shared<TCipher_Rijndael>(), aes_key, &aes_e, &aes_d},
                          {std::make_shared<TCipher_Blowfish>(), bf_key, &bf_e, &bf_d}};
  for (auto& cs : cases) {
    const int n = cs.ours->BufSize();
    for (int m = 0; m < 8; ++m) {
      const auto mode = static_cast<TCipherMode>(m);
      for (std::size_t size : {0u, 5u, 16u, 37u, 64u, 100u}) {
        if (mode == TCipherMode::cmECB && size % static_cast<std::size_t>(n)) continue;
        SCOPED_TRACE(std::string(cs.ours->ClassName()) + " mode " + std::to_string(m) + " size " +
                     std::to_string(size));
        const Bytes plain = RandomBytes(rng, size);
        const Bytes iv = RandomBytes(rng, static_cast<std::size_t>(n));
        cs.ours->Init(cs.key.data(), static_cast<std::int32_t>(cs.key.size()), iv.data());
        cs.ours->SetMode(mode);
        ModeModel enc_model{[&](std::uint8_t* b) { cs.e->ProcessBlock(b); },
                            [&](std::uint8_t* b) { cs.d->ProcessBlock(b); }, n, iv};
        ModeModel dec_model = enc_model;
        // Two calls without Done continue one chain.
        const std::size_t half =
            size / 2 / static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
        const Bytes expected = enc_model.Run(mode, true, plain);
        Bytes got = plain;
        cs.ours->EncodeBuffer(got.data(), got.data(), static_cast<std::int32_t>(half));
        cs.ours->EncodeBuffer(got.data() + half, got.data() + half,
                              static_cast<std::int32_t>(size - half));
        ASSERT_EQ(ToHex(got), ToHex(expected));
        EXPECT_EQ(ToHex(cs.ours->Feedback(), static_cast<std::size_t>(n)), ToHex(enc_model.f));
        cs.ours->Done();
        // Decoding into a separate buffer, from the vector again.
        Bytes back(size);
        const Bytes dec_expected = dec_model.Run(mode, false, expected);
        cs.ours->DecodeBuffer(expected.data(), back.data(), static_cast<std::int32_t>(size));
        if (mode == TCipherMode::cmCTSMAC || mode == TCipherMode::cmCBCMAC ||
            mode == TCipherMode::cmCFBMAC) {
          EXPECT_EQ(back, Bytes(size, 0));  // MAC modes never write the destination
        } else {
          ASSERT_EQ(ToHex(back), ToHex(dec_expected));
          EXPECT_EQ(ToHex(back), ToHex(plain));
        }
        EXPECT_EQ(ToHex(cs.ours->Feedback(), static_cast<std::size_t>(n)), ToHex(dec_model.f));
      }
    }
  }
}

}  // namespace
}  // namespace vez
