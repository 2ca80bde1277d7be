#include "platform/core/Format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "platform/core/Exceptions.h"
#include "platform/core/FloatDigits.h"

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

// "E", the exponent's sign (always), and at least min_digits digits.
std::string ExponentText(int exponent, std::size_t min_digits) {
  std::string digits = UnsignedDigits(static_cast<std::uint64_t>(std::abs(exponent)), 10);
  if (digits.size() < min_digits) digits.insert(0, min_digits - digits.size(), '0');
  return std::string("E") + (exponent < 0 ? '-' : '+') + digits;
}

// d.ddd of a rounded value with `count` mantissa digits (zeros added, or the
// value's own digits when count is 0).
std::string Mantissa(const TDecimalDigits& d, std::size_t count) {
  std::string m = d.digits.empty() ? std::string("0") : d.digits;
  if (m.size() < count) m.append(count - m.size(), '0');
  if (m.size() > 1) m.insert(1, 1, '.');
  return m;
}

// "-" for a negative value that does not round to zero: a text of zeros has
// no sign, as with FloatToStrF ("0.00" for -0.001, "0" for -0).
std::string Sign(const TDecimalDigits& d) {
  return d.negative && !d.digits.empty() ? "-" : "";
}

std::string Fixed(const TDecimalDigits& d, int decimals, bool group) {
  std::string int_part, frac_part;
  FixedDigits(d, decimals, int_part, frac_part);
  std::string s = Sign(d);
  if (group) {
    for (std::size_t i = 0; i < int_part.size(); ++i) {
      if (i > 0 && (int_part.size() - i) % 3 == 0) s.push_back(',');
      s.push_back(int_part[i]);
    }
  } else {
    s += int_part;
  }
  if (!frac_part.empty()) s += "." + frac_part;
  return s;
}

// Every type rounds by the platform's one rule (FloatDigits.h); the layouts
// are those of the platform's Format.
std::string FloatText(long double v, char type, int precision) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  switch (type) {
    case 'e': {
      // "1.23456789000000E+001": precision significant digits, three-digit
      // exponent.
      const int p = precision < 0 ? 15 : (precision == 0 ? 1 : precision);
      const TDecimalDigits d = RoundToSignificant(v, p);
      return Sign(d) + Mantissa(d, static_cast<std::size_t>(p)) +
             ExponentText(d.digits.empty() ? 0 : d.exponent - 1, 3);
    }
    case 'g': {
      // The shorter of fixed and scientific as %g chooses, trailing zeros
      // dropped, exponent of at least two digits.
      const int p = precision < 0 ? 15 : (precision == 0 ? 1 : precision);
      const TDecimalDigits d = RoundToSignificant(v, p);
      const int x = d.digits.empty() ? 0 : d.exponent - 1;
      if (x >= -4 && x < p) {
        std::string int_part, frac_part;
        FixedDigits(d, std::max(0, static_cast<int>(d.digits.size()) - d.exponent), int_part,
                    frac_part);
        std::string s = Sign(d);
        s += int_part;
        if (!frac_part.empty()) s += "." + frac_part;
        return s;
      }
      return Sign(d) + Mantissa(d, 0) + ExponentText(x, 2);
    }
    case 'n':
      return Fixed(RoundToDecimals(v, precision < 0 ? 2 : precision), precision < 0 ? 2 : precision,
                   true);
    default:  // 'f'
      return Fixed(RoundToDecimals(v, precision < 0 ? 2 : precision), precision < 0 ? 2 : precision,
                   false);
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
