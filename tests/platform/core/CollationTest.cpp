#include "platform/core/Collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "platform/core/CodePage.h"

namespace platform {
namespace {

int Sgn(int v) {
  return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

TEST(CollationTest, CaseMappingTable) {
  struct Row {
    char16_t c, upper, lower;
  };
  const Row rows[] = {
      {u'a', u'A', u'a'},       {u'Z', u'Z', u'z'},
      {u'1', u'1', u'1'},       {0x00E9, 0x00C9, 0x00E9},  // e acute
      {0x00DF, 0x00DF, 0x00DF},                            // sharp s: no one-to-one upper case
      {0x00FF, 0x0178, 0x00FF},                            // y diaeresis
      {0x00B5, 0x039C, 0x00B5},                            // micro sign
      {0x0131, 0x0049, 0x0131},                            // dotless i
      {0x0130, 0x0130, 0x0069},                            // capital I with dot
      {0x03C3, 0x03A3, 0x03C3},                            // Greek sigma
      {0x0436, 0x0416, 0x0436},                            // Cyrillic zhe
      {0x1E9E, 0x1E9E, 0x00DF},                            // capital sharp s
      {0x01C5, 0x01C4, 0x01C6},                            // title-case digraph
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.c));
    EXPECT_EQ(WideUpperChar(r.c), r.upper);
    EXPECT_EQ(WideLowerChar(r.c), r.lower);
  }
  EXPECT_EQ(WideUpperCase(u"stra\u00dfe \u00e9t\u00e9"), u"STRA\u00dfE \u00c9T\u00c9");
  EXPECT_EQ(WideLowerCase(u"\u0130STANBUL"), u"istanbul");
}

TEST(CollationTest, AnsiCaseMapping) {
  EXPECT_EQ(AnsiUpperCase("abc \xE9\xFF\xB5\x9A"), "ABC \xC9\x9F\xB5\x8A");
  EXPECT_EQ(AnsiLowerCase("ABC \xC9\x9F\x8A"), "abc \xE9\xFF\x9A");
  EXPECT_EQ(UpperCase("abc \xE9"), "ABC \xE9");  // ASCII only
  EXPECT_EQ(LowerCase("ABC \xC9"), "abc \xC9");
  // Every byte maps like its Unicode character whenever the result is in the code page.
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const char c = static_cast<char>(b);
    char expected;
    if (!TryWideCharToAnsi(WideUpperChar(AnsiCharToWide(c)), expected)) expected = c;
    EXPECT_EQ(AnsiUpperChar(c), expected);
  }
}

TEST(CollationTest, OrderTable) {
  struct Row {
    const char* a;
    const char* b;
    int ci;  // expected sign ignoring case
    int cs;  // expected sign with case
  };
  const Row rows[] = {
      {"abc", "ABD", -1, -1},  {"abc", "ABC", 0, -1},   {"ABC", "abc", 0, 1},
      {"Abc", "abd", -1, -1},  {"abc", "abcd", -1, -1}, {"", "", 0, 0},
      {"", "a", -1, -1},       {"a", "B", -1, -1},      {"b", "A", 1, 1},
      {"\xE9", "\xC9", 0, -1},  // e acute vs E acute
      {"\xFF", "\x9F", 0, -1},  // y diaeresis vs Y diaeresis (0x9F)
      {"aB", "Ab", 0, -1},      // first difference decides: a before A
      {"z", "\xE9", -1, -1},    // by code point after folding
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.a) + " / " + r.b);
    EXPECT_EQ(Sgn(CompareAnsi(r.a, r.b, true)), r.ci);
    EXPECT_EQ(Sgn(CompareAnsi(r.a, r.b, false)), r.cs);
    EXPECT_EQ(Sgn(CompareAnsi(r.b, r.a, true)), -r.ci);
    EXPECT_EQ(Sgn(CompareAnsi(r.b, r.a, false)), -r.cs);
    EXPECT_EQ(Sgn(CompareWide(AnsiToWide(r.a), AnsiToWide(r.b), true)), r.ci);
    EXPECT_EQ(Sgn(CompareWide(AnsiToWide(r.a), AnsiToWide(r.b), false)), r.cs);
  }
  EXPECT_TRUE(AnsiSameText("Hello", "hELLO"));
  EXPECT_TRUE(WideSameText(u"\u03a3\u039c", u"\u03c3\u03bc"));
  EXPECT_EQ(Sgn(CompareWide(u"\U00010000", u"\uFFFF", false)), 1);  // code point order
}

TEST(CollationTest, AsciiCompare) {
  EXPECT_TRUE(SameText("Table_1", "TABLE_1"));
  EXPECT_FALSE(SameText("\xE9", "\xC9"));
  EXPECT_EQ(Sgn(CompareText("a", "B")), -1);
  EXPECT_EQ(Sgn(CompareStr("a", "B")), 1);
  EXPECT_EQ(Sgn(CompareStr("\x80", "a")), 1);  // bytes unsigned
}

std::vector<std::string> RandomAnsiStrings(unsigned seed) {
  std::mt19937 rng(seed);
  const std::string alphabet = "aAbBzZ09 _-\xE9\xC9\xFF\x9F\xDF\x8A\x9A\xB5\x80";
  std::vector<std::string> v;
  for (int i = 0; i < 400; ++i) {
    std::string s;
    const int len = static_cast<int>(rng() % 5);
    for (int k = 0; k < len; ++k)
      s.push_back(alphabet[rng() % alphabet.size()]);
    v.push_back(s);
  }
  return v;
}

// A total order: antisymmetric, consistent with equality, transitive (the
// sorted list is ordered pairwise), and the wide form orders the same.
TEST(CollationTest, TotalOrderAndNarrowWideAgree) {
  const auto v = RandomAnsiStrings(7);
  for (bool ci : {false, true}) {
    SCOPED_TRACE(ci);
    for (std::size_t i = 0; i < v.size(); i += 3) {
      for (std::size_t j = 0; j < v.size(); j += 5) {
        const int ab = Sgn(CompareAnsi(v[i], v[j], ci));
        ASSERT_EQ(ab, -Sgn(CompareAnsi(v[j], v[i], ci)));
        ASSERT_EQ(ab, Sgn(CompareWide(AnsiToWide(v[i]), AnsiToWide(v[j]), ci)));
        if (!ci) {
          ASSERT_EQ(ab == 0, v[i] == v[j]);
        } else {
          ASSERT_EQ(ab == 0,
                    AnsiLowerCase(AnsiUpperCase(v[i])) == AnsiLowerCase(AnsiUpperCase(v[j])));
        }
      }
    }
    auto sorted = v;
    std::sort(sorted.begin(), sorted.end(), [&](const std::string& a, const std::string& b) {
      return CompareAnsi(a, b, ci) < 0;
    });
    for (std::size_t i = 0; i + 1 < sorted.size(); ++i)
      for (std::size_t j = i + 1; j < std::min(sorted.size(), i + 20); ++j)
        ASSERT_LE(CompareAnsi(sorted[i], sorted[j], ci), 0) << sorted[i] << " / " << sorted[j];
  }
}

std::vector<std::string> SortedUnderLocale(const char* name, const std::vector<std::string>& v,
                                           bool ci) {
  setenv("LANG", name, 1);
  setenv("LC_ALL", name, 1);
  std::setlocale(LC_ALL, name);  // may fail when not installed; the order must not care
  auto sorted = v;
  std::stable_sort(sorted.begin(), sorted.end(), [&](const std::string& a, const std::string& b) {
    return CompareAnsi(a, b, ci) < 0;
  });
  std::vector<std::u16string> wide;
  for (const auto& s : v)
    wide.push_back(AnsiToWide(s));
  std::stable_sort(wide.begin(), wide.end(), [&](const std::u16string& a, const std::u16string& b) {
    return CompareWide(a, b, ci) < 0;
  });
  for (std::size_t i = 0; i < wide.size(); ++i)
    sorted.push_back(WideToAnsi(WideUpperCase(wide[i])));
  for (const auto& s : v)
    sorted.push_back(AnsiUpperCase(s) + "|" + AnsiLowerCase(s));
  return sorted;
}

// An index written under one locale must read the same under another.
TEST(CollationTest, SameOrderUnderEveryLocale) {
  const char* old_lang = std::getenv("LANG");
  const std::string saved_lang = old_lang ? old_lang : "";
  const auto v = RandomAnsiStrings(11);
  for (bool ci : {false, true}) {
    const auto c = SortedUnderLocale("C", v, ci);
    for (const char* name : {"C.UTF-8", "tr_TR.UTF-8", "de_DE.ISO-8859-1", "en_GB.UTF-8"}) {
      SCOPED_TRACE(name);
      EXPECT_EQ(SortedUnderLocale(name, v, ci), c);
    }
  }
  std::setlocale(LC_ALL, "C");
  unsetenv("LC_ALL");
  if (old_lang)
    setenv("LANG", saved_lang.c_str(), 1);
  else
    unsetenv("LANG");
}

}  // namespace
}  // namespace platform
