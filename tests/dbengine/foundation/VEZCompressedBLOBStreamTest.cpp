#include "dbengine/foundation/VEZCompressedBLOBStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZMemoryStream.h"
#include "dbengine/foundation/VEZTemporaryStream.h"

namespace vez {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kPrefix = 7;  // bytes of other data before the BLOB

Bytes Pattern(std::size_t n, std::uint32_t seed) {
  // Compressible but not trivial: runs of a few values.
  std::mt19937 rng(seed);
  Bytes b(n);
  for (std::size_t i = 0; i < n;) {
    const std::uint8_t v = static_cast<std::uint8_t>(rng() % 6);
    for (std::size_t run = 1 + rng() % 9; run > 0 && i < n; --run)
      b[i++] = v;
  }
  return b;
}

TVEZBLOBDescriptor NewDescriptor(TVEZCompressionAlgorithm alg, std::uint8_t mode,
                                 std::int32_t block_size) {
  TVEZBLOBDescriptor d;
  d.BlockSize = block_size;
  d.StartPosition = kPrefix;
  d.CompressionAlgorithm = alg;
  d.CompressionMode = mode;
  d.Reserved = 0xBEEF;
  return d;
}

// An underlying memory stream with kPrefix bytes 0xEE before the BLOB.
std::unique_ptr<TVEZMemoryStream> Underlying() {
  auto s = std::make_unique<TVEZMemoryStream>();
  const Bytes prefix(kPrefix, 0xEE);
  s->WriteBuffer(prefix.data(), kPrefix);
  return s;
}

Bytes ReadAll(TVEZStream& s) {
  Bytes out(static_cast<std::size_t>(s.Size()));
  s.SetPosition(0);
  if (!out.empty()) s.ReadBuffer(out.data(), static_cast<std::int32_t>(out.size()));
  return out;
}

void ExpectNative(const std::function<void()>& f, std::int32_t code) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected native error " << code;
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), code) << e.Message();
  }
}

// The block headers as they lie in the underlying memory stream.
struct ChainEntry {
  std::int64_t pos;
  TVEZCompressedStreamBlockHeader header;
};
std::vector<ChainEntry> Chain(TVEZMemoryStream& s, const TVEZBLOBDescriptor& d) {
  std::vector<ChainEntry> chain;
  std::int64_t pos = d.StartPosition;
  for (std::int64_t i = 0; i < d.NumBlocks; ++i) {
    const auto h = TVEZCompressedStreamBlockHeader::Decode(s.Buffer() + pos);
    chain.push_back({pos, h});
    pos += h.OffsetToNextHeader;
  }
  return chain;
}

struct ModelConfig {
  TVEZCompressionAlgorithm alg;
  std::uint8_t mode;
  std::int32_t block_size;
};

std::string NameOf(const ModelConfig& c) {
  return std::string(CompressionAlgorithmNames[c.alg]) + "_mode" + std::to_string(c.mode) +
         "_block" + std::to_string(c.block_size);
}
void PrintTo(const ModelConfig& c, std::ostream* os) {
  *os << NameOf(c);
}

class ModelTest : public ::testing::TestWithParam<ModelConfig> {};

// Randomized model test: every operation on the BLOB stream is mirrored on a
// byte vector, for each algorithm with tiny blocks, reopening now and then.
TEST_P(ModelTest, AgainstByteVector) {
  const ModelConfig cfg = GetParam();
  const bool raw = cfg.alg == acaNone;
  std::mt19937 rng(1234 + cfg.block_size + cfg.alg);
  auto under = Underlying();
  auto blob = std::make_unique<TVEZCompressedBLOBStream>(
      *under, NewDescriptor(cfg.alg, cfg.mode, cfg.block_size), true, false);
  Bytes model;
  std::int64_t pos = 0;
  // Reads back the last blocks right after a change, then returns to the
  // position: a block kept from before the change must never show through.
  auto check_tail = [&] {
    const std::int64_t size = static_cast<std::int64_t>(model.size());
    const std::int64_t from =
        std::max<std::int64_t>(0, size - static_cast<std::int64_t>(rng() % (3 * cfg.block_size)));
    const auto n = static_cast<std::int32_t>(size - from + rng() % 5);
    Bytes got(static_cast<std::size_t>(n) + 1, 0xCC);
    ASSERT_EQ(blob->Seek(from, soBeginning), from);
    ASSERT_EQ(blob->Read(got.data(), n), static_cast<std::int32_t>(size - from));
    ASSERT_TRUE(std::equal(model.begin() + from, model.end(), got.begin()));
    ASSERT_EQ(blob->Seek(pos, soBeginning), pos);
  };
  for (int step = 0; step < 300; ++step) {
    const int op = static_cast<int>(rng() % 100);
    SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op));
    if (op < 35) {  // write at the current position
      const Bytes data = Pattern(1 + rng() % 70, rng());
      const auto n = static_cast<std::int32_t>(data.size());
      const std::int32_t written = blob->Write(data.data(), n);
      if (!raw && pos < static_cast<std::int64_t>(model.size())) {
        ASSERT_EQ(written, 0);  // appends only
      } else {
        ASSERT_EQ(written, n);
        if (static_cast<std::int64_t>(model.size()) < pos + n)
          model.resize(static_cast<std::size_t>(pos + n), 0);
        std::copy(data.begin(), data.end(), model.begin() + pos);
        pos += n;
      }
      if (rng() % 2) {
        ASSERT_NO_FATAL_FAILURE(check_tail());
      }
    } else if (op < 55) {  // seek, sometimes beyond the end
      const std::int64_t size = static_cast<std::int64_t>(model.size());
      std::int64_t target;
      switch (rng() % 4) {
        case 0:
          target = blob->Seek(static_cast<std::int64_t>(rng() % (size + 1)), soBeginning);
          break;
        case 1:
          target = blob->Seek(-static_cast<std::int64_t>(rng() % 20), soEnd);
          break;
        case 2:
          target = blob->Seek(static_cast<std::int64_t>(rng() % 40) - 20, soCurrent);
          break;
        default:
          target = blob->Seek(static_cast<std::int64_t>(rng() % 30), soEnd);
          break;
      }
      pos = target;
      ASSERT_GE(pos, 0);
      ASSERT_EQ(blob->Position(), pos);
    } else if (op < 80) {  // read a piece
      const std::int32_t n = 1 + static_cast<std::int32_t>(rng() % 90);
      Bytes got(static_cast<std::size_t>(n), 0xCC);
      const std::int32_t r = blob->Read(got.data(), n);
      const std::int64_t expect =
          std::clamp<std::int64_t>(static_cast<std::int64_t>(model.size()) - pos, 0, n);
      ASSERT_EQ(r, expect);
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + r, model.begin() + pos));
      pos += r;
    } else if (op < 92) {  // set size
      const std::int64_t size = static_cast<std::int64_t>(model.size());
      const std::int64_t new_size = static_cast<std::int64_t>(rng() % (size + 60));
      blob->SetSize(new_size);
      // Growing a compressed BLOB appends zeros and leaves the position at
      // the end; a raw window keeps its position.
      if (!raw && new_size > size) pos = new_size;
      model.resize(static_cast<std::size_t>(new_size), 0);
      pos = std::min<std::int64_t>(pos, new_size);
      ASSERT_EQ(blob->Position(), pos);
      if (rng() % 2) {
        ASSERT_NO_FATAL_FAILURE(check_tail());
      }
    } else {  // store the descriptor and reopen
      const TVEZBLOBDescriptor d = blob->BLOBDescriptor();
      EXPECT_EQ(d.UncompressedSize, static_cast<std::int64_t>(model.size()));
      EXPECT_EQ(d.Reserved, 0xBEEF);
      blob.reset();
      blob = std::make_unique<TVEZCompressedBLOBStream>(*under, d, false, false);
      pos = 0;
    }
    ASSERT_EQ(blob->Size(), static_cast<std::int64_t>(model.size()));
    if (!raw) {
      const TVEZBLOBDescriptor& d = blob->BLOBDescriptor();
      ASSERT_EQ(d.NumBlocks,
                (static_cast<std::int64_t>(model.size()) + cfg.block_size - 1) / cfg.block_size);
    }
  }
  const std::int64_t keep = blob->Position();
  EXPECT_EQ(ReadAll(*blob), model);
  blob->Seek(keep, soBeginning);
  // The bytes before the BLOB are never touched.
  for (std::int64_t i = 0; i < kPrefix; ++i)
    ASSERT_EQ(under->Buffer()[i], 0xEE);
}

INSTANTIATE_TEST_SUITE_P(VEZCompressedBLOBStreamTest, ModelTest,
                         ::testing::Values(ModelConfig{acaZLIB, 6, 16}, ModelConfig{acaZLIB, 0, 37},
                                           ModelConfig{acaBZIP, 1, 16}, ModelConfig{acaBZIP, 1, 64},
                                           ModelConfig{acaPPM, 1, 16}, ModelConfig{acaPPM, 5, 64},
                                           ModelConfig{acaNone, 0, 16}),
                         [](const auto& info) { return NameOf(info.param); });

TEST(VEZCompressedBLOBStreamTest, NewBlobTakesTheDefaultBlockSizeOfItsMode) {
  const struct {
    std::uint8_t mode;
    std::int32_t block_size;
  } rows[] = {{0, 102400},  {1, 524288},  {3, 524288}, {4, 1048576},
              {6, 1048576}, {7, 1572864}, {9, 1572864}};
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.mode));
    auto under = Underlying();
    TVEZCompressedBLOBStream blob(*under, NewDescriptor(acaZLIB, row.mode, 0), true, false);
    EXPECT_EQ(blob.BLOBDescriptor().BlockSize, row.block_size);
    EXPECT_EQ(blob.BlockSize(), row.block_size);
  }
}

TEST(VEZCompressedBLOBStreamTest, TwoAndAHalfBlocksInOneWriteMakeThreeBlocks) {
  auto under = Underlying();
  TVEZCompressedBLOBStream blob(*under, NewDescriptor(acaZLIB, 6, 0), true, false);
  const Bytes data = Pattern(1048576 * 5 / 2, 3);
  ASSERT_EQ(blob.Write(data.data(), static_cast<std::int32_t>(data.size())),
            static_cast<std::int32_t>(data.size()));
  const TVEZBLOBDescriptor d = blob.BLOBDescriptor();
  EXPECT_EQ(d.BlockSize, 1048576);
  EXPECT_EQ(d.NumBlocks, 3);
  EXPECT_EQ(d.UncompressedSize, static_cast<std::int64_t>(data.size()));
  const auto chain = Chain(*under, d);
  ASSERT_EQ(chain.size(), 3u);
  EXPECT_EQ(chain[0].header.UncompressedSize, 1048576);
  EXPECT_EQ(chain[1].header.UncompressedSize, 1048576);
  EXPECT_EQ(chain[2].header.UncompressedSize, 524288);
  for (const auto& e : chain)
    EXPECT_EQ(e.header.OffsetToNextHeader, e.header.CompressedSize + 20);
  EXPECT_GT(blob.CompressionRate(), 0);
  TVEZCompressedBLOBStream again(*under, d, false, false);
  EXPECT_EQ(ReadAll(again), data);
}

TEST(VEZCompressedBLOBStreamTest, AppendRewritesThePartialLastBlockInPlace) {
  auto under = Underlying();
  TVEZCompressedBLOBStream blob(*under, NewDescriptor(acaZLIB, 6, 64), true, false);
  const Bytes first = Pattern(150, 1);  // blocks of 64, 64, 22
  blob.WriteBuffer(first.data(), 150);
  const auto before = Chain(*under, blob.BLOBDescriptor());
  const Bytes more = Pattern(100, 2);  // fills block 2 to 64, then 58 more
  blob.WriteBuffer(more.data(), 100);
  const auto after = Chain(*under, blob.BLOBDescriptor());
  ASSERT_EQ(after.size(), 4u);
  EXPECT_EQ(after[0].header, before[0].header);
  EXPECT_EQ(after[1].header, before[1].header);
  EXPECT_EQ(after[2].pos, before[2].pos);
  EXPECT_EQ(after[2].header.UncompressedSize, 64);
  EXPECT_EQ(after[3].header.UncompressedSize, 58);
  EXPECT_EQ(after[3].pos, after[2].pos + after[2].header.OffsetToNextHeader);
  Bytes all = first;
  all.insert(all.end(), more.begin(), more.end());
  EXPECT_EQ(ReadAll(blob), all);
}

TEST(VEZCompressedBLOBStreamTest, WriteInsideWritesNothingAndSeekBeyondFillsZeros) {
  auto under = Underlying();
  TVEZCompressedBLOBStream blob(*under, NewDescriptor(acaBZIP, 1, 32), true, false);
  const Bytes data = Pattern(50, 4);
  blob.WriteBuffer(data.data(), 50);
  blob.Seek(10, soBeginning);
  EXPECT_EQ(blob.Write(data.data(), 5), 0);
  EXPECT_EQ(blob.Size(), 50);
  EXPECT_EQ(blob.Position(), 10);
  EXPECT_EQ(blob.Seek(-100, soCurrent), 0);  // a target below 0 becomes 0
  EXPECT_EQ(blob.Seek(30, soEnd), 80);
  blob.WriteBuffer(data.data(), 5);
  Bytes expected = data;
  expected.resize(80, 0);
  expected.insert(expected.end(), data.begin(), data.begin() + 5);
  EXPECT_EQ(ReadAll(blob), expected);
  Bytes tail(10);
  blob.Seek(200, soBeginning);
  EXPECT_EQ(blob.Read(tail.data(), 10), 0);
}

TEST(VEZCompressedBLOBStreamTest, CutToOneAndAHalfBlocks) {
  auto under = Underlying();
  TVEZCompressedBLOBStream blob(*under, NewDescriptor(acaZLIB, 6, 100), true, false);
  const Bytes data = Pattern(300, 5);
  blob.WriteBuffer(data.data(), 300);
  const auto before = Chain(*under, blob.BLOBDescriptor());
  blob.SetSize(150);
  const TVEZBLOBDescriptor d = blob.BLOBDescriptor();
  EXPECT_EQ(d.NumBlocks, 2);
  EXPECT_EQ(d.UncompressedSize, 150);
  const auto after = Chain(*under, d);
  EXPECT_EQ(after[0].header, before[0].header);
  EXPECT_EQ(after[1].pos, before[1].pos);
  EXPECT_EQ(after[1].header.UncompressedSize, 50);
  // The underlying stream ends right after the new block 1.
  EXPECT_EQ(under->Size(), after[1].pos + 20 + after[1].header.CompressedSize);
  TVEZCompressedBLOBStream again(*under, d, false, false);
  EXPECT_EQ(again.BLOBDescriptor().NumBlocks, 2);
  EXPECT_EQ(ReadAll(again), Bytes(data.begin(), data.begin() + 150));
}

TEST(VEZCompressedBLOBStreamTest, CutToWholeBlocksLeavesTheUnderlyingStream) {
  auto under = Underlying();
  TVEZCompressedBLOBStream blob(*under, NewDescriptor(acaZLIB, 6, 100), true, false);
  const Bytes data = Pattern(300, 6);
  blob.WriteBuffer(data.data(), 300);
  const std::int64_t under_size = under->Size();
  blob.SetSize(200);
  EXPECT_EQ(under->Size(), under_size);
  EXPECT_EQ(blob.BLOBDescriptor().NumBlocks, 2);
  EXPECT_EQ(ReadAll(blob), Bytes(data.begin(), data.begin() + 200));
  // The next append overwrites the dropped block.
  blob.Seek(0, soEnd);
  blob.WriteBuffer(data.data(), 10);
  TVEZCompressedBLOBStream again(*under, blob.BLOBDescriptor(), false, false);
  Bytes expected(data.begin(), data.begin() + 200);
  expected.insert(expected.end(), data.begin(), data.begin() + 10);
  EXPECT_EQ(ReadAll(again), expected);
  blob.SetSize(0);
  EXPECT_EQ(blob.BLOBDescriptor().NumBlocks, 0);
  EXPECT_EQ(blob.CompressionRate(), 0);
}

// A fixture with a 3-block zlib BLOB of block size 100 whose bytes can be
// damaged before reopening.
class DamagedBlobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    under_ = Underlying();
    TVEZCompressedBLOBStream blob(*under_, NewDescriptor(acaZLIB, 6, 100), true, false);
    data_ = Pattern(250, 8);
    blob.WriteBuffer(data_.data(), 250);
    desc_ = blob.BLOBDescriptor();
    chain_ = Chain(*under_, desc_);
  }
  void PutHeader(std::size_t k, const TVEZCompressedStreamBlockHeader& h) {
    h.Encode(under_->Buffer() + chain_[k].pos);
  }
  Bytes ReadAt(TVEZCompressedBLOBStream& blob, std::int64_t pos, std::int32_t n) {
    Bytes out(static_cast<std::size_t>(n));
    blob.Seek(pos, soBeginning);
    out.resize(static_cast<std::size_t>(blob.Read(out.data(), n)));
    return out;
  }
  Bytes Slice(std::int64_t pos, std::int64_t n) {
    return Bytes(data_.begin() + pos, data_.begin() + pos + n);
  }

  std::unique_ptr<TVEZMemoryStream> under_;
  Bytes data_;
  TVEZBLOBDescriptor desc_;
  std::vector<ChainEntry> chain_;
};

TEST_F(DamagedBlobTest, CorruptedCrcFailsOnlyItsBlock) {
  auto h = chain_[1].header;
  h.Crc32 ^= 0x00010000;
  PutHeader(1, h);
  TVEZCompressedBLOBStream blob(*under_, desc_, false, false);
  EXPECT_EQ(ReadAt(blob, 0, 100), Slice(0, 100));
  EXPECT_EQ(ReadAt(blob, 200, 50), Slice(200, 50));
  ExpectNative([&] { ReadAt(blob, 150, 10); }, 10089);
  ExpectNative([&] { ReadAt(blob, 50, 100); }, 10089);  // a read across it
}

TEST_F(DamagedBlobTest, DamagedBlockDataFailsOnlyItsBlock) {
  // Flipped compressed bytes fail to inflate or fail the CRC; the sanitizer
  // build checks that nothing is read or written outside the buffers.
  for (int i = 0; i < chain_[1].header.CompressedSize; ++i) {
    SCOPED_TRACE(i);
    auto* byte = under_->Buffer() + chain_[1].pos + 20 + i;
    *byte ^= 0x5A;
    TVEZCompressedBLOBStream blob(*under_, desc_, false, false);
    try {
      const Bytes got = ReadAt(blob, 100, 100);
      EXPECT_EQ(got, Slice(100, 100));  // a flip the data survived whole
    } catch (const EVEZException& e) {
      EXPECT_TRUE(e.NativeError() == 10087 || e.NativeError() == 10089) << e.Message();
    }
    EXPECT_EQ(ReadAt(blob, 200, 50), Slice(200, 50));
    *byte ^= 0x5A;
  }
}

TEST_F(DamagedBlobTest, MissingLastHeaderFailsOrRepairs) {
  under_->SetSize(chain_[2].pos + 10);
  ExpectNative([&] { TVEZCompressedBLOBStream blob(*under_, desc_, false, false); }, 10082);
  TVEZCompressedBLOBStream blob(*under_, desc_, false, true);
  EXPECT_EQ(blob.BLOBDescriptor().NumBlocks, 2);
  EXPECT_EQ(blob.BLOBDescriptor().UncompressedSize, 200);
  EXPECT_EQ(blob.Size(), 200);
  EXPECT_EQ(ReadAll(blob), Slice(0, 200));
  // The repaired BLOB takes appends again.
  blob.Seek(0, soEnd);
  blob.WriteBuffer(data_.data(), 30);
  TVEZCompressedBLOBStream again(*under_, blob.BLOBDescriptor(), false, false);
  Bytes expected = Slice(0, 200);
  expected.insert(expected.end(), data_.begin(), data_.begin() + 30);
  EXPECT_EQ(ReadAll(again), expected);
}

// The last block's data, and so the place of the next append, must lie
// inside the stream: a cut-off block is refused at open, or cut by repair.
TEST_F(DamagedBlobTest, MissingLastBlockDataIsRefusedOrCut) {
  under_->SetSize(chain_[2].pos + 20 + chain_[2].header.CompressedSize - 1);
  ExpectNative([&] { TVEZCompressedBLOBStream blob(*under_, desc_, false, false); }, 10083);
  TVEZCompressedBLOBStream blob(*under_, desc_, false, true);
  EXPECT_EQ(blob.BLOBDescriptor().NumBlocks, 2);
  EXPECT_EQ(ReadAll(blob), Slice(0, 200));
}

TEST_F(DamagedBlobTest, InconsistentHeadersAreRefusedOrCut) {
  const struct {
    const char* name;
    std::size_t block;
    std::function<void(TVEZCompressedStreamBlockHeader&)> damage;
  } rows[] = {
      {"middle block not full", 1, [](auto& h) { h.UncompressedSize = 99; }},
      {"middle block overfull", 1, [](auto& h) { h.UncompressedSize = 101; }},
      {"last block larger than a block", 2, [](auto& h) { h.UncompressedSize = 101; }},
      {"last block empty", 2, [](auto& h) { h.UncompressedSize = 0; }},
      {"negative compressed size", 1, [](auto& h) { h.CompressedSize = -4; }},
      {"zero compressed size", 0, [](auto& h) { h.CompressedSize = 0; }},
      {"data runs into the next header", 1, [](auto& h) { h.OffsetToNextHeader = 19; }},
      {"backward offset", 0, [](auto& h) { h.OffsetToNextHeader = -100; }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto h = chain_[row.block].header;
    row.damage(h);
    PutHeader(row.block, h);
    ExpectNative([&] { TVEZCompressedBLOBStream blob(*under_, desc_, false, false); }, 10084);
    TVEZCompressedBLOBStream blob(*under_, desc_, false, true);
    EXPECT_EQ(blob.BLOBDescriptor().NumBlocks, static_cast<std::int64_t>(row.block));
    EXPECT_EQ(ReadAll(blob), Slice(0, static_cast<std::int64_t>(row.block) * 100));
    PutHeader(row.block, chain_[row.block].header);
  }
}

TEST_F(DamagedBlobTest, HugeCompressedSizeIsRefusedBeforeAllocating) {
  auto h = chain_[2].header;
  h.CompressedSize = 2'000'000'000;
  h.OffsetToNextHeader = std::int64_t{h.CompressedSize} + 20;
  PutHeader(2, h);
  const std::int64_t allocated = MemoryManager().TotalMemAllocated();
  ExpectNative([&] { TVEZCompressedBLOBStream blob(*under_, desc_, false, false); }, 10083);
  EXPECT_EQ(MemoryManager().TotalMemAllocated(), allocated);
  TVEZCompressedBLOBStream blob(*under_, desc_, false, true);
  EXPECT_EQ(ReadAll(blob), Slice(0, 200));
}

TEST_F(DamagedBlobTest, BadDescriptorsAreRefused) {
  auto d = desc_;
  d.BlockSize = 0;
  ExpectNative([&] { TVEZCompressedBLOBStream blob(*under_, d, false, false); }, 10084);
  d.BlockSize = -100;
  ExpectNative([&] { TVEZCompressedBLOBStream blob(*under_, d, true, false); }, 10084);
  d = desc_;
  d.NumBlocks = -1;
  ExpectNative([&] { TVEZCompressedBLOBStream blob(*under_, d, false, false); }, 10084);
  d = desc_;
  d.StartPosition = -1;
  ExpectNative([&] { TVEZCompressedBLOBStream blob(*under_, d, false, false); }, 10103);
}

// A damaged header or descriptor cannot make the stream take a block larger
// than the BLOB or the engine's largest block: refused at open.
TEST_F(DamagedBlobTest, HugeUncompressedSizeIsRefusedAtOpen) {
  const struct {
    const char* name;
    std::int32_t block_size;
    std::int64_t blob_size;
    std::int32_t last_size;
  } rows[] = {
      {"block size beyond the largest", 1'400'000'000, 1'400'000'000, 1'400'000'000},
      {"block size just beyond the largest", kMaxCompressedBLOBBlockSize + 1, 250, 50},
      {"last block beyond the BLOB's size", kMaxCompressedBLOBBlockSize, 250, 60'000'000},
      {"last block one beyond the BLOB's size", 100, 49, 50},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto d = desc_;
    d.BlockSize = row.block_size;
    d.UncompressedSize = row.blob_size;
    d.NumBlocks = 1;
    auto h = chain_[0].header;
    h.UncompressedSize = row.last_size;
    PutHeader(0, h);
    ExpectNative([&] { TVEZCompressedBLOBStream blob(*under_, d, false, false); }, 10084);
    PutHeader(0, chain_[0].header);
  }
  // The same holds for a new BLOB: no block larger than the engine writes.
  auto d = NewDescriptor(acaZLIB, 6, kMaxCompressedBLOBBlockSize + 1);
  ExpectNative([&] { TVEZCompressedBLOBStream blob(*under_, d, true, false); }, 10084);
  // The largest block size itself is fine.
  TVEZCompressedBLOBStream blob(
      *Underlying(), NewDescriptor(acaZLIB, 6, kMaxCompressedBLOBBlockSize), true, false);
  EXPECT_EQ(blob.BLOBDescriptor().BlockSize, kMaxCompressedBLOBBlockSize);
}

// Positions where the next append would write far past the end of the
// stream are refused at open (repair cuts the chain before them), so an
// append never grows the stream by a gap.
TEST_F(DamagedBlobTest, AppendPositionPastTheStreamIsRefused) {
  const std::int64_t size = under_->Size();
  {
    SCOPED_TRACE("last block's next header far away");
    auto h = chain_[2].header;
    h.OffsetToNextHeader = 400'000'000;
    PutHeader(2, h);
    ExpectNative([&] { TVEZCompressedBLOBStream blob(*under_, desc_, false, false); }, 10083);
    TVEZCompressedBLOBStream blob(*under_, desc_, false, true);
    EXPECT_EQ(blob.BLOBDescriptor().NumBlocks, 2);
    blob.Seek(0, soEnd);
    blob.WriteBuffer(data_.data(), 10);
    EXPECT_LE(under_->Size(), size);
    PutHeader(2, chain_[2].header);
  }
  {
    SCOPED_TRACE("empty BLOB starting far away");
    auto d = desc_;
    d.NumBlocks = 0;
    d.UncompressedSize = 0;
    d.StartPosition = 300'000'000;
    ExpectNative([&] { TVEZCompressedBLOBStream blob(*under_, d, false, false); }, 10080);
    ExpectNative([&] { TVEZCompressedBLOBStream blob(*under_, d, false, true); }, 10080);
    // At the very end it is an ordinary empty BLOB.
    d.StartPosition = size;
    TVEZCompressedBLOBStream blob(*under_, d, false, false);
    blob.WriteBuffer(data_.data(), 10);
    EXPECT_EQ(ReadAll(blob), Slice(0, 10));
  }
  EXPECT_LT(under_->Size(), size + 200);
}

// Randomized damage of the stored form: random bytes of headers and data,
// then open (plain and repair), read everything, append, cut and reopen.
// Every step either works or raises the engine's error; the sanitizer build
// runs it too, and the stream never grows by more than what was appended.
TEST(VEZCompressedBLOBStreamTest, RandomDamageFailsCleanly) {
  std::mt19937 rng(2026);
  const auto rng64 = [](std::mt19937& r) { return (std::uint64_t{r()} << 32) | r(); };
  for (auto alg : {acaZLIB, acaBZIP, acaPPM}) {
    SCOPED_TRACE(CompressionAlgorithmNames[alg]);
    auto pristine = Underlying();
    const Bytes data = Pattern(1000, 21);
    TVEZBLOBDescriptor desc;
    {
      TVEZCompressedBLOBStream blob(*pristine, NewDescriptor(alg, 3, 128), true, false);
      blob.WriteBuffer(data.data(), 1000);
      desc = blob.BLOBDescriptor();
    }
    const auto chain = Chain(*pristine, desc);
    const Bytes stored(pristine->Buffer(), pristine->Buffer() + pristine->Size());
    int opened = 0, refused = 0;
    for (int round = 0; round < 400; ++round) {
      SCOPED_TRACE(round);
      auto under = std::make_unique<TVEZMemoryStream>();
      under->WriteBuffer(stored.data(), static_cast<std::int32_t>(stored.size()));
      std::uint8_t* bytes = under->Buffer();
      const int damages = 1 + static_cast<int>(rng() % 4);
      for (int k = 0; k < damages; ++k) {
        const auto& entry = chain[rng() % chain.size()];
        std::size_t at;
        if (rng() % 2) {
          at = static_cast<std::size_t>(entry.pos) + rng() % 20;  // a header byte
        } else {
          at = static_cast<std::size_t>(entry.pos + 20) +
               rng() % static_cast<std::size_t>(entry.header.CompressedSize);
        }
        bytes[at] = rng() % 3 == 0 ? static_cast<std::uint8_t>(0xFF)
                                   : static_cast<std::uint8_t>(bytes[at] ^ (1 + rng() % 255));
      }
      TVEZBLOBDescriptor d = desc;
      switch (rng() % 8) {
        case 0:
          d.NumBlocks = static_cast<std::int64_t>(rng() % 20) - 2;
          break;
        case 1:
          d.UncompressedSize = rng() % 2 ? static_cast<std::int64_t>(rng() % 2000)
                                         : static_cast<std::int64_t>(rng64(rng));
          break;
        case 2:
          d.StartPosition = static_cast<std::int64_t>(rng() % 3000) - 10;
          break;
        case 3:
          d.BlockSize = static_cast<std::int32_t>(rng());
          break;
        default:
          break;  // the descriptor as stored
      }
      const bool repair = rng() % 2 == 1;
      const std::int64_t size_before = under->Size();
      std::unique_ptr<TVEZCompressedBLOBStream> blob;
      try {
        blob = std::make_unique<TVEZCompressedBLOBStream>(*under, d, false, repair);
        ++opened;
      } catch (const EVEZException&) {
        ++refused;
        continue;
      }
      // Repair does not trust the descriptor's size, only the block size.
      EXPECT_LE(blob->Size(),
                repair ? std::int64_t{20} * 128 : std::max<std::int64_t>(d.UncompressedSize, 0));
      const auto step = [&](const std::function<void()>& f) {
        try {
          f();
        } catch (const EVEZException&) {
        }
      };
      Bytes got(1000);
      step([&] {
        blob->SetPosition(0);
        blob->Read(got.data(), 1000);
      });
      step([&] {
        blob->Seek(0, soEnd);
        blob->Write(data.data(), 300);
      });
      step([&] { blob->SetSize(blob->Size() / 2 + 1); });
      step([&] {
        TVEZCompressedBLOBStream again(*under, blob->BLOBDescriptor(), false, false);
        Bytes all(static_cast<std::size_t>(again.Size()));
        again.Read(all.data(), static_cast<std::int32_t>(all.size()));
      });
      SCOPED_TRACE("descriptor " + std::to_string(d.NumBlocks) + " " +
                   std::to_string(d.UncompressedSize) + " " + std::to_string(d.StartPosition) +
                   " " + std::to_string(d.BlockSize) + " r" + std::to_string(repair) + " size " +
                   std::to_string(blob->Size()));
      // Appends land inside or right after the stored bytes.
      EXPECT_LE(under->Size(), size_before + 300 + 3 * 20 + 400);
    }
    EXPECT_GT(opened, 20);
    EXPECT_GT(refused, 20);
  }
}

TEST(VEZCompressedBLOBStreamTest, WorksOverAFileBackedStream) {
  TVEZTemporaryStream under(false);
  under.SetMemoryLimit(1000);
  const Bytes prefix(kPrefix, 0xEE);
  under.WriteBuffer(prefix.data(), kPrefix);
  const Bytes data = Pattern(5000, 11);
  TVEZBLOBDescriptor d;
  {
    TVEZCompressedBLOBStream blob(under, NewDescriptor(acaZLIB, 6, 256), true, false);
    for (std::int32_t done = 0; done < 5000; done += 300)
      blob.WriteBuffer(data.data() + done, std::min(300, 5000 - done));
    d = blob.BLOBDescriptor();
  }
  EXPECT_FALSE(under.InMemory());
  TVEZCompressedBLOBStream blob(under, d, false, false);
  EXPECT_EQ(ReadAll(blob), data);
  blob.SetSize(384);
  TVEZCompressedBLOBStream again(under, blob.BLOBDescriptor(), false, false);
  EXPECT_EQ(ReadAll(again), Bytes(data.begin(), data.begin() + 384));
}

// A memory stream that counts the reads made of it and can refuse writes.
class TProbeStream : public TVEZMemoryStream {
 public:
  std::int32_t Read(void* buffer, std::int32_t count) override {
    ++reads;
    return TVEZMemoryStream::Read(buffer, count);
  }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    return refuse_writes ? 0 : TVEZMemoryStream::Write(buffer, count);
  }
  int reads = 0;
  bool refuse_writes = false;
};

TEST(VEZCompressedBLOBStreamTest, SmallReadsAndAppendsDecompressEachBlockOnce) {
  TProbeStream under;
  TVEZCompressedBLOBStream blob(under, NewDescriptor(acaZLIB, 6, 64), true, false);
  const Bytes data = Pattern(150, 12);  // blocks of 64, 64, 22
  blob.WriteBuffer(data.data(), 150);
  under.reads = 0;
  Bytes got(150);
  blob.SetPosition(0);
  for (std::int32_t i = 0; i < 150; ++i)
    ASSERT_EQ(blob.Read(got.data() + i, 1), 1);
  EXPECT_EQ(got, data);
  EXPECT_EQ(under.reads, 3);
  // The last block is still at hand: appending byte by byte reads nothing,
  // nor does reading back the block written last (blocks now 64, 64, 64, 58).
  for (std::int32_t i = 0; i < 100; ++i)
    blob.WriteBuffer(data.data() + i, 1);
  EXPECT_EQ(under.reads, 3);
  blob.Seek(-58, soEnd);
  got.resize(58);
  blob.ReadBuffer(got.data(), 58);
  EXPECT_EQ(got, Bytes(data.begin() + 42, data.begin() + 100));
  EXPECT_EQ(under.reads, 3);
  TVEZCompressedBLOBStream again(under, blob.BLOBDescriptor(), false, false);
  Bytes all = data;
  all.insert(all.end(), data.begin(), data.begin() + 100);
  EXPECT_EQ(ReadAll(again), all);
}

TEST(VEZCompressedBLOBStreamTest, CutAndExtendNeverShowsOldBytes) {
  const struct {
    const char* name;
    std::int64_t cut;
  } rows[] = {{"inside a block", 40}, {"at a block end", 64}, {"to nothing", 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto under = Underlying();
    TVEZCompressedBLOBStream blob(*under, NewDescriptor(acaBZIP, 1, 64), true, false);
    const Bytes data(150, 0x77);
    blob.WriteBuffer(data.data(), 150);
    Bytes got(150);
    blob.SetPosition(0);
    blob.ReadBuffer(got.data(), 150);  // every block has been read once
    blob.SetSize(row.cut);
    blob.SetSize(150);
    Bytes expected(150, 0);
    std::fill(expected.begin(), expected.begin() + row.cut, 0x77);
    EXPECT_EQ(ReadAll(blob), expected);
    blob.SetSize(row.cut);
    blob.Seek(0, soEnd);
    blob.WriteBuffer(Bytes(110, 0x11).data(), 110);
    expected.resize(static_cast<std::size_t>(row.cut) + 110);
    std::fill(expected.begin() + row.cut, expected.end(), 0x11);
    EXPECT_EQ(ReadAll(blob), expected);
    TVEZCompressedBLOBStream again(*under, blob.BLOBDescriptor(), false, false);
    EXPECT_EQ(ReadAll(again), expected);
  }
}

TEST(VEZCompressedBLOBStreamTest, RefusedAppendKeepsTheStoredBlocks) {
  const struct {
    const char* name;
    std::int32_t stored;
  } rows[] = {{"refilling the partial last block", 150}, {"starting a new block", 128}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TProbeStream under;
    TVEZCompressedBLOBStream blob(under, NewDescriptor(acaZLIB, 6, 64), true, false);
    const Bytes data = Pattern(static_cast<std::size_t>(row.stored), 13);
    blob.WriteBuffer(data.data(), row.stored);
    const TVEZBLOBDescriptor before = blob.BLOBDescriptor();
    under.refuse_writes = true;
    ExpectNative([&] { blob.Write(data.data(), 10); }, 10100);
    ExpectNative([&] { blob.Write(data.data(), 100); }, 10100);
    under.refuse_writes = false;
    EXPECT_EQ(blob.Size(), row.stored);
    EXPECT_EQ(blob.BLOBDescriptor(), before);
    EXPECT_EQ(ReadAll(blob), data);
    TVEZCompressedBLOBStream fresh(under, before, false, false);
    EXPECT_EQ(ReadAll(fresh), data);
    // It takes the append once the stream does.
    blob.Seek(0, soEnd);
    blob.WriteBuffer(data.data(), 10);
    Bytes all = data;
    all.insert(all.end(), data.begin(), data.begin() + 10);
    TVEZCompressedBLOBStream again(under, blob.BLOBDescriptor(), false, false);
    EXPECT_EQ(ReadAll(again), all);
  }
}

TEST(VEZCompressedBLOBStreamTest, RefusedCutKeepsTheBlocksBeforeIt) {
  TProbeStream under;
  TVEZCompressedBLOBStream blob(under, NewDescriptor(acaZLIB, 6, 100), true, false);
  const Bytes data = Pattern(300, 14);
  blob.WriteBuffer(data.data(), 300);
  under.refuse_writes = true;
  ExpectNative([&] { blob.SetSize(150); }, 10095);
  under.refuse_writes = false;
  // The cut block is gone from the stream; the list still describes the
  // chain as it was, so its reads fail with the stream's own errors.
  EXPECT_EQ(blob.Size(), 300);
  EXPECT_EQ(blob.BLOBDescriptor().NumBlocks, 3);
  Bytes got(100);
  blob.SetPosition(0);
  blob.ReadBuffer(got.data(), 100);
  EXPECT_EQ(got, Bytes(data.begin(), data.begin() + 100));
  ExpectNative([&] { blob.Read(got.data(), 10); }, 10086);
  ExpectNative([&] { blob.SetSize(250); }, 10086);
  blob.SetSize(100);
  EXPECT_EQ(ReadAll(blob), Bytes(data.begin(), data.begin() + 100));
}

TEST(VEZCompressedBLOBStreamTest, UnknownAlgorithmFailsTheWrite) {
  auto under = Underlying();
  TVEZCompressedBLOBStream blob(
      *under, NewDescriptor(static_cast<TVEZCompressionAlgorithm>(7), 4, 64), true, false);
  const Bytes data = Pattern(10, 9);
  ExpectNative([&] { blob.Write(data.data(), 10); }, 10085);
  EXPECT_EQ(blob.Size(), 0);
  EXPECT_EQ(blob.BLOBDescriptor().NumBlocks, 0);
}

TEST(VEZCompressedBLOBStreamTest, PPMBlobReopensAndFailsOnDamagedBlocks) {
  auto under = Underlying();
  const Bytes data = Pattern(5000, 4);
  TVEZBLOBDescriptor desc;
  {
    TVEZCompressedBLOBStream blob(*under, NewDescriptor(acaPPM, 6, 1000), true, false);
    blob.WriteBuffer(data.data(), 5000);
    desc = blob.BLOBDescriptor();
  }
  EXPECT_EQ(desc.NumBlocks, 5);
  EXPECT_EQ(desc.CompressionAlgorithm, acaPPM);
  {
    TVEZCompressedBLOBStream again(*under, desc, false, false);
    EXPECT_EQ(ReadAll(again), data);
  }
  // Damage the body of the first block: its read fails with the stream's
  // decompression error (or its CRC check), the others still read.
  const auto chain = Chain(*under, desc);
  under->Buffer()[chain[0].pos + 20 + chain[0].header.CompressedSize / 2] ^= 0x5A;
  TVEZCompressedBLOBStream damaged(*under, desc, false, false);
  Bytes got(1000);
  try {
    damaged.ReadBuffer(got.data(), 1000);
    ADD_FAILURE() << "damaged block read";
  } catch (const EVEZException&) {
  }
  damaged.SetPosition(1000);
  damaged.ReadBuffer(got.data(), 1000);
  EXPECT_EQ(got, Bytes(data.begin() + 1000, data.begin() + 2000));
}

TEST(VEZCompressedBLOBStreamTest, RawBlobIsAWindowOnTheUnderlyingStream) {
  auto under = Underlying();
  const auto desc = NewDescriptor(acaNone, 0, 0);
  TVEZCompressedBLOBStream blob(*under, desc, true, false);
  const Bytes data = Pattern(40, 10);
  blob.WriteBuffer(data.data(), 40);
  EXPECT_EQ(under->Size(), kPrefix + 40);
  EXPECT_EQ(std::memcmp(under->Buffer() + kPrefix, data.data(), 40), 0);
  EXPECT_EQ(blob.CompressionRate(), 0);
  EXPECT_EQ(blob.Seek(-10, soEnd), 30);
  EXPECT_EQ(under->Position(), kPrefix + 30);
  blob.WriteBuffer(data.data(), 5);  // a raw window overwrites in place
  EXPECT_EQ(std::memcmp(under->Buffer() + kPrefix + 30, data.data(), 5), 0);
  EXPECT_EQ(blob.Seek(-100, soCurrent), 0);  // never before the window
  blob.SetSize(25);
  EXPECT_EQ(under->Size(), kPrefix + 25);
  EXPECT_EQ(blob.BLOBDescriptor().UncompressedSize, 25);
  // Another user of the underlying stream moves it; the window stays put.
  blob.Seek(20, soBeginning);
  under->SetPosition(0);
  EXPECT_EQ(blob.Position(), 20);
  EXPECT_EQ(blob.Seek(-2, soCurrent), 18);
  under->SetPosition(3);
  EXPECT_EQ(blob.Seek(2, soCurrent), 20);
  under->SetPosition(0);
  Bytes got(10);
  EXPECT_EQ(blob.Read(got.data(), 10), 5);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 5, data.begin() + 20));
  for (std::int64_t i = 0; i < kPrefix; ++i)
    EXPECT_EQ(under->Buffer()[i], 0xEE);
}

TEST(VEZCompressedBLOBStreamTest, RawBlobLongerThanItsStream) {
  auto under = Underlying();
  auto desc = NewDescriptor(acaNone, 0, 0);
  desc.UncompressedSize = 100;
  ExpectNative([&] { TVEZCompressedBLOBStream blob(*under, desc, false, false); }, 10081);
  TVEZCompressedBLOBStream blob(*under, desc, false, true);
  Bytes got(10);
  EXPECT_EQ(blob.Read(got.data(), 10), 0);
}

TEST(VEZCompressedBLOBStreamTest, EmptyCompressedBlobReopens) {
  auto under = Underlying();
  TVEZCompressedBLOBStream blob(*under, NewDescriptor(acaBZIP, 9, 0), true, false);
  EXPECT_EQ(blob.CompressionRate(), 0);
  EXPECT_EQ(blob.Size(), 0);
  Bytes got(4);
  EXPECT_EQ(blob.Read(got.data(), 4), 0);
  TVEZCompressedBLOBStream again(*under, blob.BLOBDescriptor(), false, false);
  EXPECT_EQ(again.Size(), 0);
  EXPECT_EQ(again.BLOBDescriptor().BlockSize, 1572864);
}

TEST(VEZCompressedStreamBlockHeadersArrayTest, GrowsAndShrinksByItsRule) {
  TVEZCompressedStreamBlockHeadersArray list;
  EXPECT_EQ(list.AllocBy(), 10);
  list.SetSize(1);
  EXPECT_EQ(list.AllocBy(), 20);
  EXPECT_EQ(list.AllocItemCount(), 20);
  list.SetSize(21);
  EXPECT_EQ(list.AllocItemCount(), 60);  // AllocBy 40
  list.SetSize(200);
  EXPECT_EQ(list.AllocItemCount(), 200);  // AllocBy 80 would not reach it
  list.Items(150).CompressedSize = 5;
  list.SetSize(195);  // 5 below the allocation: kept
  EXPECT_EQ(list.AllocItemCount(), 200);
  list.SetSize(100);  // far below: shrinks to exactly the count
  EXPECT_EQ(list.AllocItemCount(), 100);
  EXPECT_EQ(list.DeAllocBy(), 20);
  list.SetSize(160);
  EXPECT_EQ(list.Items(150).CompressedSize, 0);  // new entries are zero
  list.SetSize(0);
  EXPECT_EQ(list.AllocItemCount(), 0);
  EXPECT_THROW(list.Items(0), platform::EListError);
  EXPECT_THROW(list.SetSize(-1), platform::EListError);
}

TEST(VEZCompressedStreamBlockHeadersArrayTest, FindPosition) {
  TVEZCompressedStreamBlockHeadersArray list;
  EXPECT_EQ(list.FindPosition(50), 0);
  for (std::int64_t p : {10, 40, 90, 200})
    list.AppendItem({}, p);
  const struct {
    std::int64_t pos, index;
  } rows[] = {{0, 0}, {10, 0}, {39, 0}, {40, 1}, {89, 1}, {90, 2}, {199, 2}, {200, 3}, {999, 3}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.pos);
    EXPECT_EQ(list.FindPosition(row.pos), row.index);
  }
  EXPECT_EQ(list.Positions(3), 200);
  EXPECT_THROW(list.Positions(4), platform::EListError);
}

}  // namespace
}  // namespace vez
