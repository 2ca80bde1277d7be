#include "dbengine/sql/VEZDateFormater.h"

#include <gtest/gtest.h>

#include "dbengine/foundation/VEZException.h"
#include "platform/core/Exceptions.h"

namespace vez {
namespace {

using enum TDateFormatType;

TEST(VEZDateFormaterTest, CompilesQuotedLiteralsAndKeywords) {
  const TDateFormater f("'Day' DD \"of\" MONTH YYYY");
  const std::vector<TDateFormatToken> expected = {
      {dfText, "Day"}, {dfText, " "},      {dfDD, "DD"},  {dfText, " "},   {dfText, "of"},
      {dfText, " "},   {dfMONTH, "MONTH"}, {dfText, " "}, {dfYYYY, "YYYY"}};
  ASSERT_EQ(f.Tokens().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(f.Tokens()[i].TokenType, expected[i].TokenType);
    EXPECT_EQ(f.Tokens()[i].Text, expected[i].Text);
  }
  EXPECT_EQ(f.DebugGetTotenList().substr(0, 20), "1 <dfText> = 'Day'\r\n");
}

TEST(VEZDateFormaterTest, CompileTable) {
  struct Case {
    const char* format;
    const char* listing;
  };
  const Case cases[] = {
      {"yyyy-mm-dd",
       "1 <dfYYYY> = 'yyyy'\r\n2 <dfText> = '-'\r\n3 <dfMM> = 'mm'\r\n4 <dfText> = '-'\r\n"
       "5 <dfDD> = 'dd'\r\n"},
      {"HH24HH", "1 <dfHH24> = 'HH24'\r\n2 <dfHH> = 'HH'\r\n"},
      {"MMM", "1 <dfMM> = 'MM'\r\n2 <dfM> = 'M'\r\n"},
      {"T/", "1 <dfText> = 'T/'\r\n"},
      {"''", "1 <dfText> = ''\r\n"},
      {"YY'ab", "1 <dfYY> = 'YY'\r\n2 <dfText> = 'ab'\r\n"},
      {"\"it's\"", "1 <dfText> = 'it's'\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(TDateFormater(c.format).DebugGetTotenList(), c.listing);
  }
}

TEST(VEZDateFormaterTest, ToStringTable) {
  const platform::TDateTime dt = platform::EncodeDateTime(2024, 1, 15, 13, 5, 9, 0);
  struct Case {
    const char* format;
    const char* text;
  };
  const Case cases[] = {
      {"HH12:NN AMPM", "01:05 PM"},
      {"RM", "I"},
      {"Q", "1"},
      {"DY", "15"},
      {"YYYY-MM-DD HH24:NN:SS", "2024-01-15 13:05:09"},
      {"DD-MON-YYYY", "15-Jan-2024"},
      {"DAY DDD MONTH", "Monday Mon January"},
      {"D/M/YY H24 H S N", "15/1/24 13 1 9 5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(TDateFormater(c.format).ToString(dt), c.text);
  }
  EXPECT_EQ(TDateFormater("RM").ToString(platform::EncodeDate(2024, 12, 1)), "XII");
}

TEST(VEZDateFormaterTest, ToDateTable) {
  struct Case {
    const char* format;
    const char* text;
    platform::TDateTime expected;
  };
  const Case cases[] = {
      {"YY-MM-DD", "29-03-04", platform::EncodeDate(2029, 3, 4)},
      {"YY-MM-DD", "30-03-04", platform::EncodeDate(1930, 3, 4)},
      {"HH:NN AMPM", "10:30 PM", platform::EncodeTime(22, 30, 0, 0)},
      // 12 is the first hour of its half: midnight and noon, as 00 AM/PM are.
      {"HH:NN AMPM", "12:30 AM", platform::EncodeTime(0, 30, 0, 0)},
      {"HH:NN AMPM", "12:30 PM", platform::EncodeTime(12, 30, 0, 0)},
      {"HH:NN AMPM", "00:30 PM", platform::EncodeTime(12, 30, 0, 0)},
      {"HH:NN AMPM", "11:59 pm", platform::EncodeTime(23, 59, 0, 0)},
      {"YYYY-'Q'Q-DD", "2024-Q2-01", platform::EncodeDate(2024, 4, 1)},
      {"YYYY-'Q'Q", "2024-Q2", 0.0},
      {"D.M.YYYY", "5.11.2024", platform::EncodeDate(2024, 11, 5)},
      {"YYYY-MM-DD HH24:NN:SS", "2024-01-15 13:05:09",
       platform::EncodeDateTime(2024, 1, 15, 13, 5, 9, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format << " / " << c.text);
    EXPECT_DOUBLE_EQ(TDateFormater(c.format).ToDate(c.text), c.expected);
  }
}

TEST(VEZDateFormaterTest, ToDateErrors) {
  try {
    TDateFormater("HH:NN AMPM").ToDate("10:30 XM");
    FAIL();
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 30129);
    EXPECT_NE(std::string(e.what()).find("'XM'"), std::string::npos);
  }
  EXPECT_THROW(TDateFormater("YYYY").ToDate("20x4"), platform::EConvertError);
  EXPECT_THROW(TDateFormater("YYYY-MM-DD").ToDate("2024-13-01"), platform::EConvertError);
}

TEST(VEZDateFormaterTest, SizesAndTypes) {
  EXPECT_EQ(TDateFormater("DD-MON-YYYY").GetStringMaxSize(), 11);
  EXPECT_EQ(TDateFormater("DAY MONTH RM Q").GetStringMaxSize(), 12 + 1 + 9 + 1 + 4 + 1 + 1);
  EXPECT_EQ(TDateFormater("YYYY-MM-DD").GetDataType(), aftDate);
  EXPECT_EQ(TDateFormater("HH24:NN AMPM").GetDataType(), aftTime);
  EXPECT_EQ(TDateFormater("YYYY HH").GetDataType(), aftDateTime);
  EXPECT_EQ(TDateFormater("'x'").GetDataType(), aftDateTime);
}

}  // namespace
}  // namespace vez
