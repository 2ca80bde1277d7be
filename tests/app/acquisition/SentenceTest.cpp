// The sentence routines and the framer, without a port.
#include "app/acquisition/Sentence.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/acquisition/SentenceFramer.h"

namespace rvx {
namespace {

struct TokenCase {
  const char* name;
  std::string input;
  std::string field;
  std::optional<std::string> rest;  // nullopt: the text is exhausted
};

TEST(SentenceTest, NextTokenCutsOneFieldAndFailsWhenNothingIsLeft) {
  const std::vector<TokenCase> cases = {
      {"comma", "abc,def", "abc", "def"},
      {"star", "a*b", "a", "b"},
      {"empty_field", ",x", "", "x"},
      {"cr_lf_ends_cleanly", "CS\r\n", "CS", ""},
      {"lf_alone_exhausts", "CS\n", "CS", std::nullopt},
      {"no_delimiter_exhausts", "abc", "abc", std::nullopt},
      {"empty_text_exhausts", "", "", std::nullopt},
      {"one_line_end_after_delimiter_goes", "a,\nb", "a", "b"},
      {"only_one_goes", "a\r\r\n", "a", "\n"},
      {"first_of_the_delimiters", "a*b,c", "a", "b,c"},
  };
  for (const TokenCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string s = c.input;
    if (c.rest) {
      EXPECT_EQ(NextToken(s), c.field);
      EXPECT_EQ(s, *c.rest);
    } else {
      EXPECT_THROW(NextToken(s), ESentenceEnded);
      EXPECT_EQ(s, "");
    }
  }
}

TEST(SentenceTest, IsSentenceWantsTheIdInFieldOneOrAfterRvm) {
  const struct {
    const char* name;
    std::string text;
    bool expected;
  } cases[] = {
      {"sps1", "$SPS1,1,2\r\n", true},
      {"rvm_form", "$RVM,SPS1,1\r\n", true},
      {"rvm_other_id", "$RVM,SPS2,1\r\n", false},
      {"lower_case_id", "$sps1,1,2\r\n", false},
      {"no_dollar", "SPS1,1,2\r\n", false},
      {"other_device", "$GPGGA,123519,4807.038,N*47\r\n", false},
      {"dollar_lf", "$\n", false},
      {"exhausted_before_field_two", "$SPS1\r\n", false},
      {"id_with_more", "$SPS10,1,2\r\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsSentence(c.text, "SPS1"), c.expected);
  }
}

TEST(SentenceTest, ChecksumSumsBytesOfTheFirstLengthMod256) {
  const struct {
    const char* name;
    std::string body;
    const char* expected;
  } cases[] = {
      {"abc", "abc", "26"},
      {"empty", "", "00"},
      {"listed_sentence", "SPS1,1,100.5,0,85.2,900,0,0", "76"},
      {"length_256_sums_nothing", std::string(256, 'A'), "00"},
      {"length_257_sums_one", std::string(257, 'A'), "41"},
      // Bytes of the code page's high half count as they arrived.
      {"byte_0x80", std::string("\x80"), "80"},
      {"byte_0x9f", std::string("\x9f"), "9F"},
      {"wraps_modulo_256", std::string("\xff\x01"), "00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SentenceChecksum(c.body), c.expected);
  }
}

TEST(SentenceTest, IntToHexDigitsFillsToTheMinimum) {
  EXPECT_EQ(IntToHexDigits(0, 2), "00");
  EXPECT_EQ(IntToHexDigits(255, 2), "FF");
  EXPECT_EQ(IntToHexDigits(4096, 2), "1000");
  EXPECT_EQ(IntToHexDigits(10, 1), "A");
  EXPECT_EQ(IntToHexDigits(10, 0), "A");
  EXPECT_EQ(IntToHexDigits(0x1f, 4), "001F");
}

TEST(SentenceTest, NumberFieldsReadWithAPointWhatever) {
  const struct {
    const char* field;
    std::optional<double> expected;
  } cases[] = {
      {"100.5", 100.5}, {"  12", 12},  {"+3", 3},     {"-2.5e2", -250}, {"1E3", 1000},
      {".5", 0.5},      {"5.", 5},     {"0", 0},      {"", {}},         {"12 ", {}},
      {"abc", {}},      {"1.2.3", {}}, {"1e", {}},    {"1 000", {}},    {"12;5", {}},
      {"0x10", {}},     {"-", {}},     {"1e999", {}}, {"\t7", 7},       {"7\t", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("field '") + c.field + "'");
    double value = -1;
    EXPECT_EQ(ReadSentenceNumber(c.field, value), c.expected.has_value());
    if (c.expected) {
      EXPECT_DOUBLE_EQ(value, *c.expected);
    }

    std::string s = std::string(c.field) + ",rest";
    bool ok = true;
    double read = -1;
    NextFloatToken(s, read, ok);
    EXPECT_EQ(ok, c.expected.has_value());
    EXPECT_DOUBLE_EQ(read, c.expected.value_or(0));
    EXPECT_EQ(s, "rest");

    s = std::string(c.field) + ",rest";
    const std::optional<TDataValue> v = NextDataValueToken(s, 40000.5);
    ASSERT_EQ(v.has_value(), c.expected.has_value());
    if (v) {
      EXPECT_DOUBLE_EQ(v->Value(), *c.expected);
      EXPECT_EQ(v->Time(), 40000.5);
      EXPECT_FALSE(v->IsError());
    }
  }
}

TEST(SentenceTest, NextFloatTokenLeavesOkAloneWhenTheFieldReads) {
  std::string s = "1,x,2,end";
  bool ok = true;
  double v = 0;
  NextFloatToken(s, v, ok);
  EXPECT_TRUE(ok);
  NextFloatToken(s, v, ok);
  EXPECT_FALSE(ok);
  NextFloatToken(s, v, ok);
  EXPECT_FALSE(ok) << "a later field that reads does not clear the failure";
  EXPECT_EQ(v, 2);
}

// ---- framer

struct FramerCase {
  const char* name;
  std::vector<std::string> pieces;
  std::vector<std::string> sentences;
};

TEST(SentenceFramerTest, FramesFromDollarToLineFeed) {
  using namespace std::string_literals;
  const std::vector<FramerCase> cases = {
      {"whole", {"$A,1\r\n"}, {"$A,1\r\n"}},
      {"split_across_pieces", {"$AB", "C\r", "\n"}, {"$ABC\r\n"}},
      {"garbage_before_dollar", {"xx\x01$A\n"}, {"$A\n"}},
      {"two_in_one_piece", {"$A\n$B\n"}, {"$A\n", "$B\n"}},
      {"dollar_inside_is_data", {"$A$B\n"}, {"$A$B\n"}},
      {"dollar_lf", {"$\n"}, {"$\n"}},
      {"bytes_between_sentences_skipped", {"$A\nzz", "z$B\n"}, {"$A\n", "$B\n"}},
      {"nul_bytes_kept", {"$A\0B\n"s}, {"$A\0B\n"s}},
      {"unfinished_stays_out", {"$A\n$B"}, {"$A\n"}},
      {"lf_before_any_dollar", {"\n\n$A\n"}, {"$A\n"}},
  };
  for (const FramerCase& c : cases) {
    SCOPED_TRACE(c.name);
    SentenceFramer framer;
    for (const std::string& piece : c.pieces)
      framer.Feed(piece, 0);
    std::vector<std::string> got;
    for (std::string s; framer.Next(s);)
      got.push_back(s);
    EXPECT_EQ(got, c.sentences);
  }
}

TEST(SentenceFramerTest, DropsASentenceThatTakesTheTimeOutOrLonger) {
  SentenceFramer framer;
  std::string s;
  framer.Feed("$AB", 1000);
  framer.Feed("C\n", 1000 + SentenceFramer::kTimeOutMs - 1);
  ASSERT_TRUE(framer.Next(s));
  EXPECT_EQ(s, "$ABC\n");

  // Checked as bytes arrive: the rest of the late sentence is skipped.
  framer.Feed("$AB", 2000000);
  framer.Feed("C\n$D\n", 2000000 + SentenceFramer::kTimeOutMs);
  ASSERT_TRUE(framer.Next(s));
  EXPECT_EQ(s, "$D\n");
  EXPECT_FALSE(framer.Next(s));
  EXPECT_EQ(framer.TimedOut(), 1u);

  // Checked on request, with no bytes coming.
  framer.Feed("$AB", 3000000);
  framer.CheckTimeOut(3000000 + SentenceFramer::kTimeOutMs - 1);
  EXPECT_TRUE(framer.InSentence());
  framer.CheckTimeOut(3000000 + SentenceFramer::kTimeOutMs);
  EXPECT_FALSE(framer.InSentence());
  EXPECT_EQ(framer.TimedOut(), 2u);
  framer.Feed("C\n", 3000000 + 6000);
  EXPECT_FALSE(framer.Next(s));

  // The time-out counts from the "$", not from the last byte.
  framer.Feed("$E", 4000000);
  framer.Feed("F", 4000000 + 5000);
  framer.Feed("\n", 4000000 + SentenceFramer::kTimeOutMs);
  EXPECT_FALSE(framer.Next(s));
  EXPECT_EQ(framer.TimedOut(), 3u);
}

TEST(SentenceFramerTest, DropsAnOverlongSentenceAndGoesOn) {
  SentenceFramer framer;
  std::string s;
  const std::string longest = "$" + std::string(SentenceFramer::kMaxSentenceLength - 2, 'x') + "\n";
  framer.Feed(longest, 0);
  ASSERT_TRUE(framer.Next(s));
  EXPECT_EQ(s.size(), SentenceFramer::kMaxSentenceLength);

  framer.Feed("$" + std::string(SentenceFramer::kMaxSentenceLength - 1, 'y'), 0);
  EXPECT_TRUE(framer.InSentence());
  framer.Feed("\n$Z\n", 0);
  ASSERT_TRUE(framer.Next(s));
  EXPECT_EQ(s, "$Z\n");
  EXPECT_FALSE(framer.Next(s));
  EXPECT_EQ(framer.TooLong(), 1u);
}

TEST(SentenceFramerTest, ResetForgetsEverything) {
  SentenceFramer framer;
  framer.Feed("$A\n$B", 0);
  framer.Reset();
  std::string s;
  EXPECT_FALSE(framer.Next(s));
  EXPECT_FALSE(framer.InSentence());
  framer.Feed("C\n$D\n", 0);
  ASSERT_TRUE(framer.Next(s));
  EXPECT_EQ(s, "$D\n");
}

// Random streams of sentences and noise, cut into random pieces, against a
// splitter over the whole stream.
TEST(SentenceFramerTest, RandomPiecesFrameAsTheWholeStream) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::string stream;
    const int parts = std::uniform_int_distribution<int>(0, 12)(rng);
    for (int p = 0; p < parts; ++p) {
      const int len = std::uniform_int_distribution<int>(0, 20)(rng);
      for (int i = 0; i < len; ++i) {
        // Mostly letters, some "$", LF and CR and any byte.
        const int pick = std::uniform_int_distribution<int>(0, 19)(rng);
        stream.push_back(pick == 0   ? '$'
                         : pick == 1 ? '\n'
                         : pick == 2 ? '\r'
                         : pick == 3 ? static_cast<char>(rng() & 0xff)
                                     : static_cast<char>('a' + pick));
      }
    }
    std::vector<std::string> expected;
    for (std::size_t at = stream.find('$'); at != std::string::npos;) {
      const std::size_t lf = stream.find('\n', at);
      if (lf == std::string::npos) break;
      expected.push_back(stream.substr(at, lf - at + 1));
      at = stream.find('$', lf + 1);
    }
    SentenceFramer framer;
    std::vector<std::string> got;
    std::size_t at = 0;
    while (at < stream.size()) {
      const std::size_t n = std::uniform_int_distribution<std::size_t>(1, 9)(rng);
      framer.Feed(std::string_view(stream).substr(at, n), 0);
      at += n;
      // Taking sentences between pieces does not change them.
      if (rng() % 2)
        for (std::string s; framer.Next(s);)
          got.push_back(s);
    }
    for (std::string s; framer.Next(s);)
      got.push_back(s);
    EXPECT_EQ(got, expected);
  }
}

}  // namespace
}  // namespace rvx
