// The cipher frame (key setup, vector, chaining, coding hooks, chains of
// protections), the page coder of every combination, and the text formats.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZCipher.h"
#include "dbengine/foundation/VEZDecUtil.h"
#include "dbengine/foundation/VEZSecurity.h"

namespace vez {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes b(n);
  for (auto& v : b)
    v = static_cast<std::uint8_t>(rng());
  return b;
}

std::string Text(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

// ---------------------------------------------------------------------------
// Key setup and vector

TEST(CipherFrame, InitKeyWithOwnVectorLeavesAllOnes) {
  TCipher_Rijndael c;
  c.InitKey("pw", c.Vector());
  EXPECT_TRUE(c.Initialized());
  EXPECT_TRUE(c.HasHashKey());
  EXPECT_EQ(Bytes(c.Vector(), c.Vector() + 16), Bytes(16, 0xFF));
  EXPECT_EQ(Bytes(c.Feedback(), c.Feedback() + 16), Bytes(16, 0xFF));
  // Without a vector it is one encrypted block of 0xFF bytes.
  c.InitKey("pw", nullptr);
  Bytes ones(16, 0xFF);
  c.EncryptBlock(ones.data());
  EXPECT_EQ(Bytes(c.Vector(), c.Vector() + 16), ones);
}

TEST(CipherFrame, KeyFromTheCiphersOwnBufferIsCopiedBeforeTheWipe) {
  std::mt19937 rng(3);
  const Bytes key = RandomBytes(rng, 16);
  TCipher_Rijndael reference;
  reference.Init(key.data(), 16, nullptr);
  // The key sits in the work buffer, which key setup wipes first.
  TCipher_Rijndael c;
  std::memcpy(c.Buffer(), key.data(), 16);
  c.Init(c.Buffer(), 16, nullptr);
  Bytes a(16, 7), b(16, 7);
  reference.EncryptBlock(a.data());
  c.EncryptBlock(b.data());
  EXPECT_EQ(a, b);
}

TEST(CipherFrame, NotInitializedAndStrictKeySize) {
  TCipher_Twofish c;
  Bytes buf(20);
  try {
    c.EncodeBuffer(buf.data(), buf.data(), 20);
    FAIL();
  } catch (const ECipherException& e) {
    EXPECT_EQ(e.ErrorCode(), 3);
    EXPECT_STREQ(e.what(), "TCipher_Twofish is not initialized call Init() or InitKey() before.");
  }
  EXPECT_THROW(c.DecodeBuffer(buf.data(), buf.data(), 20), ECipherException);
  StrictKeySize = true;
  Bytes key(33, 1);
  try {
    c.Init(key.data(), 33, nullptr);
    FAIL();
  } catch (const ECipherException& e) {
    EXPECT_EQ(e.ErrorCode(), 2);
  }
  StrictKeySize = false;
  EXPECT_FALSE(c.Initialized());
  c.Init(key.data(), 33, nullptr);  // cut to 32 bytes
  EXPECT_TRUE(c.Initialized());
}

TEST(CipherFrame, ProtectWipesScheduleAndBuffers) {
  TCipher_Blowfish c;
  c.InitKey("secret", nullptr);
  c.Protect();
  EXPECT_FALSE(c.Initialized());
  EXPECT_FALSE(c.HasHashKey());
  EXPECT_EQ(Bytes(c.Buffer(), c.Buffer() + 8), Bytes(8, 0));
  EXPECT_EQ(Bytes(c.Vector(), c.Vector() + 8), Bytes(8, 0xFF));
}

TEST(CipherFrame, HashClassSelection) {
  TCipher_Rijndael c;
  EXPECT_EQ(c.HashClass(), &THash_RipeMD256::Create);
  THash* held = &c.Hash();
  c.SetHashClass(&THash_RipeMD256::Create);
  EXPECT_EQ(&c.Hash(), held) << "the class in use keeps its object";
  c.SetHashClass(&THash_MD4::Create);
  EXPECT_EQ(c.Hash().DigestKeySize(), 16);
  c.SetHashClass(nullptr);
  EXPECT_EQ(c.HashClass(), &THash_RipeMD256::Create);

  // Null while the fallback is in use still drops the object: the digest
  // the old one held is gone, the new one has never been fed.
  c.Hash().Init();
  c.Hash().Calc("abc", 3);
  c.Hash().Done();
  EXPECT_FALSE(Bytes(c.Hash().DigestKey(), c.Hash().DigestKey() + 32) == Bytes(32, 0));
  c.SetHashClass(nullptr);
  EXPECT_EQ(Bytes(c.Hash().DigestKey(), c.Hash().DigestKey() + 32), Bytes(32, 0));
}

// CTS of 37 bytes: two full blocks and a 5-byte tail, undone by decoding,
// both leaving the same feedback register; consecutive calls chain.
TEST(CipherFrame, CtsChainsAcrossCallsAndDoneRestarts) {
  std::mt19937 rng(11);
  const Bytes plain = RandomBytes(rng, 37);
  TCipher_Rijndael c;
  c.InitKey("k", c.Vector());
  Bytes one = plain;
  c.EncodeBuffer(one.data(), one.data(), 37);
  const Bytes f_enc(c.Feedback(), c.Feedback() + 16);
  c.Done();
  Bytes back = one;
  c.DecodeBuffer(back.data(), back.data(), 37);
  EXPECT_EQ(back, plain);
  EXPECT_EQ(Bytes(c.Feedback(), c.Feedback() + 16), f_enc);
  c.Done();
  Bytes two = plain;
  c.EncodeBuffer(two.data(), two.data(), 16);
  c.EncodeBuffer(two.data() + 16, two.data() + 16, 21);
  EXPECT_EQ(two, one);
  c.Done();
  Bytes again(plain.begin(), plain.begin() + 16);
  c.EncodeBuffer(again.data(), again.data(), 16);
  EXPECT_EQ(again, Bytes(one.begin(), one.begin() + 16));
  // Nothing to code leaves the register alone.
  const Bytes f(c.Feedback(), c.Feedback() + 16);
  c.EncodeBuffer(again.data(), again.data(), 0);
  EXPECT_EQ(Bytes(c.Feedback(), c.Feedback() + 16), f);
}

// ---------------------------------------------------------------------------
// Protections, chains and coding operations

TEST(ProtectionChain, CircularChainIsRefusedAndLeftAlone) {
  auto a = std::make_shared<TCipher_Rijndael>();
  auto b = std::make_shared<TCipher_Rijndael>(a);
  auto c = std::make_shared<TCipher_Rijndael>(b);
  EXPECT_THROW(a->SetProtection(c), EProtection);
  EXPECT_EQ(a->Protection(), nullptr);
  EXPECT_EQ(c->Protection(), b);
}

class FailingProtection : public TProtection {
 public:
  int finished = 0;

 protected:
  void ProcessBuffer(void*, std::int32_t, TPAction) override { throw std::runtime_error("boom"); }
  void FinishAction(TPAction) override { ++finished; }
};

TEST(ProtectionChain, CodeBufferFinishesAfterAFailure) {
  auto inner = std::make_shared<FailingProtection>();
  auto c = std::make_shared<TCipher_Rijndael>(inner);
  c->InitKey("pw", nullptr);
  Bytes buf(10);
  EXPECT_THROW(c->CodeBuffer(buf.data(), 10, TPAction::paEncode), std::runtime_error);
  EXPECT_EQ(inner->finished, 1);
}

TEST(ProtectionChain, ChainEncodesInnerFirstAndDecodesItLast) {
  std::mt19937 rng(5);
  const Bytes plain = RandomBytes(rng, 100);
  auto inner = TCipher::Create<TCipher_Twofish>("inner");
  auto outer = TCipher::Create<TCipher_Blowfish>("outer", inner);
  Bytes buf = plain;
  EXPECT_EQ(outer->CodeBuffer(buf.data(), 100, TPAction::paEncode), 100);
  Bytes manual = plain;
  inner->Done();
  inner->EncodeBuffer(manual.data(), manual.data(), 100);
  inner->Done();
  outer->Done();
  outer->EncodeBuffer(manual.data(), manual.data(), 100);
  outer->Done();
  EXPECT_EQ(buf, manual);
  outer->CodeBuffer(buf.data(), 100, TPAction::paDecode);
  EXPECT_EQ(buf, plain);
}

TEST(ProtectionChain, CodeStringAndCodeFileRoundTrip) {
  auto c = TCipher::Create<TCipher_Rijndael>("pw");
  const std::string text = "Shaft power 1234.5 kW at 88 rpm";
  const std::string coded = c->CodeString(text, TPAction::paEncode, -1);
  EXPECT_NE(coded, text);
  EXPECT_EQ(c->CodeString(coded, TPAction::paDecode, -1), text);

  const auto dir =
      std::filesystem::temp_directory_path() / ("vezcode" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string a = (dir / "a.bin").string(), b = (dir / "b.bin").string();
  {
    std::ofstream out(a, std::ios::binary);
    out << std::string(10000, 'x') << text;
  }
  c->CodeFile(a, b, TPAction::paEncode);
  // The same file under another path is coded in place, not truncated.
  const std::string same = (dir / "." / "b.bin").string();
  c->CodeFile(b, same, TPAction::paDecode);
  std::ifstream in(b, std::ios::binary);
  const std::string back((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(back, std::string(10000, 'x') + text);
  std::filesystem::remove_all(dir);
}

TEST(HashFrame, OneShotDigestsInTextFormats) {
  // MD4("abc") = a448017aaf21d8525fc10ae87aa6729d
  const std::string raw = "\xa4\x48\x01\x7a\xaf\x21\xd8\x52\x5f\xc1\x0a\xe8\x7a\xa6\x72\x9d";
  EXPECT_EQ(THash::CalcString(&THash_MD4::Create, "abc", nullptr, 1), raw);
  EXPECT_EQ(THash::CalcString(&THash_MD4::Create, "abc", nullptr, -1),
            EncodeToFormat(raw.data(), 16, 4196));
  EXPECT_THROW(THash::CalcString(&THash_MD4::Create, "abc", nullptr, 16), platform::Exception);
  auto h = THash_RipeMD128::Create();
  h->Init();
  h->Calc("abc", 3);
  h->Done();
  EXPECT_EQ(h->DigestStr(1).size(), 16u);
}

// ---------------------------------------------------------------------------
// The page coder

class PageCoder : public ::testing::TestWithParam<int> {
 protected:
  TVEZCryptoAlgorithm Algorithm() const { return static_cast<TVEZCryptoAlgorithm>(GetParam()); }
};

TEST_P(PageCoder, RoundTripsEverySizeAndIsDeterministic) {
  std::mt19937 rng(static_cast<unsigned>(GetParam()) + 100);
  for (std::int32_t size : {0, 1, 7, 8, 15, 16, 23, 24, 25, 100, 256, 4056}) {
    SCOPED_TRACE(size);
    const Bytes plain = RandomBytes(rng, static_cast<std::size_t>(size) + 8);
    Bytes a = plain, b = plain;
    ASSERT_TRUE(EncryptPageData(Algorithm(), a.data(), size, "pw"));
    ASSERT_TRUE(EncryptPageData(Algorithm(), b.data(), size, "pw"));
    EXPECT_EQ(a, b) << "deterministic";
    EXPECT_TRUE(std::equal(a.begin() + size, a.end(), plain.begin() + size))
        << "only size bytes change";
    if (size >= 8) {
      EXPECT_NE(a, plain);
    }
    Bytes other = plain;
    ASSERT_TRUE(EncryptPageData(Algorithm(), other.data(), size, "Pw"));
    if (size > 0) {
      EXPECT_NE(other, a);
    }
    ASSERT_TRUE(DecryptPageData(Algorithm(), a.data(), size, "pw"));
    EXPECT_EQ(a, plain);
    // A wrong password decodes to other bytes, without an error.
    Bytes wrong = b;
    EXPECT_TRUE(DecryptPageData(Algorithm(), wrong.data(), size, "px"));
    if (size >= 8) {
      EXPECT_NE(wrong, plain);
    }
  }
}

TEST_P(PageCoder, EmptyPasswordIsAKeyLikeAnyOther) {
  Bytes page(4056, 0x41);
  ASSERT_TRUE(EncryptPageData(Algorithm(), page.data(), 4056, ""));
  EXPECT_NE(page, Bytes(4056, 0x41));
  ASSERT_TRUE(DecryptPageData(Algorithm(), page.data(), 4056, ""));
  EXPECT_EQ(page, Bytes(4056, 0x41));
}

INSTANTIATE_TEST_SUITE_P(AllCombinations, PageCoder, ::testing::Range(0, kCryptoAlgorithmCount),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(kCryptoAlgorithmNames[info.param]);
                         });

TEST(PageCoderGuards, UnknownAlgorithmAnswersFalseAndLeavesTheBuffer) {
  for (int value : {8, 9, 200, 255}) {
    Bytes page(256, 0x33);
    EXPECT_FALSE(EncryptPageData(static_cast<TVEZCryptoAlgorithm>(value), page.data(), 256, "pw"));
    EXPECT_FALSE(DecryptPageData(static_cast<TVEZCryptoAlgorithm>(value), page.data(), 256, "pw"));
    EXPECT_EQ(page, Bytes(256, 0x33));
  }
}

// The page coder is the frame's CTS with the combination's hash digest as
// key and a vector of 0xFF bytes: written out through the block cipher.
TEST(PageCoderGuards, MatchesTheChainWrittenOut) {
  std::mt19937 rng(9);
  const Bytes plain = RandomBytes(rng, 256);
  auto h = THash_RipeMD128::Create();
  h->Init();
  h->Calc("pw", 2);
  h->Done();
  TCipher_3TDES c;
  c.Init(h->DigestKey(), 16, c.Vector());
  Bytes f(24, 0xFF), expected = plain;
  int pos = 0;
  for (; pos + 24 <= 256; pos += 24) {
    Bytes blk(expected.begin() + pos, expected.begin() + pos + 24);
    for (int i = 0; i < 24; ++i)
      blk[i] ^= f[i];
    c.EncryptBlock(blk.data());
    for (int i = 0; i < 24; ++i)
      f[i] ^= blk[i];
    std::copy(blk.begin(), blk.end(), expected.begin() + pos);
  }
  EXPECT_EQ(pos, 240) << "ten blocks and a 16-byte tail";
  Bytes z = f;
  c.EncryptBlock(z.data());
  for (int i = pos; i < 256; ++i)
    expected[i] ^= z[i - pos];
  Bytes got = plain;
  ASSERT_TRUE(EncryptPageData(craDES_Triple, got.data(), 256, "pw"));
  EXPECT_EQ(got, expected);
}

// Every combination written out from its table row: the hash, how many
// digest bytes key the cipher, and the CTS chain with a tail, on a control
// block and on the data of a 4096-byte page.
TEST(PageCoderGuards, EveryCombinationMatchesItsTableRow) {
  struct Row {
    TVEZCryptoAlgorithm algorithm;
    std::function<std::unique_ptr<TCipher>()> make;
    THashClass hash;
    int key_bytes;
  };
  const std::vector<Row> rows = {
      {craRijndael_128, [] { return std::make_unique<TCipher_Rijndael>(); },
       &THash_RipeMD128::Create, 16},
      {craRijndael_256, [] { return std::make_unique<TCipher_Rijndael>(); },
       &THash_RipeMD256::Create, 32},
      {craDES_Single, [] { return std::make_unique<TCipher_1DES>(); }, &THash_RipeMD128::Create, 8},
      {craDES_Triple, [] { return std::make_unique<TCipher_3TDES>(); }, &THash_RipeMD128::Create,
       16},
      {craBlowfish, [] { return std::make_unique<TCipher_Blowfish>(); }, &THash_RipeMD256::Create,
       32},
      {craTwofish_128, [] { return std::make_unique<TCipher_Twofish>(); }, &THash_RipeMD128::Create,
       16},
      {craTwofish_256, [] { return std::make_unique<TCipher_Twofish>(); }, &THash_RipeMD256::Create,
       32},
      {craSquare, [] { return std::make_unique<TCipher_Square>(); }, &THash_RipeMD128::Create, 16},
  };
  std::mt19937 rng(21);
  const std::string password = "Sea trial 7";
  for (const Row& r : rows) {
    for (int size : {256, 4056}) {
      SCOPED_TRACE(std::string(kCryptoAlgorithmNames[r.algorithm]) + " size " +
                   std::to_string(size));
      const Bytes plain = RandomBytes(rng, static_cast<std::size_t>(size));
      auto h = r.hash();
      h->Init();
      h->Calc(password.data(), static_cast<std::int32_t>(password.size()));
      h->Done();
      std::unique_ptr<TCipher> c = r.make();
      const Bytes key(h->DigestKey(), h->DigestKey() + r.key_bytes);
      c->Init(key.data(), r.key_bytes, c->Vector());
      const int n = c->BufSize();
      Bytes f(static_cast<std::size_t>(n), 0xFF), expected = plain;
      int pos = 0;
      for (; pos + n <= size; pos += n) {
        Bytes blk(expected.begin() + pos, expected.begin() + pos + n);
        XorBytes(blk.data(), f.data(), n, blk.data());
        c->EncryptBlock(blk.data());
        XorBytes(f.data(), blk.data(), n, f.data());
        std::copy(blk.begin(), blk.end(), expected.begin() + pos);
      }
      Bytes z = f;
      c->EncryptBlock(z.data());
      for (int i = pos; i < size; ++i)
        expected[i] ^= z[i - pos];
      Bytes got = plain;
      ASSERT_TRUE(EncryptPageData(r.algorithm, got.data(), size, password));
      EXPECT_EQ(got, expected);
      ASSERT_TRUE(DecryptPageData(r.algorithm, got.data(), size, password));
      EXPECT_EQ(got, plain);
    }
  }
}

// Stored files depend on these exact bytes: the first 40 bytes 0..39 coded
// under "pw" by each combination (two or more blocks and, for the 16- and
// 24-byte blocks, a tail).
TEST(PageCoderGuards, FrozenBytesOfEveryCombination) {
  const char* const golden[kCryptoAlgorithmCount] = {
      "e59fe24e7f7e18280c58473e8a4ab03998245f3147839598c377fc045fa6cf34bd76a106001f54f5",
      "bb51dbbf5b2690ab46d5916187fcd035d1916ac4b9566eea186322fd524e8a67d42b5ac21d667804",
      "fbe14d83a5765ab2fcc6e457746e158f78370fb455b1a7875d14d1d7e383ff3f708d30d1a7500e2a",
      "09be7083ce541aeca3612538a9e5473788a6a4132f8d96b09ac559e340f7776fd14aaabdc91c2ab0",
      "7d4ca9156adcffda55eb87b8c6ff19b853eeb69e39460bacbddecca23d0e2b90a548fff37a5eed8c",
      "c2ef53a7b9f21d969b0228d38bc880423e707d86aa1c0cccc9d759f0fb275817c48416b068de619e",
      "a59bfdf983aef6dea8f4abbb50fbd8c3083187c2d1d889aa6c37926dcba9589409aee4600eabc0e1",
      "b585bc2d22e6c83576a142694befc628b3297b66058ab29d9a72f96851cd601654a5543e104b075e",
  };
  for (int a = 0; a < kCryptoAlgorithmCount; ++a) {
    SCOPED_TRACE(kCryptoAlgorithmNames[a]);
    Bytes data(40);
    for (int i = 0; i < 40; ++i)
      data[i] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(EncryptPageData(static_cast<TVEZCryptoAlgorithm>(a), data.data(), 40, "pw"));
    std::string hex;
    for (std::uint8_t b : data) {
      constexpr char kDigits[] = "0123456789abcdef";
      hex += kDigits[b >> 4];
      hex += kDigits[b & 15];
    }
    EXPECT_EQ(hex, golden[a]);
  }
}

TEST(PasswordRecord, CopiesAndWipes) {
  TVEZPassword a{"secret", craBlowfish};
  TVEZPassword b;
  b = a;
  EXPECT_EQ(b.Password, "secret");
  TVEZPassword c;
  c = std::move(a);
  EXPECT_EQ(c.Password, "secret");
  EXPECT_TRUE(a.Password.empty());
  std::string s = "wipe me";
  WipeString(s);
  EXPECT_TRUE(s.empty());
}

// A text that was moved away or shortened still holds old characters in its
// storage; wiping must reach them too.
TEST(PasswordRecord, WipeReachesTheWholeStorage) {
  auto all_zero = [](const char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
      if (p[i] != 0) return false;
    return true;
  };
  std::string moved = "secret";
  std::string taker = std::move(moved);
  const char* p = moved.data();
  std::size_t cap = moved.capacity();
  WipeString(moved);
  EXPECT_EQ(moved.data(), p);
  EXPECT_TRUE(all_zero(p, cap));

  std::string shortened(100, 'k');
  shortened.resize(3);
  p = shortened.data();
  cap = shortened.capacity();
  WipeString(shortened);
  EXPECT_EQ(shortened.data(), p);
  EXPECT_TRUE(all_zero(p, cap));
  EXPECT_EQ(taker, "secret");
}

// ---------------------------------------------------------------------------
// Hash state, key setup traces, and the routines without test data

// The digest pointer is the chaining state: right after Init it shows the
// initial values, which the hash's own encode action feeds first.
TEST(HashFrame, DigestKeyIsTheChainingState) {
  const Bytes md4_start = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                           0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
  THash_MD4 md4;
  md4.Init();
  EXPECT_EQ(Bytes(md4.DigestKey(), md4.DigestKey() + 16), md4_start);
  THash_RipeMD256 r256;
  r256.Init();
  Bytes start256 = md4_start;
  for (std::uint8_t b : {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0xEF, 0xCD, 0xAB, 0x89,
                         0x67, 0x45, 0x23, 0x01})
    start256.push_back(b);
  EXPECT_EQ(Bytes(r256.DigestKey(), r256.DigestKey() + 32), start256);

  // Encoding 16 bytes with an MD4 protection xors them with the digest of
  // the initial state's bytes.
  THash_MD4 ref;
  ref.Init();
  ref.Calc(md4_start.data(), 16);
  ref.Done();
  Bytes expect(16);
  Bytes data(16);
  for (int i = 0; i < 16; ++i)
    data[i] = static_cast<std::uint8_t>(i * 7 + 1);
  XorBytes(data.data(), ref.DigestKey(), 16, expect.data());
  auto h = THash_MD4::Create();
  h->CodeBuffer(data.data(), 16, TPAction::paEncode);
  EXPECT_EQ(data, expect);
}

// The password digest is the key; key setup codes it where the hash keeps
// it, so the hash holds no plain key afterwards.
TEST(CipherFrame, InitKeyLeavesTheDigestCodedInTheHash) {
  THash_RipeMD128 plain_hash;
  plain_hash.Init();
  plain_hash.Calc("pw", 2);
  plain_hash.Done();
  const Bytes plain(plain_hash.DigestKey(), plain_hash.DigestKey() + 16);

  TCipher_Rijndael ref;
  ref.Init(plain.data(), 16, ref.Vector());
  Bytes coded(16);
  ref.EncodeBuffer(plain.data(), coded.data(), 16);

  TCipher_Rijndael c;
  c.SetHashClass(&THash_RipeMD128::Create);
  c.InitKey("pw", c.Vector());
  const Bytes held(c.Hash().DigestKey(), c.Hash().DigestKey() + 16);
  EXPECT_NE(held, plain);
  EXPECT_EQ(held, coded);
  // The cipher itself is keyed with the plain digest.
  Bytes block(16, 0x5A), a(16), b(16);
  c.EncodeBuffer(block.data(), a.data(), 16);
  ref.Done();
  ref.EncodeBuffer(block.data(), b.data(), 16);
  EXPECT_EQ(a, b);
}

TEST(CipherFrame, BlockKeyAndScheduleSizes) {
  struct Row {
    std::unique_ptr<TCipher> cipher;
    std::int32_t max_key, buf, key, user;
  };
  Row rows[] = {
      {std::make_unique<TCipher_Rijndael>(), TCipher::MaxKeySize<TCipher_Rijndael>(), 16, 32, 480},
      {std::make_unique<TCipher_Blowfish>(), TCipher::MaxKeySize<TCipher_Blowfish>(), 8, 56, 4168},
      {std::make_unique<TCipher_1DES>(), TCipher::MaxKeySize<TCipher_1DES>(), 8, 8, 256},
      {std::make_unique<TCipher_3DES>(), TCipher::MaxKeySize<TCipher_3DES>(), 8, 24, 768},
      {std::make_unique<TCipher_3TDES>(), TCipher::MaxKeySize<TCipher_3TDES>(), 24, 24, 768},
      {std::make_unique<TCipher_Twofish>(), TCipher::MaxKeySize<TCipher_Twofish>(), 16, 32, 4256},
      {std::make_unique<TCipher_Square>(), TCipher::MaxKeySize<TCipher_Square>(), 16, 16, 288},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.cipher->ClassName());
    EXPECT_EQ(r.cipher->BufSize(), r.buf);
    EXPECT_EQ(r.cipher->KeySize(), r.key);
    EXPECT_EQ(r.max_key, r.key);
    EXPECT_EQ(r.cipher->UserSize(), r.user);
    EXPECT_EQ(r.cipher->Mode(), TCipherMode::cmCTS);
    EXPECT_FALSE(r.cipher->Initialized());
  }
}

TEST(CipherFrame, RoutinesWithoutTestDataRaise) {
  auto expect_raise = [](auto&& call, const char* text) {
    try {
      call();
      ADD_FAILURE() << "no exception for " << text;
    } catch (const platform::Exception& e) {
      EXPECT_STREQ(e.what(), text);
    }
  };
  StrictKeySize = true;
  expect_raise([] { TCipher::SelfTest<TCipher_Blowfish>(); }, "Not implemented 14");
  expect_raise([] { TCipher::SelfTest<TCipher_Square>(); }, "Not implemented 14");
  EXPECT_TRUE(StrictKeySize);
  StrictKeySize = false;
  expect_raise([] { THash::SelfTest(); }, "Not implemented 14");
  TCipher_1DES des;
  expect_raise([&] { des.Identity(); }, "Not implemented 13");
  expect_raise([&] { des.KnownAnswer(); }, "TCipher_1DES.TestVector not implemented");
  expect_raise([] { THash_MD4().KnownAnswer(); }, "THash_MD4.TestVector not implemented 28");
}

// ---------------------------------------------------------------------------
// Text formats

TEST(StringFormats, RegistryAndNames) {
  struct Row {
    std::int32_t id;
    const char* name;
  } rows[] = {{1, "copy Input to Output"}, {16, "Hexadecimal"},  {1016, "Hexadecimal lowercase"},
              {4196, "MIME Base 64"},      {21845, "UU Coding"}, {22616, "XX Coding"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.id);
    const TStringFormat* f = FindStringFormat(r.id);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Name(), r.name);
    EXPECT_EQ(f->Format(), r.id);
  }
  EXPECT_EQ(FindStringFormat(-1), &TStringFormat_MIME64::Instance());
  EXPECT_EQ(FindStringFormat(2), nullptr);
}

TEST(StringFormats, EncodeAndDecodeThroughTheRegistry) {
  EXPECT_EQ(EncodeToFormat("abc", 3, 0), "");
  EXPECT_EQ(EncodeToFormat("abc", 3, -1), "YWJj");
  EXPECT_EQ(EncodeToFormat("A", 1, 4196), "QQ==");
  EXPECT_EQ(EncodeToFormat("AB", 2, 4196), "QUI=");
  EXPECT_EQ(EncodeToFormat("ABC", -1, 4196), "QUJD");
  EXPECT_EQ(EncodeToFormat("copy", 4, 1), "copy");
  try {
    EncodeToFormat("x", 1, 2);
    FAIL();
  } catch (const EStringFormat& e) {
    EXPECT_STREQ(e.what(), "String Format \"2\" not exists.");
  }
  try {
    EncodeToFormat("x", 1, 16);
    FAIL();
  } catch (const platform::Exception& e) {
    EXPECT_STREQ(e.what(), "Not Implemented 2");
  }
  EXPECT_EQ(EncodeToFormat("", 0, 16), "");
  EXPECT_THROW(DecodeFromFormat("AB", 2, 21845), platform::Exception);
  EXPECT_EQ(DecodeFromFormat("QUJDREVG", -1, 4196), "ABCDEF");
  try {
    DecodeFromFormat("QUJD\r\nREVG", -1, 4196);
    FAIL();
  } catch (const EStringFormat& e) {
    EXPECT_STREQ(e.what(), "Input is not an valid MIME Base 64 Format.");
  }
}

TEST(StringFormats, Base64DecodingSkipsCharactersOutsideTheAlphabet) {
  const auto& f = TStringFormat_MIME64::Instance();
  EXPECT_EQ(f.ToStr("QUJD\r\nREVG", -1), "ABCDEF");
  EXPECT_EQ(f.ToStr("QU JD\tRE\nVG", -1), "ABCDEF");
  EXPECT_EQ(f.ToStr("QQ", -1), "A");
  EXPECT_EQ(f.ToStr("QUI=\r\n", -1), "AB");
  std::mt19937 rng(17);
  for (int n = 0; n < 200; ++n) {
    const Bytes b = RandomBytes(rng, static_cast<std::size_t>(n));
    const std::string text = f.StrTo(reinterpret_cast<const char*>(b.data()), n);
    EXPECT_EQ(text.size(), static_cast<std::size_t>((n + 2) / 3 * 4));
    std::string broken;
    for (std::size_t i = 0; i < text.size(); ++i) {
      broken += text[i];
      if (i % 19 == 18) broken += "\r\n";
    }
    EXPECT_EQ(f.ToStr(broken.data(), static_cast<std::int32_t>(broken.size())), Text(b));
  }
}

TEST(StringFormats, RegisteringTheSameIdReplacesInPlace) {
  class OtherCopy : public TStringFormat {
   public:
    std::string Name() const override { return "other copy"; }
  };
  static const OtherCopy other;
  AddStringFormatClasses({&other, nullptr});
  EXPECT_EQ(FindStringFormat(1), &other);
  AddStringFormatClasses({&TStringFormat::Instance()});
  EXPECT_EQ(FindStringFormat(1), &TStringFormat::Instance());
}

TEST(ByteHelpers, XorCompareRotateSwap) {
  std::uint8_t a[4] = {1, 2, 3, 250}, b[4] = {1, 2, 4, 5};
  EXPECT_EQ(CompareBytes(a, a, 4), 0);
  EXPECT_EQ(CompareBytes(a, b, 4), -1);
  EXPECT_EQ(CompareBytes(b, a, 4), 1);
  XorBytes(a, b, 4, a);
  EXPECT_EQ(a[3], 250 ^ 5);
  EXPECT_EQ(RotateLeft32(0x80000001u, 1), 0x00000003u);
  EXPECT_EQ(RotateRight32(0x00000003u, 33), 0x80000001u);
  EXPECT_EQ(SwapBytes32(0x11223344u), 0x44332211u);
  EXPECT_EQ(GetCPULevel(), 4);
}

TEST(CipherRegistry, RijndaelIsRegisteredUnderItsShortName) {
  const auto entries = RegisteredCipherEntries();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries[0], "Rijndael=");
  EXPECT_TRUE(AddCipherClass("TCipher_Blowfish", "", "fast"));
  EXPECT_EQ(RegisteredCipherEntries().back(), "Blowfish=fast");
  EXPECT_FALSE(AddCipherClass("", "x", "y"));
}

}  // namespace
}  // namespace vez
