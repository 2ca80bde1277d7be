#include "platform/core/Format.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/core/Exceptions.h"

namespace platform {

namespace {

[[noreturn]] void Invalid(std::string_view format) {
  throw EConvertError("Format '" + std::string(format) + "' invalid or incompatible with argument");
}

std::string UnsignedDigits(std::uint64_t v, int base) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v, base);
  std::string s(buf, r.ptr);
  if (base == 16)
    for (char& c : s)
      c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
  return s;
}

// Rewrites to_chars's exponent ("e+05", "e-300") in the platform's style: an
// upper-case E, the sign, and at least min_digits digits.
std::string PlatformExponent(const std::string& s, std::size_t min_digits) {
  const std::size_t epos = s.find('e');
  if (epos == std::string::npos) return s;
  std::string digits = s.substr(epos + 2);
  const std::size_t first = digits.find_first_not_of('0');
  digits.erase(0, first == std::string::npos ? digits.size() - 1 : first);
  if (digits.size() < min_digits) digits.insert(0, min_digits - digits.size(), '0');
  std::string out = s.substr(0, epos);
  out.push_back('E');
  out.push_back(s[epos + 1]);
  out += digits;
  return out;
}

std::string FloatText(long double v, char type, int precision) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  // Room for the widest result: 309 integer digits of a fixed double, the
  // precision's digits, sign, point and exponent. A fixed array cut large
  // values short and left to_chars's failure unread.
  std::string out(static_cast<std::size_t>(340 + (precision > 0 ? precision : 0)), '\0');
  char* buf = out.data();
  const std::size_t cap = out.size();
  std::to_chars_result r{};
  double d = static_cast<double>(v);
  switch (type) {
    case 'e': {
      // Platform style: "1.23456789000000E+001" with a three-digit exponent.
      int p = precision < 0 ? 15 : (precision == 0 ? 1 : precision);
      r = std::to_chars(buf, buf + cap, d, std::chars_format::scientific, p - 1);
      return PlatformExponent(std::string(buf, r.ptr), 3);
    }
    case 'g': {
      int p = precision < 0 ? 15 : (precision == 0 ? 1 : precision);
      r = std::to_chars(buf, buf + cap, d, std::chars_format::general, p);
      return PlatformExponent(std::string(buf, r.ptr), 2);
    }
    case 'n': {
      int p = precision < 0 ? 2 : precision;
      r = std::to_chars(buf, buf + cap, d, std::chars_format::fixed, p);
      std::string s(buf, r.ptr);
      std::size_t start = (s[0] == '-') ? 1 : 0;
      std::size_t dot = s.find('.');
      std::size_t int_end = dot == std::string::npos ? s.size() : dot;
      for (std::ptrdiff_t i = static_cast<std::ptrdiff_t>(int_end) - 3;
           i > static_cast<std::ptrdiff_t>(start); i -= 3)
        s.insert(static_cast<std::size_t>(i), 1, ',');
      return s;
    }
    default: {  // 'f'
      int p = precision < 0 ? 2 : precision;
      r = std::to_chars(buf, buf + cap, d, std::chars_format::fixed, p);
      return std::string(buf, r.ptr);
    }
  }
}

}  // namespace

std::string Format(std::string_view format, std::span<const FormatArg> args) {
  std::string out;
  out.reserve(format.size() + 16);
  std::size_t next_arg = 0;
  std::size_t i = 0;
  const std::size_t n = format.size();

  auto take_arg = [&]() -> const FormatArg& {
    if (next_arg >= args.size()) Invalid(format);
    return args[next_arg++];
  };
  auto take_int = [&]() -> int {
    const auto& a = take_arg();
    if (auto p = std::get_if<std::int64_t>(&a.value())) return static_cast<int>(*p);
    if (auto p = std::get_if<std::uint64_t>(&a.value())) return static_cast<int>(*p);
    Invalid(format);
  };
  auto read_number = [&](int& value) -> bool {
    if (i < n && format[i] == '*') {
      ++i;
      value = take_int();
      // The same bound as a literal: a stray argument must not ask for gigabytes.
      if (value > 100000) Invalid(format);
      return true;
    }
    if (i >= n || format[i] < '0' || format[i] > '9') return false;
    value = 0;
    while (i < n && format[i] >= '0' && format[i] <= '9') {
      value = value * 10 + (format[i] - '0');
      if (value > 100000) Invalid(format);
      ++i;
    }
    return true;
  };

  while (i < n) {
    char c = format[i++];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    if (i >= n) Invalid(format);
    if (format[i] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    // Optional argument index "n:".
    {
      std::size_t j = i;
      std::size_t index = 0;
      while (j < n && format[j] >= '0' && format[j] <= '9' && index < 100000)
        index = index * 10 + static_cast<std::size_t>(format[j++] - '0');
      if (j > i && j < n && format[j] == ':') {
        next_arg = index;
        i = j + 1;
      }
    }
    bool left = false;
    if (i < n && format[i] == '-') {
      left = true;
      ++i;
    }
    int width = 0;
    read_number(width);
    int precision = -1;
    if (i < n && format[i] == '.') {
      ++i;
      precision = 0;
      read_number(precision);
    }
    if (i >= n) Invalid(format);
    char type = static_cast<char>(format[i++] | 0x20);  // types are case-insensitive

    const FormatArg& arg = take_arg();
    const auto& v = arg.value();
    std::string text;
    switch (type) {
      case 'd':
      case 'u':
      case 'x': {
        bool negative = false;
        std::uint64_t magnitude;
        if (auto p = std::get_if<std::int64_t>(&v)) {
          if (type == 'd' && *p < 0) {
            negative = true;
            magnitude = 0 - static_cast<std::uint64_t>(*p);
          } else if (type == 'u' && *p < 0) {
            magnitude = static_cast<std::uint32_t>(*p);  // platform shows 32-bit two's complement
          } else {
            magnitude = static_cast<std::uint64_t>(*p);
          }
        } else if (auto q = std::get_if<std::uint64_t>(&v)) {
          magnitude = *q;
        } else {
          Invalid(format);
        }
        std::string digits = UnsignedDigits(magnitude, type == 'x' ? 16 : 10);
        if (precision > 0 && static_cast<int>(digits.size()) < precision)
          digits.insert(0, static_cast<std::size_t>(precision) - digits.size(), '0');
        text = negative ? "-" + digits : digits;
        break;
      }
      case 's': {
        auto p = std::get_if<std::string>(&v);
        if (!p) Invalid(format);
        text = *p;
        if (precision >= 0 && static_cast<std::size_t>(precision) < text.size())
          text.resize(static_cast<std::size_t>(precision));
        break;
      }
      case 'f':
      case 'e':
      case 'g':
      case 'n':
      case 'm': {
        long double d;
        if (auto p = std::get_if<long double>(&v))
          d = *p;
        else if (auto q = std::get_if<std::int64_t>(&v))
          d = static_cast<long double>(*q);
        else if (auto r = std::get_if<std::uint64_t>(&v))
          d = static_cast<long double>(*r);
        else
          Invalid(format);
        text = FloatText(d, type == 'm' ? 'n' : type, precision);
        break;
      }
      default:
        Invalid(format);
    }
    if (static_cast<int>(text.size()) < width) {
      std::string pad(static_cast<std::size_t>(width) - text.size(), ' ');
      text = left ? text + pad : pad + text;
    }
    out += text;
  }
  return out;
}

}  // namespace platform
