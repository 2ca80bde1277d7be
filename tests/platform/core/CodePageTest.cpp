#include "platform/core/CodePage.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(CodePageTest, EveryByteRoundTrips) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const char c = static_cast<char>(b);
    char back = 0;
    ASSERT_TRUE(TryWideCharToAnsi(AnsiCharToWide(c), back));
    EXPECT_EQ(back, c);
  }
  std::string all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  EXPECT_EQ(WideToAnsi(AnsiToWide(all)), all);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
}

TEST(CodePageTest, CharacterTable) {
  struct Row {
    unsigned char byte;
    char16_t wide;
  };
  const Row rows[] = {
      {0x41, u'A'},   {0x80, 0x20AC}, {0x8A, 0x0160}, {0x9F, 0x0178}, {0x81, 0x0081},
      {0x8D, 0x008D}, {0x8F, 0x008F}, {0x90, 0x0090}, {0x9D, 0x009D}, {0xA3, 0x00A3},
      {0xDF, 0x00DF}, {0xE9, 0x00E9}, {0xFF, 0x00FF}, {0x96, 0x2013}, {0x99, 0x2122},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.byte));
    EXPECT_EQ(AnsiCharToWide(static_cast<char>(r.byte)), r.wide);
    EXPECT_EQ(static_cast<unsigned char>(WideCharToAnsi(r.wide)), r.byte);
  }
}

TEST(CodePageTest, UnmappableBecomesQuestionMark) {
  EXPECT_EQ(WideToAnsi(u"a\u0101b"), "a?b");              // a with macron: no best fit
  EXPECT_EQ(WideToAnsi(u"x\U0001F600y"), "x?y");          // one '?' for a surrogate pair
  EXPECT_EQ(WideToAnsi(std::u16string(1, 0xD800)), "?");  // unpaired surrogate
  char out = 'z';
  EXPECT_FALSE(TryWideCharToAnsi(0x0080, out));  // C1 0x80 is taken by the euro sign
  EXPECT_EQ(out, 'z');
}

TEST(CodePageTest, Utf8) {
  EXPECT_EQ(WideToUtf8(u"\u00e9\u20ac\U0001F600"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToWide("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), u"\u00e9\u20ac\U0001F600");
  // Malformed input: stray continuation, truncated sequence, overlong form,
  // encoded surrogate, and an unpaired surrogate on the way out.
  EXPECT_EQ(Utf8ToWide("a\x80"
                       "b"),
            u"a\uFFFDb");
  EXPECT_EQ(Utf8ToWide("a\xE2\x82"), u"a\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), u"\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), u"\uFFFD");
  EXPECT_EQ(WideToUtf8(std::u16string(1, 0xDC00)), "\xEF\xBF\xBD");
  EXPECT_EQ(AnsiToUtf8("\x80"), "\xE2\x82\xAC");
}

}  // namespace
}  // namespace platform
