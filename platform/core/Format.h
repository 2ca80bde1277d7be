// Format: the engine's printf-like message builder, with the platform's rules:
//   "%" [index ":"] ["-"] [width] ["." precision] type
// types d, u (integers; precision = minimum digits, zero-padded), x (upper-case
// hex), s (text; precision = maximum characters), f, e, g, n (floating point),
// and "%%". Width and precision may be "*", taken from the arguments.
// A placeholder without an argument, or with an argument of the wrong kind,
// raises EConvertError; it never reads past the argument list. Independent of
// the process locale.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace platform {

class FormatArg {
 public:
  using Value = std::variant<std::int64_t, std::uint64_t, long double, std::string>;

  template <typename T>
  requires(std::is_integral_v<T>&& std::is_signed_v<T> && !std::is_same_v<T, char>) FormatArg(T v)
      : value_(static_cast<std::int64_t>(v)) {}
  template <typename T>
  requires(std::is_integral_v<T>&& std::is_unsigned_v<T> && !std::is_same_v<T, bool>) FormatArg(T v)
      : value_(static_cast<std::uint64_t>(v)) {}
  FormatArg(bool v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(char c) : value_(std::string(1, c)) {}
  FormatArg(double v) : value_(static_cast<long double>(v)) {}
  FormatArg(long double v) : value_(v) {}
  FormatArg(float v) : value_(static_cast<long double>(v)) {}
  FormatArg(const char* s) : value_(std::string(s ? s : "")) {}
  FormatArg(std::string s) : value_(std::move(s)) {}
  FormatArg(std::string_view s) : value_(std::string(s)) {}

  const Value& value() const { return value_; }

 private:
  Value value_;
};

std::string Format(std::string_view format, std::span<const FormatArg> args);

inline std::string Format(std::string_view format, std::initializer_list<FormatArg> args) {
  return Format(format, std::span<const FormatArg>(args.begin(), args.size()));
}

}  // namespace platform
