#include "platform/core/Format.h"

#include <gtest/gtest.h>

#include "platform/core/CheckedMath.h"
#include "platform/core/Exceptions.h"

namespace platform {
namespace {

struct FormatCase {
  const char* format;
  std::vector<FormatArg> args;
  std::string expected;
};

TEST(FormatTest, Table) {
  const std::vector<FormatCase> cases = {
      {"%.5d", {2011}, "02011"},
      {"%5d", {2011}, " 2011"},
      {"%-5d|", {42}, "42   |"},
      {"%d", {-7}, "-7"},
      {"%.3d", {-7}, "-007"},
      {"%d", {std::int64_t{-9223372036854775807LL - 1}}, "-9223372036854775808"},
      {"%u", {std::uint32_t{4000000000u}}, "4000000000"},
      {"%x", {255}, "FF"},
      {"%.8x", {0xACCEACCEu}, "ACCEACCE"},
      {"%s and %s", {"a", std::string("b")}, "a and b"},
      {"%.2s", {"abcdef"}, "ab"},
      {"%6s", {"ab"}, "    ab"},
      {"100%%", {}, "100%"},
      {"%1:s %0:s", {"x", "y"}, "y x"},
      {"%*d", {4, 7}, "   7"},
      {"%.2f", {3.14159}, "3.14"},
      {"%f", {2.5}, "2.50"},
      {"%g", {0.1}, "0.1"},
      {"%g", {1e20}, "1E+20"},
      {"%g", {1.5e-7}, "1.5E-07"},
      {"%e", {-12.5}, "-1.25000000000000E+001"},
      {"%.3e", {6.02e23}, "6.02E+023"},
      {"%e", {1e-300}, "1.00000000000000E-300"},
      {"%n", {1234567.891}, "1,234,567.89"},
      {"Limit = %d bytes", {std::int64_t{1} << 40}, "Limit = 1099511627776 bytes"},
      // Results wider than a small fixed buffer come out whole.
      {"%f",
       {0x1p+400},
       "2582249878086908589655919172003011874329705792829223512830659356540647622016841194629645353"
       "280137831435903171972747493376.00"},
      {"%.0n", {-1e18}, "-1,000,000,000,000,000,000"},
      {"%.200f", {0.5}, "0.5" + std::string(199, '0')},
      {"%.40e", {1.0}, "1." + std::string(39, '0') + "E+000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(Format(c.format, std::span<const FormatArg>(c.args)), c.expected);
  }
}

TEST(FormatTest, HugeFloatsComeOutWhole) {
  const std::string text = Format("%f", {1e300});
  ASSERT_EQ(text.size(), 301u + 3u);
  EXPECT_EQ(text.substr(0, 17), "10000000000000000");
  EXPECT_EQ(text.substr(301), ".00");
  EXPECT_EQ(Format("%n", {-1e300}).size(), 1u + 301u + 100u + 3u);  // sign and 100 separators
}

TEST(FormatTest, MismatchedArgumentsRaiseInsteadOfCrashing) {
  const std::vector<std::pair<const char*, std::vector<FormatArg>>> bad = {
      {"%d %d", {1}},         // too few
      {"%d", {"text"}},       // wrong kind
      {"%s", {5}},            // wrong kind
      {"%q", {5}},            // unknown type
      {"trailing %", {}},     // cut placeholder
      {"%5:d", {1}},          // index past the list
      {"%*d", {1 << 30, 1}},  // a width no message needs
  };
  for (const auto& [fmt, args] : bad) {
    SCOPED_TRACE(fmt);
    EXPECT_THROW(Format(fmt, std::span<const FormatArg>(args)), EConvertError);
  }
}

TEST(CheckedMathTest, RaisesOnOverflowOnly) {
  EXPECT_EQ(CheckedAdd<std::int32_t>(2147483646, 1), 2147483647);
  EXPECT_THROW(CheckedAdd<std::int32_t>(2147483647, 1), EIntOverflow);
  EXPECT_THROW(CheckedSub<std::int32_t>(-2147483647 - 1, 1), EIntOverflow);
  EXPECT_THROW(CheckedSub<std::uint32_t>(0u, 1u), EIntOverflow);
  EXPECT_EQ(CheckedMul<std::int64_t>(1LL << 31, 1LL << 31), 1LL << 62);
  EXPECT_THROW(CheckedMul<std::int64_t>(1LL << 32, 1LL << 31), EIntOverflow);
  EXPECT_EQ((CheckedCast<std::int32_t, std::int64_t>(-5)), -5);
  EXPECT_THROW((CheckedCast<std::int32_t, std::int64_t>(1LL << 31)), EIntOverflow);
  EXPECT_THROW((CheckedCast<std::uint32_t, std::int32_t>(-1)), EIntOverflow);
}

}  // namespace
}  // namespace platform
