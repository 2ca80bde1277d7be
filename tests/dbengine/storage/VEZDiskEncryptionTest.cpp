// Encrypted database files end to end, for every cipher-and-hash
// combination: created and filled through the disk table, reopened with the
// right password, refused with a wrong one (nothing written), rekeyed under a
// new password; no plain row bytes in the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZCrc32.h"
#include "dbengine/foundation/VEZSecurity.h"
#include "dbengine/storage/VEZDBFileFormat.h"
#include "dbengine/storage/VEZDiskPageManager.h"
#include "dbengine/storage/VEZPageHeader.h"
#include "tests/common/NativeError.h"
#include "tests/dbengine/storage/DiskTableTestSupport.h"
#include "tests/dbengine/storage/DiskTestSupport.h"

namespace vez {
namespace {

using test::MakeDataRow;
using test::NativeErrorOf;
using test::ScratchDir;
using test::TDataRow;
using test::TDiskTableEnv;
using test::TTestLocalCursor;

constexpr int kRows = 300;

std::vector<TDataRow> Expected() {
  std::vector<TDataRow> rows;
  for (int n = 0; n < kRows; ++n) {
    TDataRow r = MakeDataRow(1 + n % 2, n);
    r.id = n + 1;
    rows.push_back(r);
  }
  return rows;
}

void Fill(const std::string& path, const TVEZPassword& pw) {
  TDiskTableEnv env(path, true, false, TVEZDurability::Off, 16, pw);
  env.CreateDataTable();
  TTestLocalCursor& c = env.Open();
  for (int n = 0; n < kRows; ++n)
    ASSERT_EQ(TDiskTableEnv::Append(c, MakeDataRow(1 + n % 2, n)), n + 1);
}

std::vector<TDataRow> ReadBack(const std::string& path, const TVEZPassword& pw) {
  TDiskTableEnv env(path, false, false, TVEZDurability::Off, 16, pw);
  return TDiskTableEnv::ReadAll(env.Open());
}

// How many of the rows' power values (8-byte doubles) appear in the bytes.
int PlainValuesFound(const std::vector<std::uint8_t>& file) {
  int found = 0;
  for (int n = 0; n < kRows; n += 7) {
    const double v = MakeDataRow(1, n).power;
    std::uint8_t raw[8];
    std::memcpy(raw, &v, 8);
    if (std::search(file.begin(), file.end(), raw, raw + 8) != file.end()) ++found;
  }
  return found;
}

// Opens name with pw through a bare page manager.
std::int32_t OpenError(const std::string& name, const TVEZPassword& pw,
                       TVEZPassword* stored = nullptr) {
  TVEZDiskPageManager pm;
  bool read_only = false, repair = false, multi = false;
  const std::int32_t e =
      NativeErrorOf([&] { pm.OpenDatabase(name, pw, read_only, repair, true, multi); });
  if (stored) *stored = pm.Password();
  pm.CloseDatabase();
  return e;
}

void Rekey(const std::string& name, const TVEZPassword& old_pw, const TVEZPassword& new_pw) {
  const std::string tmp = name + ".tmp";
  {
    TVEZDiskPageManager pm;
    bool read_only = false, repair = false, multi = false;
    pm.OpenDatabase(name, old_pw, read_only, repair, true, multi);
    EXPECT_TRUE(pm.WriteRekeyedCopy(tmp, new_pw));
    pm.CloseDatabase();
  }
  std::filesystem::rename(tmp, name);
}

class DiskEncryptionTest : public ::testing::TestWithParam<int> {
 protected:
  TVEZCryptoAlgorithm Algorithm() const { return static_cast<TVEZCryptoAlgorithm>(GetParam()); }
  ScratchDir dir;
  std::string path = dir.Path("log.vez");
};

TEST_P(DiskEncryptionTest, CreateReopenRefuseAndRekey) {
  const TVEZPassword pw{"sea trial 7", Algorithm()};
  Fill(path, pw);
  const std::vector<std::uint8_t> stored = test::ReadAll(path);
  ASSERT_GT(stored.size(), 380u);
  EXPECT_EQ(stored[43], 0xFF) << "encrypted flag";
  EXPECT_EQ(stored[76 + 2], GetParam()) << "stored combination";
  EXPECT_EQ(PlainValuesFound(stored), 0) << "plain row bytes reached the file";

  EXPECT_EQ(ReadBack(path, pw), Expected());

  // A wrong password, and no password, are refused and write nothing.
  EXPECT_EQ(OpenError(path, TVEZPassword{"sea trial 8", Algorithm()}), 30445);
  EXPECT_EQ(OpenError(path, TVEZPassword{}), 30445);
  EXPECT_EQ(test::ReadAll(path), stored);

  // The stored combination wins over the caller's.
  TVEZPassword got;
  const auto other = static_cast<TVEZCryptoAlgorithm>((GetParam() + 1) % kCryptoAlgorithmCount);
  EXPECT_EQ(OpenError(path, TVEZPassword{"sea trial 7", other}, &got), 0);
  EXPECT_EQ(got.CryptoAlgorithm, Algorithm());

  // A new password and the next combination: the old one is refused.
  const TVEZPassword next{"harbour", other};
  Rekey(path, pw, next);
  EXPECT_EQ(OpenError(path, pw), 30445);
  EXPECT_EQ(ReadBack(path, next), Expected());
  EXPECT_EQ(PlainValuesFound(test::ReadAll(path)), 0);

  // And back to a plain file, which reads as any other.
  Rekey(path, next, TVEZPassword{});
  EXPECT_EQ(test::ReadAll(path)[43], 0);
  EXPECT_EQ(ReadBack(path, TVEZPassword{}), Expected());
  EXPECT_GT(PlainValuesFound(test::ReadAll(path)), 0) << "the search finds plain values";
}

// What the file holds: the control block coded with its CRC over the plain
// bytes; every page header plain; coded pages name their combination and
// carry the CRC of their plain data; the free-space maps stay plain.
TEST_P(DiskEncryptionTest, StoredLayout) {
  const TVEZPassword pw{"sea trial 7", Algorithm()};
  Fill(path, pw);
  const std::vector<std::uint8_t> file = test::ReadAll(path);
  auto u32 = [&](std::size_t at) {
    return std::uint32_t{file[at]} | (std::uint32_t{file[at + 1]} << 8) |
           (std::uint32_t{file[at + 2]} << 16) | (std::uint32_t{file[at + 3]} << 24);
  };
  EXPECT_EQ(file[76], 280 & 0xFF);
  EXPECT_EQ(file[77], 280 >> 8);
  EXPECT_EQ(file[79], 0) << "mode";
  std::vector<std::uint8_t> control(file.begin() + 80, file.begin() + 336);
  ASSERT_TRUE(DecryptPageData(Algorithm(), control.data(), 256, pw.Password));
  EXPECT_EQ(UpdateCrc32(0, control.data(), 256), u32(336));
  EXPECT_TRUE(std::all_of(control.begin(), control.end(), [](std::uint8_t b) { return b < 255; }));

  const std::size_t page_size = 4096;
  int coded = 0;
  for (std::size_t page = 0, off = 380; off + page_size <= file.size(); ++page, off += page_size) {
    SCOPED_TRACE("page " + std::to_string(page));
    // Pages of a grown extent that were never written hold no header.
    if (page >= 3 && std::memcmp(&file[off], "VEZ", 3) != 0) continue;
    ASSERT_EQ(std::memcmp(&file[off], "VEZ", 3), 0) << "header stays plain";
    const std::uint8_t cipher = file[off + 20];
    const std::uint32_t crc = u32(off + 14);
    if (page < 2) {
      EXPECT_EQ(cipher, 0);
      EXPECT_EQ(crc, 0u);
    }
    // Only the maps and the direct-access internal files stay plain.
    const int type = file[off + 8] | (file[off + 9] << 8);
    if (page < 2 || type == kPageTypeActiveSessionList || type == kPageTypeTableLocks) {
      EXPECT_EQ(cipher, 0);
      continue;
    }
    ASSERT_EQ(cipher, GetParam());
    std::vector<std::uint8_t> data(file.begin() + static_cast<std::ptrdiff_t>(off + 40),
                                   file.begin() + static_cast<std::ptrdiff_t>(off + page_size));
    ASSERT_TRUE(DecryptPageData(Algorithm(), data.data(), 4056, pw.Password));
    EXPECT_EQ(UpdateCrc32(0, data.data(), 4056), crc);
    ++coded;
  }
  EXPECT_GE(coded, 3) << "the directory and the table's pages are coded";
}

INSTANTIATE_TEST_SUITE_P(AllCombinations, DiskEncryptionTest,
                         ::testing::Range(0, kCryptoAlgorithmCount),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(kCryptoAlgorithmNames[info.param]);
                         });

TEST(DiskEncryptionPageTest, DamagedEncryptedPageFailsItsCrc) {
  ScratchDir dir;
  const std::string path = dir.Path("log.vez");
  const TVEZPassword pw{"pw", craRijndael_128};
  Fill(path, pw);
  std::vector<std::uint8_t> bytes = test::ReadAll(path);
  // Flip one data byte in every page after the system directory's first; a
  // damaged page must be reported, never handed out as data.
  const std::size_t page_size = 4096;
  for (std::size_t off = 380 + 3 * page_size + 100; off < bytes.size(); off += page_size)
    bytes[off] ^= 0x01;
  test::WriteAll(path, bytes);
  EXPECT_NE(NativeErrorOf([&] { ReadBack(path, pw); }), 0);
}

TEST(DiskEncryptionPageTest, PlainDatabaseKeepsItsBytes) {
  ScratchDir dir;
  const std::string path = dir.Path("plain.vez");
  Fill(path, TVEZPassword{});
  const auto bytes = test::ReadAll(path);
  EXPECT_EQ(bytes[43], 0);
  // The crypto header of a plain file stays all zeros past its size.
  EXPECT_TRUE(
      std::all_of(bytes.begin() + 78, bytes.begin() + 356, [](std::uint8_t b) { return b == 0; }));
  EXPECT_GT(PlainValuesFound(bytes), 0);
  EXPECT_EQ(ReadBack(path, TVEZPassword{"ignored", craBlowfish}), Expected());
}

// A stored combination this build does not know is refused as such, not
// taken for a wrong password, and the file stays as it was.
TEST(DiskEncryptionPageTest, UnknownStoredCombinationIsRefused) {
  ScratchDir dir;
  const std::string path = dir.Path("log.vez");
  const TVEZPassword pw{"pw", craSquare};
  Fill(path, pw);
  std::vector<std::uint8_t> bytes = test::ReadAll(path);
  bytes[76 + 2] = 9;
  test::WriteAll(path, bytes);
  EXPECT_EQ(OpenError(path, pw), 10478);
  EXPECT_EQ(test::ReadAll(path), bytes);
}

TEST(DiskEncryptionPageTest, UnknownCombinationMakesNoFile) {
  ScratchDir dir;
  const std::string path = dir.Path("x.vez");
  TVEZDiskPageManager pm;
  EXPECT_EQ(NativeErrorOf([&] {
              pm.CreateAndOpenDatabase(
                  path, TVEZPassword{"pw", static_cast<TVEZCryptoAlgorithm>(8)}, 4096, 8);
            }),
            10478);
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace vez
