#include "dbengine/foundation/VEZStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZCrc32.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryManager.h"
#include "dbengine/foundation/VEZMemoryStream.h"
#include "platform/core/Exceptions.h"

namespace vez {
namespace {

struct Raised {
  std::int32_t code = 0;
  std::string message;
};

Raised RaisedBy(const std::function<void()>& f) {
  try {
    f();
  } catch (const EVEZException& e) {
    return {e.NativeError(), e.Message()};
  }
  return {};
}

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> v(n);
  for (auto& b : v)
    b = static_cast<std::uint8_t>(rng());
  return v;
}

std::vector<std::uint8_t> Content(TVEZStream& s) {
  const std::int64_t position = s.Position();
  std::vector<std::uint8_t> v(static_cast<std::size_t>(s.Size()));
  s.SetPosition(0);
  if (!v.empty()) {
    EXPECT_EQ(s.Read(v.data(), static_cast<std::int32_t>(v.size())), v.size());
  }
  s.SetPosition(position);
  return v;
}

void Fill(TVEZStream& s, const std::vector<std::uint8_t>& data) {
  s.SetSize(0);
  s.SetPosition(0);
  if (!data.empty()) {
    ASSERT_EQ(s.Write(data.data(), static_cast<std::int32_t>(data.size())), data.size());
  }
}

// A memory stream that reads or writes at most a budget of bytes in total,
// then transfers short: the failures the block copies must report.
class ShortStream : public TVEZMemoryStream {
 public:
  std::int64_t read_budget = INT64_MAX;
  std::int64_t write_budget = INT64_MAX;

  std::int32_t Read(void* buffer, std::int32_t count) override {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, read_budget));
    read_budget -= n;
    return TVEZMemoryStream::Read(buffer, n);
  }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, write_budget));
    write_budget -= n;
    return TVEZMemoryStream::Write(buffer, n);
  }
};

// ---- CRC-32 ----------------------------------------------------------------

std::uint32_t TableCrc(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
  static const auto table = [] {
    std::vector<std::uint32_t> t(256);
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  EXPECT_EQ(table[1], 0x77073096u);
  for (std::size_t i = 0; i < n; ++i)
    crc = table[(p[i] ^ crc) & 0xFF] ^ (crc >> 8);
  return crc;
}

TEST(UpdateCrc32Test, KnownValueAndTableOracle) {
  EXPECT_EQ(UpdateCrc32(0, "abc", 3), 0xCA6598D0u);
  // With the customary inversions the register gives the published check value.
  EXPECT_EQ(UpdateCrc32(0xFFFFFFFFu, "123456789", 9) ^ 0xFFFFFFFFu, 0xCBF43926u);
  const auto data = Bytes(4099, 7);
  for (std::uint32_t start : {0u, 1u, 0xFFFFFFFFu, 0x12345678u}) {
    for (std::size_t n : {1u, 2u, 15u, 16u, 17u, 1000u, 4099u}) {
      SCOPED_TRACE(std::to_string(start) + "/" + std::to_string(n));
      EXPECT_EQ(UpdateCrc32(start, data.data(), static_cast<std::uint32_t>(n)),
                TableCrc(start, data.data(), n));
    }
  }
  // Feeding in pieces equals feeding at once.
  EXPECT_EQ(UpdateCrc32(UpdateCrc32(0, data.data(), 1000), data.data() + 1000, 3099),
            UpdateCrc32(0, data.data(), 4099));
}

TEST(UpdateCrc32Test, EmptyBufferLeavesTheRegister) {
  EXPECT_EQ(UpdateCrc32(0, nullptr, 0), 0u);
  EXPECT_EQ(UpdateCrc32(0xCA6598D0u, "x", 0), 0xCA6598D0u);
}

// ---- Memory stream ---------------------------------------------------------

TEST(VEZMemoryStreamTest, RandomizedModelAgainstByteVector) {
  std::mt19937 rng(20261210);
  TVEZMemoryStream stream;
  std::vector<std::uint8_t> model;
  std::int64_t position = 0;
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int step = 0; step < 4000; ++step) {
    SCOPED_TRACE(step);
    switch (pick(6)) {
      case 0:
      case 1: {  // write
        const auto data =
            Bytes(static_cast<std::size_t>(pick(300)), static_cast<std::uint32_t>(step));
        const auto n = static_cast<std::int32_t>(data.size());
        ASSERT_EQ(stream.Write(data.data(), n), n);
        if (n > 0) {
          if (position + n > static_cast<std::int64_t>(model.size())) model.resize(position + n, 0);
          std::copy(data.begin(), data.end(), model.begin() + position);
          position += n;
        }
        break;
      }
      case 2: {  // read
        const std::int32_t n = pick(300);
        std::vector<std::uint8_t> got(n + 1);
        const std::int32_t expected =
            position >= static_cast<std::int64_t>(model.size())
                ? 0
                : static_cast<std::int32_t>(std::min<std::int64_t>(n, model.size() - position));
        ASSERT_EQ(stream.Read(got.data(), n), expected);
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + expected, model.begin() + position));
        position += expected;
        break;
      }
      case 3: {  // seek, sometimes beyond the end or before the start
        const auto origin = static_cast<TSeekOrigin>(pick(3));
        const std::int64_t offset = pick(400) - 200;
        const std::int64_t base = origin == soBeginning ? 0
                                  : origin == soCurrent ? position
                                                        : static_cast<std::int64_t>(model.size());
        const std::int64_t target = base + offset;
        if (target < 0) {
          ASSERT_EQ(stream.Seek(offset, origin), -1);
        } else {
          ASSERT_EQ(stream.Seek(offset, origin), target);
          position = target;
        }
        break;
      }
      case 4: {  // size change
        const std::int64_t size = pick(20) == 0 ? 0 : pick(1500);
        stream.SetSize(size);
        model.resize(static_cast<std::size_t>(size), 0);
        position = std::min<std::int64_t>(position, size);
        break;
      }
      default:
        break;
    }
    ASSERT_EQ(stream.Position(), position);
    ASSERT_EQ(stream.Size(), static_cast<std::int64_t>(model.size()));
    ASSERT_GE(stream.AllocatedBufferSize(), stream.Size());
  }
  EXPECT_EQ(Content(stream), model);
}

TEST(VEZMemoryStreamTest, AllocationDoublesAndIsKeptUntilEmptied) {
  TVEZMemoryStream stream;
  EXPECT_EQ(stream.Buffer(), nullptr);
  const char ten[10] = {};
  std::vector<std::int32_t> allocations;
  for (int i = 0; i < 6; ++i) {
    stream.Write(ten, 10);
    allocations.push_back(stream.AllocatedBufferSize());
  }
  EXPECT_EQ(allocations, (std::vector<std::int32_t>{10, 40, 40, 40, 100, 100}));
  stream.SetSize(15);  // smaller keeps the allocation, moves the position back
  EXPECT_EQ(stream.AllocatedBufferSize(), 100);
  EXPECT_EQ(stream.Position(), 15);
  stream.SetSize(0);  // empty frees
  EXPECT_EQ(stream.Buffer(), nullptr);
  EXPECT_EQ(stream.AllocatedBufferSize(), 0);
  EXPECT_EQ(stream.Position(), 0);
}

TEST(VEZMemoryStreamTest, SkippedAndRegrownBytesReadAsZeros) {
  TVEZMemoryStream stream(nullptr, 64);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.AllocatedBufferSize(), 64);
  std::memset(stream.Buffer(), 0xEE, 64);  // stale memory in the allocation
  stream.Seek(20, soBeginning);
  EXPECT_EQ(stream.Read(nullptr, 5), 0);  // beyond the end reads nothing
  stream.Write("ab", 2);
  EXPECT_EQ(stream.Size(), 22);
  auto content = Content(stream);
  EXPECT_EQ(std::vector<std::uint8_t>(content.begin(), content.begin() + 20),
            std::vector<std::uint8_t>(20, 0));
  stream.SetSize(5);
  stream.SetSize(30);  // bytes from 5 on held "ab" before: zeros now
  content = Content(stream);
  EXPECT_EQ(content, std::vector<std::uint8_t>(30, 0));
}

TEST(VEZMemoryStreamTest, AdoptsAManagerBlock) {
  auto* block = static_cast<std::uint8_t*>(MemoryManager().GetMem(5));
  std::memcpy(block, "hello", 5);
  const auto before = MemoryManager().TotalMemAllocated();
  {
    TVEZMemoryStream stream(block);
    EXPECT_EQ(stream.Size(), 5);
    EXPECT_EQ(stream.AllocatedBufferSize(), 5);
    EXPECT_EQ(stream.Position(), 0);
    char got[5];
    EXPECT_EQ(stream.Read(got, 5), 5);
    EXPECT_EQ(std::string(got, 5), "hello");
  }
  EXPECT_EQ(MemoryManager().TotalMemAllocated(), before - 5);  // the stream freed it
}

TEST(VEZMemoryStreamTest, RefusesWhatDoesNotFitAndKeepsTheContent) {
  TVEZMemoryStream stream;
  stream.Write("data", 4);
  EXPECT_THROW(stream.SetSize(std::int64_t{1} << 31), platform::EIntOverflow);
  EXPECT_THROW(stream.SetSize(-1), platform::EWriteError);
  EXPECT_THROW(stream.Seek(std::int64_t{1} << 31, soBeginning), platform::EIntOverflow);
  EXPECT_EQ(stream.Seek(-5, soCurrent), -1);
  EXPECT_EQ(stream.Seek(0, static_cast<TSeekOrigin>(7)), -1);
  EXPECT_EQ(stream.Position(), 4);
  stream.Seek(INT32_MAX - 2, soBeginning);
  EXPECT_THROW(stream.Write("data", 4), platform::EIntOverflow);
  EXPECT_EQ(stream.Write("data", 0), 0);
  EXPECT_EQ(stream.Write("data", -3), 0);
  EXPECT_EQ(stream.Read(nullptr, -3), 0);
  EXPECT_EQ(Content(stream), (std::vector<std::uint8_t>{'d', 'a', 't', 'a'}));
}

// ---- Block copies ----------------------------------------------------------

TEST(VEZStreamCopyTest, SaveToStreamCopiesInBlocksAndRestoresPositions) {
  TVEZMemoryStream source, target;
  const auto data = Bytes(25, 3);
  Fill(source, data);
  source.SetPosition(7);
  target.Write("XYZ", 3);
  target.SetPosition(1);
  source.SetBlockSize(10);
  std::vector<double> progress;
  source.SetOnProgress([&](TVEZStream& sender, double p) {
    EXPECT_EQ(&sender, &source);
    progress.push_back(p);
  });
  source.SaveToStream(target);
  EXPECT_EQ(progress, (std::vector<double>{0, 40, 80, 100, 100}));
  EXPECT_EQ(source.Position(), 7);
  EXPECT_EQ(target.Position(), 1);
  auto expected = std::vector<std::uint8_t>{'X'};
  expected.insert(expected.end(), data.begin(), data.end());
  EXPECT_EQ(Content(target), expected);
}

TEST(VEZStreamCopyTest, EmptyCopiesReportZeroAndHundred) {
  TVEZMemoryStream source, target;
  target.Write("abc", 3);
  target.SetPosition(2);
  std::vector<double> progress;
  source.SetOnProgress([&](TVEZStream&, double p) { progress.push_back(p); });
  source.SaveToStream(target);
  EXPECT_EQ(progress, (std::vector<double>{0, 100}));
  EXPECT_EQ(target.Position(), 2);
  EXPECT_EQ(target.Size(), 3);

  progress.clear();
  target.SetOnProgress([&](TVEZStream&, double p) { progress.push_back(p); });
  source.Write("12345", 5);
  target.LoadFromStreamWithPosition(source, 2, 0);
  EXPECT_EQ(progress, (std::vector<double>{0, 100}));
  EXPECT_EQ(target.Size(), 0);
  EXPECT_EQ(target.Position(), 2);  // kept, beyond the new end
}

TEST(VEZStreamCopyTest, LoadFromStreamWithPositionTakesARange) {
  TVEZMemoryStream source, target;
  const auto data = Bytes(40, 4);
  Fill(source, data);
  source.SetPosition(33);
  target.Write("old content", 11);
  target.SetPosition(4);
  target.SetBlockSize(7);
  std::vector<double> progress;
  target.SetOnProgress([&](TVEZStream&, double p) { progress.push_back(p); });
  target.LoadFromStreamWithPosition(source, 10, 20);
  EXPECT_EQ(Content(target), std::vector<std::uint8_t>(data.begin() + 10, data.begin() + 30));
  EXPECT_EQ(target.Position(), 4);
  EXPECT_EQ(source.Position(), 33);
  // Shares of the whole source: 17/40, 24/40, 30/40.
  EXPECT_EQ(progress, (std::vector<double>{0, 42.5, 60, 75, 100}));

  TVEZMemoryStream whole;
  whole.LoadFromStream(source);
  EXPECT_EQ(Content(whole), data);
}

TEST(VEZStreamCopyTest, ErrorsCarryTheirNumbersAndChangeNothingWhenRefused) {
  const auto data = Bytes(30, 5);
  struct Row {
    const char* name;
    std::function<Raised()> run;
    std::int32_t code;
    const char* message;  // empty: not compared
  };
  const std::vector<Row> rows = {
      {"save, block size 0",
       [&] {
         TVEZMemoryStream s, t;
         Fill(s, data);
         s.SetBlockSize(0);
         auto r = RaisedBy([&] { s.SaveToStream(t); });
         EXPECT_EQ(t.Size(), 0);
         return r;
       },
       10418, "Stream block size = 0 is not allowed - Native error: 10418"},
      {"save, negative block size",
       [&] {
         TVEZMemoryStream s, t;
         s.SetBlockSize(-1);
         return RaisedBy([&] { s.SaveToStream(t); });
       },
       10418, ""},
      {"load, block size 0",
       [&] {
         TVEZMemoryStream s, t;
         Fill(s, data);
         t.Write("keep", 4);
         t.SetBlockSize(0);
         auto r = RaisedBy([&] { t.LoadFromStream(s); });
         EXPECT_EQ(t.Size(), 4);
         return r;
       },
       10419, "Stream block size = 0 is not allowed - Native error: 10419"},
      {"save, short read",
       [&] {
         ShortStream s;
         TVEZMemoryStream t;
         Fill(s, data);
         s.SetBlockSize(8);
         s.read_budget = 12;
         return RaisedBy([&] { s.SaveToStream(t); });
       },
       10146,
       "Cannot read from stream. Position = 8, Stream size = 30, Block size = 8, Bytes Read = 4 - "
       "Native error: 10146"},
      {"save, short write",
       [&] {
         TVEZMemoryStream s;
         ShortStream t;
         Fill(s, data);
         s.SetBlockSize(8);
         t.write_budget = 5;
         return RaisedBy([&] { s.SaveToStream(t); });
       },
       10147,
       "Cannot write to stream. Position = 0, Stream size = 5, Block size = 8, Bytes Write = 5 - "
       "Native error: 10147"},
      {"load, short read",
       [&] {
         ShortStream s;
         TVEZMemoryStream t;
         Fill(s, data);
         t.SetBlockSize(8);
         s.read_budget = 3;
         return RaisedBy([&] { t.LoadFromStreamWithPosition(s, 2, 20); });
       },
       10148,
       "Cannot read from stream. Position = 2, Stream size = 30, Block size = 8, Bytes Read = 3 - "
       "Native error: 10148"},
      {"load, range beyond the source",
       [&] {
         TVEZMemoryStream s, t;
         Fill(s, data);
         t.Write("keep", 4);
         auto r = RaisedBy([&] { t.LoadFromStreamWithPosition(s, 25, 6); });
         EXPECT_EQ(Content(t), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
         return r;
       },
       10148,
       "Cannot read from stream. Position = 25, Stream size = 30, Block size = 6, Bytes Read = 0 - "
       "Native error: 10148"},
      {"load, negative position",
       [&] {
         TVEZMemoryStream s, t;
         Fill(s, data);
         t.Write("keep", 4);
         auto r = RaisedBy([&] { t.LoadFromStreamWithPosition(s, -1, 2); });
         EXPECT_EQ(t.Size(), 4);
         return r;
       },
       10148, ""},
      {"load, short write",
       [&] {
         TVEZMemoryStream s;
         ShortStream t;
         Fill(s, data);
         t.SetBlockSize(8);
         t.write_budget = 10;
         return RaisedBy([&] { t.LoadFromStream(s); });
       },
       10149,
       "Cannot write to stream. Position = 8, Stream size = 10, Block size = 8, Bytes Write = 2 - "
       "Native error: 10149"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Raised r = row.run();
    EXPECT_EQ(r.code, row.code);
    if (*row.message) {
      EXPECT_EQ(r.message, row.message);
    }
  }
}

// ---- Checked helpers -------------------------------------------------------

TEST(CheckedStreamTest, RaiseTheCallersNumberWithPositions) {
  TVEZMemoryStream s;
  s.Write("12345", 5);
  s.SetPosition(2);
  char buffer[10];
  EXPECT_EQ(RaisedBy([&] { CheckedStreamRead(buffer, 3, s, 777); }).code, 0);
  EXPECT_EQ(s.Position(), 5);
  s.SetPosition(2);
  Raised r = RaisedBy([&] { CheckedStreamRead(buffer, 10, s, 10200); });
  EXPECT_EQ(r.code, 10200);
  EXPECT_EQ(r.message,
            "Cannot read from stream. Position = 2, Stream size = 5, Block size = 10, "
            "Bytes Read = 3 - Native error: 10200");

  ShortStream w;
  w.write_budget = 4;
  EXPECT_EQ(RaisedBy([&] { CheckedStreamWrite("abc", 3, w, 1); }).code, 0);
  r = RaisedBy([&] { CheckedStreamWrite("abc", 3, w, 2003); });
  EXPECT_EQ(r.code, 2003);
  EXPECT_EQ(r.message,
            "Cannot write to stream. Position = 3, Stream size = 4, Block size = 3, "
            "Bytes Write = 1 - Native error:  2003");

  s.SetPosition(3);
  EXPECT_EQ(RaisedBy([&] { CheckedStreamSeek(s, 5, 9); }).code, 0);  // beyond the end is fine
  EXPECT_EQ(s.Position(), 9);
  s.SetPosition(3);
  r = RaisedBy([&] { CheckedStreamSeek(s, 30400, -1); });
  EXPECT_EQ(r.code, 30400);
  EXPECT_EQ(r.message,
            "Cannot set stream position to -1. Position = 3, Size = 5 - Native error: 30400");
  EXPECT_EQ(s.Position(), 3);
  // Past the memory stream's 32-bit positions: the caller's number too.
  r = RaisedBy([&] { CheckedStreamSeek(s, 30401, std::int64_t{1} << 32); });
  EXPECT_EQ(r.code, 30401);
  EXPECT_EQ(r.message,
            "Cannot set stream position to 4294967296. Position = 3, Size = 5 - Native error: "
            "30401");
  EXPECT_EQ(s.Position(), 3);
}

TEST(VEZStreamTest, ReadAndWriteBufferRaiseOnShortTransfers) {
  ShortStream s;
  s.write_budget = 2;
  EXPECT_THROW(s.WriteBuffer("abc", 3), platform::EWriteError);
  s.SetPosition(0);
  char b[3];
  EXPECT_THROW(s.ReadBuffer(b, 3), platform::EReadError);
  EXPECT_NO_THROW(s.ReadBuffer(b, 0));
}

TEST(VEZStreamTest, DefaultsAndLock) {
  TVEZMemoryStream s;
  EXPECT_EQ(s.BlockSize(), 102400);
  EXPECT_FALSE(s.Modified());
  s.Lock();
  s.Lock();  // re-entrant
  s.Unlock();
  s.Unlock();
}

}  // namespace
}  // namespace vez
