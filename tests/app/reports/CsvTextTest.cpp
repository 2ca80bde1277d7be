// The CSV pieces: quoting, and the fast number and time texts checked
// against the platform's own formatters on random and edge values.
#include "app/reports/CsvText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "platform/core/Exceptions.h"
#include "platform/core/TextConvert.h"
#include "platform/os/File.h"
#include "tests/app/reports/ReportTestSupport.h"

namespace rvx {
namespace {

using platform::TFloatFormat;

std::string Reference(double v) {
  return platform::FloatToStrF(v, TFloatFormat::ffFixed, 8, 2);
}

std::string Fast(double v) {
  std::string s;
  AppendFixed2(s, v);
  return s;
}

TEST(CsvTextTest, FieldsAreQuotedOnlyWhenTheyMustBe) {
  struct Row {
    const char* in;
    const char* field;
    const char* quoted;
  };
  const Row rows[] = {
      {"Vessel: M.V. Ocean", "Vessel: M.V. Ocean", "\"Vessel: M.V. Ocean\""},
      {"", "", "\"\""},
      {"Run 1, port", "\"Run 1, port\"", "\"Run 1, port\""},
      {"Run \"A\"", "\"Run \"\"A\"\"\"", "\"Run \"\"A\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\"", "\"two\r\nlines\""},
      {"line\nfeed", "\"line\nfeed\"", "\"line\nfeed\""},
      {"caf\xE9", "caf\xE9", "\"caf\xE9\""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.in);
    EXPECT_EQ(CsvField(r.in), r.field);
    EXPECT_EQ(QuotedCsvField(r.in), r.quoted);
  }
}

TEST(CsvTextTest, FixedTwoEdgeValuesMatchFloatToStrF) {
  const double values[] = {0,
                           -0.0,
                           0.001,
                           -0.001,
                           -0.004999,
                           -0.005,
                           0.005,
                           0.125,
                           -0.125,
                           0.375,
                           2.675,
                           1.005,
                           0.145,
                           8500,
                           8499.995,
                           99999.994,
                           99999.995,
                           99999.999,
                           -99999.995,
                           100000,
                           123456.789,
                           12345678.9,
                           123456789.0,
                           1e15,
                           -1e15,
                           1.0 / 3,
                           2.0 / 3,
                           85.27,
                           1e-320,
                           std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()};
  for (double v : values) {
    SCOPED_TRACE(testing::Message() << std::hexfloat << v);
    EXPECT_EQ(Fast(v), Reference(v));
  }
  EXPECT_EQ(Fast(0.125), "0.13");   // an exact tie goes away from zero
  EXPECT_EQ(Fast(-0.001), "0.00");  // no sign on a zero text
}

TEST(CsvTextTest, FixedTwoMatchesFloatToStrFOnRandomValues) {
  std::mt19937_64 random(20240201);
  std::uniform_real_distribution<double> wide(-120000, 120000);
  std::uniform_real_distribution<double> small(-2, 2);
  std::uniform_int_distribution<std::int64_t> eighths(-800000, 800000);
  std::uniform_int_distribution<std::int64_t> thousandths(-100000000, 100000000);
  std::uniform_int_distribution<int> exponent(-12, 14);
  for (int i = 0; i < 200000; ++i) {
    double v = 0;
    switch (i % 6) {
      case 0:
        v = wide(random);
        break;
      case 1:
        v = small(random);
        break;
      case 2:
        v = static_cast<double>(eighths(random)) / 8;
        break;  // exact ties
      case 3:
        v = static_cast<double>(thousandths(random)) / 1000;
        break;  // near ties
      case 4:
        v = std::nextafter(static_cast<double>(thousandths(random)) / 1000, 0.0);
        break;
      default:
        v = small(random) * std::pow(10.0, exponent(random));
        break;
    }
    ASSERT_EQ(Fast(v), Reference(v)) << std::hexfloat << v;
  }
}

TEST(CsvTextTest, SampleTimesMatchDateToStrAndTimeToStr) {
  std::mt19937_64 random(11);
  std::uniform_int_distribution<int> day(36526, 47482);  // 2000 .. 2029
  std::uniform_int_distribution<std::int64_t> ms(0, 86399999);
  std::uniform_real_distribution<double> fraction(0, 1);
  TSampleTimeText texts;
  auto check = [&](double t) {
    std::string fast;
    texts.Append(fast, t);
    ASSERT_EQ(fast, platform::DateToStr(t) + "," + platform::TimeToStr(t)) << std::hexfloat << t;
  };
  for (int i = 0; i < 100000; ++i) {
    const double d = day(random);
    switch (i % 4) {
      case 0:
        check(d + fraction(random));
        break;
      case 1:
        check(d + static_cast<double>(ms(random)) / 86400000.0);
        break;
      // Just below midnight: rounds into the next day.
      case 2:
        check(std::nextafter(d + 1.0, 0.0));
        break;
      // A run of samples within one day: the cached date text serves them.
      default:
        for (int k = 0; k < 20; ++k)
          check(d + 0.5 + k / 864000.0);
    }
  }
  check(0);
  check(-1.25);  // before 1899-12-30: the platform's own path
  EXPECT_THROW(check(std::numeric_limits<double>::quiet_NaN()), platform::EConvertError);
}

TEST(CsvTextTest, WriterEndsLinesWithCrLfAndFlushesLargeFiles) {
  test::ScopedDocumentsFolder docs;
  const std::string path = docs.Path() + "/lines.csv";
  std::string expected;
  {
    TCsvFileWriter out(path);
    for (int i = 0; i < 200000; ++i) {
      const std::string line = "line " + std::to_string(i) + ",\xE9";
      out.Line(line);
      expected += line + "\r\n";
    }
    out.Buffer() += "built in place";
    out.EndLine();
    expected += "built in place\r\n";
    out.Close();
  }
  EXPECT_GT(expected.size(), 2u << 20);
  EXPECT_EQ(test::ReadFileBytes(path), expected);
}

TEST(CsvTextTest, WriterReportsFilesItCannotWriteAndKeepsWhatWasWritten) {
  test::ScopedDocumentsFolder docs;
  // A folder where the file should be.
  EXPECT_THROW(TCsvFileWriter(docs.Path()), platform::EOSError);

  // The disk fills after the first megabyte.
  class FullAfterFirstWrite : public platform::FileSystemWrapper {
   public:
    using FileSystemWrapper::FileSystemWrapper;
    std::unique_ptr<platform::File> CreateFile(const std::string& path,
                                               platform::FileShare share) override {
      class File : public platform::FileWrapper {
       public:
        using FileWrapper::FileWrapper;
        void WriteAt(std::int64_t offset, const void* data, std::size_t count) override {
          if (offset > 0) throw platform::EOSError(ENOSPC, "injected");
          FileWrapper::WriteAt(offset, data, count);
        }
      };
      return std::make_unique<File>(Target().CreateFile(path, share));
    }
  } full(platform::PosixFileSystem());
  const std::string path = docs.Path() + "/full.csv";
  {
    platform::ScopedFileSystem scope(full);
    TCsvFileWriter out(path);
    EXPECT_THROW(
        {
          for (int i = 0; i < 300000; ++i)
            out.Line("0123456789");
          out.Close();
        },
        platform::EOSError);
  }
  const std::string written = test::ReadFileBytes(path);
  EXPECT_GE(written.size(), 1u << 20);
  EXPECT_EQ(written.substr(0, 24), "0123456789\r\n0123456789\r\n");
}

}  // namespace
}  // namespace rvx
