#include "dbengine/foundation/VEZTypes.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <set>

namespace vez {
namespace {

// The ordinals are written into files and streams; these pin them.
TEST(VEZTypesTest, EnumerationOrdinals) {
  static_assert(sizeof(TVEZBaseFieldType) == 1 && sizeof(TVEZAdvancedFieldType) == 1 &&
                sizeof(TVEZDataOperator) == 1 && sizeof(TVEZLockType) == 1);
  struct Row {
    int actual, expected;
    const char* name;
  };
  const Row rows[] = {
      {grmPrior, 2, "grmPrior"},
      {grrError, 3, "grrError"},
      {bomReadWrite, 2, "bomReadWrite"},
      {dbftActiveSessionsList, 2, "dbftActiveSessionsList"},
      {ltIS, 0, "ltIS"},
      {ltRW, 4, "ltRW"},
      {ltX, 6, "ltX"},
      {smShareDenyWrite, 2, "smShareDenyWrite"},
      {amReadWrite, 1, "amReadWrite"},
      {ajtFullOuter, 4, "ajtFullOuter"},
      {autExcept, 2, "autExcept"},
      {attSubQuery, 2, "attSubQuery"},
      {qetIntersect, 3, "qetIntersect"},
      {bmtSynchronize, 5, "bmtSynchronize"},
      {ctCheck, 4, "ctCheck"},
      {cmprBothNull, 5, "cmprBothNull"},
      {scGreaterEqual, 5, "scGreaterEqual"},
      {dtefSecond, 5, "dtefSecond"},
      {bftChar, 1, "bftChar"},
      {bftExtended, 14, "bftExtended"},
      {bftDateTime, 17, "bftDateTime"},
      {bftLogical, 21, "bftLogical"},
      {bftBFile, 25, "bftBFile"},
      {aftAutoInc, 12, "aftAutoInc"},
      {aftAutoIncCardinal, 19, "aftAutoIncCardinal"},
      {aftTimeStamp, 28, "aftTimeStamp"},
      {aftGuid, 36, "aftGuid"},
      {doLIKE, 15, "doLIKE"},
      {doSUM, 34, "doSUM"},
      {doCAST, 46, "doCAST"},
      {doROWNUM, 49, "doROWNUM"},
      {doSQRT, 65, "doSQRT"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.actual, r.expected);
  }
}

TEST(VEZTypesTest, PackedRecordLayouts) {
  std::array<std::uint8_t, 40> buf{};
  const TVEZPageItemID id{0x01020304, 0xA0B0};
  id.Encode(buf.data() + 1);  // unaligned on purpose
  EXPECT_EQ((std::array<std::uint8_t, 6>{buf[1], buf[2], buf[3], buf[4], buf[5], buf[6]}),
            (std::array<std::uint8_t, 6>{0x04, 0x03, 0x02, 0x01, 0xB0, 0xA0}));
  EXPECT_EQ(TVEZPageItemID::Decode(buf.data() + 1), id);
  EXPECT_EQ(TVEZPageItemID::Decode("\xFF\xFF\xFF\xFF\xFF\xFF").PageNo, -1);

  const TVEZDateTime dt{693594, 86399999};
  dt.Encode(buf.data());
  EXPECT_EQ(buf[0], 0x5A);  // 693594 = 0x000A955A
  EXPECT_EQ(buf[1], 0x95);
  EXPECT_EQ(buf[2], 0x0A);
  EXPECT_EQ(buf[4], 0xFF);  // 86399999 = 0x05265BFF
  EXPECT_EQ(buf[7], 0x05);
  EXPECT_EQ(TVEZDateTime::Decode(buf.data()), dt);

  const TVEZPartialTemporaryBLOBDescriptor p{3, 0x1122334455667788LL, -2};
  buf.fill(0xEE);
  p.Encode(buf.data());
  EXPECT_EQ(buf[0], 3);
  EXPECT_EQ(buf[4], 0x88);
  EXPECT_EQ(buf[11], 0x11);
  EXPECT_EQ(buf[12], 0xFE);
  EXPECT_EQ(buf[19], 0xFF);
  EXPECT_EQ(buf[20], 0xEE);  // exactly 20 bytes written
  EXPECT_EQ(TVEZPartialTemporaryBLOBDescriptor::Decode(buf.data()), p);

  TVEZBLOBDescriptor b;
  b.BlockSize = 102400;
  b.NumBlocks = 7;
  b.UncompressedSize = 5LL << 32;
  b.StartPosition = 4096;
  b.CompressionAlgorithm = 1;
  b.CompressionMode = 9;
  b.Reserved = 0xBEEF;
  buf.fill(0xEE);
  b.Encode(buf.data());
  EXPECT_EQ(buf[4], 7);
  EXPECT_EQ(buf[16], 5);
  EXPECT_EQ(buf[21], 0x10);
  EXPECT_EQ(buf[28], 1);
  EXPECT_EQ(buf[29], 9);
  EXPECT_EQ(buf[30], 0xEF);
  EXPECT_EQ(buf[32], 0xEE);
  EXPECT_EQ(TVEZBLOBDescriptor::Decode(buf.data()), b);

  const TVEZCompressedStreamBlockHeader h{100, 200, 0xDEADBEEF, 120};
  buf.fill(0xEE);
  h.Encode(buf.data());
  EXPECT_EQ(buf[8], 0xEF);
  EXPECT_EQ(buf[12], 120);
  EXPECT_EQ(buf[20], 0xEE);
  EXPECT_EQ(TVEZCompressedStreamBlockHeader::Decode(buf.data()), h);
}

TEST(VEZTypesTest, BufferBits) {
  std::array<std::uint8_t, 3> buf{};
  SetBufferBit(true, 0, buf.data());
  SetBufferBit(true, 9, buf.data());
  SetBufferBit(true, 23, buf.data());
  EXPECT_EQ(buf, (std::array<std::uint8_t, 3>{0x01, 0x02, 0x80}));
  EXPECT_TRUE(GetBufferBit(9, buf.data()));
  EXPECT_FALSE(GetBufferBit(8, buf.data()));
  SetBufferBit(false, 9, buf.data());
  SetBufferBit(false, 10, buf.data());  // clearing a clear bit
  EXPECT_EQ(buf, (std::array<std::uint8_t, 3>{0x01, 0x00, 0x80}));
}

TEST(VEZTypesTest, MakeUniqueName) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string name = MakeUniqueName("Expr");
    ASSERT_EQ(name.size(), 4u + 38u);
    EXPECT_EQ(name.substr(0, 4), "Expr");
    const std::string g = name.substr(4);
    EXPECT_EQ(g.front(), '{');
    EXPECT_EQ(g.back(), '}');
    for (std::size_t k : {9u, 14u, 19u, 24u})
      EXPECT_EQ(g[k], '-') << g;
    for (std::size_t k = 1; k < 37; ++k) {
      if (k == 9 || k == 14 || k == 19 || k == 24) continue;
      EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(g[k])) &&
                  !std::islower(static_cast<unsigned char>(g[k])))
          << g;
    }
    seen.insert(name);
  }
  EXPECT_EQ(seen.size(), 100u);
  EXPECT_EQ(MakeUniqueName("").size(), 38u);
}

}  // namespace
}  // namespace vez
