#include "platform/core/Format.h"

#include <gtest/gtest.h>

#include "platform/core/CheckedMath.h"
#include "platform/core/Exceptions.h"

namespace platform {
namespace {

struct FormatCase {
  const char* format;
  std::vector<FormatArg> args;
  const char* expected;
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
      {"%n", {1234567.891}, "1,234,567.89"},
      {"Limit = %d bytes", {std::int64_t{1} << 40}, "Limit = 1099511627776 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(Format(c.format, std::span<const FormatArg>(c.args)), c.expected);
  }
}

TEST(FormatTest, MismatchedArgumentsRaiseInsteadOfCrashing) {
  const std::vector<std::pair<const char*, std::vector<FormatArg>>> bad = {
      {"%d %d", {1}},      // too few
      {"%d", {"text"}},    // wrong kind
      {"%s", {5}},         // wrong kind
      {"%q", {5}},         // unknown type
      {"trailing %", {}},  // cut placeholder
      {"%5:d", {1}},       // index past the list
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
