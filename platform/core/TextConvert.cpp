#include "platform/core/TextConvert.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/core/Clock.h"
#include "platform/core/Exceptions.h"
#include "platform/core/FloatDigits.h"

namespace platform {

namespace {

// ---------------------------------------------------------------------------
// Integers

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the integer text into magnitude and sign. Hex text gives the raw
// bits (bits_limit: the largest raw value the target accepts).
bool ScanInteger(std::string_view text, bool& negative, bool& hex, std::uint64_t& magnitude,
                 std::uint64_t bits_limit) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  hex = false;
  if (i < text.size() && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= text.size()) return false;
  std::uint64_t v = 0;
  for (; i < text.size(); ++i) {
    const int d = hex ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (d < 0) return false;
    const unsigned base = hex ? 16 : 10;
    if (v > (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(d)) / base)
      return false;
    v = v * base + static_cast<unsigned>(d);
    if (hex && v > bits_limit) return false;
  }
  magnitude = v;
  return true;
}

template <typename T>
bool TryStrToSigned(std::string_view text, T& value) {
  using U = std::make_unsigned_t<T>;
  bool negative, hex;
  std::uint64_t mag;
  if (!ScanInteger(text, negative, hex, mag, std::numeric_limits<U>::max())) return false;
  if (hex) {
    // Hex gives the two's complement bits of the target width.
    U bits = static_cast<U>(mag);
    if (negative) bits = static_cast<U>(U{0} - bits);
    value = static_cast<T>(bits);
    return true;
  }
  const auto max = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
  if (negative) {
    if (mag > max + 1) return false;
    value = mag == max + 1 ? std::numeric_limits<T>::min() : static_cast<T>(-static_cast<T>(mag));
  } else {
    if (mag > max) return false;
    value = static_cast<T>(mag);
  }
  return true;
}

[[noreturn]] void RaiseConvert(const char* fmt, std::string_view text) {
  std::string msg;
  for (const char* p = fmt; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      msg.append(text);
      ++p;
    } else {
      msg.push_back(*p);
    }
  }
  throw EConvertError(msg);
}

// ---------------------------------------------------------------------------
// Float digits

using Decimal = TDecimalDigits;

constexpr int kMaxPrecision = 18;

Decimal ToDecimal(long double value, int precision) {
  return RoundToSignificant(value, precision);
}

std::string ExponentText(int exponent, bool always_sign, int min_digits) {
  std::string s;
  if (exponent < 0)
    s.push_back('-');
  else if (always_sign)
    s.push_back('+');
  std::string digits = IntToStr(std::abs(exponent));
  if (static_cast<int>(digits.size()) < min_digits)
    s.append(static_cast<std::size_t>(min_digits) - digits.size(), '0');
  return s + digits;
}

// d.ddd with `count` digits (padded with zeros), 'E', exponent.
std::string Scientific(const Decimal& d, int count, bool keep_zeros, bool always_sign,
                       int exp_digits, char decimal_separator) {
  std::string mant = d.digits.empty() ? std::string("0") : d.digits;
  if (keep_zeros && static_cast<int>(mant.size()) < count)
    mant.append(static_cast<std::size_t>(count) - mant.size(), '0');
  std::string s;
  s.push_back(mant[0]);
  if (mant.size() > 1) {
    s.push_back(decimal_separator);
    s.append(mant, 1);
  }
  s.push_back('E');
  s += ExponentText(d.digits.empty() ? 0 : d.exponent - 1, always_sign, exp_digits);
  return s;
}

std::string GroupThousands(const std::string& int_part, char separator) {
  if (separator == '\0') return int_part;
  std::string s;
  const std::size_t n = int_part.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) s.push_back(separator);
    s.push_back(int_part[i]);
  }
  return s;
}

// Fixed text of a rounded decimal with `digits` decimals; sets is_zero when
// every printed digit is 0.
std::string FixedText(const Decimal& d, int digits, char thousand_separator, char decimal_separator,
                      bool& is_zero) {
  std::string int_part, frac_part;
  FixedDigits(d, digits, int_part, frac_part);
  is_zero = d.digits.empty();
  std::string s = GroupThousands(int_part, thousand_separator);
  if (!frac_part.empty()) {
    s.push_back(decimal_separator);
    s += frac_part;
  }
  return s;
}

std::string CurrencyText(const std::string& amount, bool negative, const TFormatSettings& fs) {
  const std::string& c = fs.CurrencyString;
  if (!negative) {
    switch (fs.CurrencyFormat) {
      case 1:
        return amount + c;
      case 2:
        return c + " " + amount;
      case 3:
        return amount + " " + c;
      default:
        return c + amount;
    }
  }
  switch (fs.NegCurrFormat) {
    case 0:
      return "(" + c + amount + ")";
    case 2:
      return c + "-" + amount;
    case 3:
      return c + amount + "-";
    case 4:
      return "(" + amount + c + ")";
    case 5:
      return "-" + amount + c;
    case 6:
      return amount + "-" + c;
    case 7:
      return amount + c + "-";
    case 8:
      return "-" + amount + " " + c;
    case 9:
      return "-" + c + " " + amount;
    case 10:
      return amount + " " + c + "-";
    case 11:
      return c + " " + amount + "-";
    case 12:
      return c + " -" + amount;
    case 13:
      return amount + "- " + c;
    case 14:
      return "(" + c + " " + amount + ")";
    case 15:
      return "(" + amount + " " + c + ")";
    default:
      return "-" + c + amount;
  }
}

// ---------------------------------------------------------------------------
// Float reading

// Normalises the text to from_chars form; false when it is not a number.
bool NormaliseFloat(std::string_view text, char decimal_separator, std::string& out,
                    bool& overflow_if_out_of_range) {
  std::size_t i = 0, n = text.size();
  while (i < n && IsBlank(text[i]))
    ++i;
  while (n > i && IsBlank(text[n - 1]))
    --n;
  out.clear();
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') out.push_back('-');
    ++i;
  }
  std::string int_digits, frac_digits;
  while (i < n && text[i] >= '0' && text[i] <= '9')
    int_digits.push_back(text[i++]);
  if (i < n && text[i] == decimal_separator) {
    ++i;
    while (i < n && text[i] >= '0' && text[i] <= '9')
      frac_digits.push_back(text[i++]);
  }
  if (int_digits.empty() && frac_digits.empty()) return false;
  long exp10 = 0;
  std::string exp_text;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool neg = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
    std::size_t start = i;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
      if (exp10 < 100000) exp10 = exp10 * 10 + (text[i] - '0');
      ++i;
    }
    if (i == start) return false;
    if (neg) exp10 = -exp10;
    // Appended, not "e" + IntToStr(...): g++ 12 -O3 warns falsely (-Wrestrict)
    // on operator+(const char*, std::string&&).
    exp_text.push_back('e');
    exp_text += IntToStr(exp10);
  }
  if (i != n) return false;
  out += int_digits.empty() ? "0" : int_digits;
  if (!frac_digits.empty()) {
    out.push_back('.');
    out += frac_digits;
  }
  out += exp_text;
  // Where the first significant digit stands, to tell overflow from underflow.
  const std::string all = int_digits + frac_digits;
  const std::size_t k = all.find_first_not_of('0');
  const long effective = k == std::string::npos
                             ? 0
                             : exp10 + static_cast<long>(int_digits.size()) - static_cast<long>(k);
  overflow_if_out_of_range = effective > 0;
  return true;
}

template <typename F>
bool ReadFloat(std::string_view text, F& value, const TFormatSettings& fs) {
  std::string s;
  bool overflow;
  if (!NormaliseFloat(text, fs.DecimalSeparator, s, overflow)) return false;
  F v{};
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec == std::errc::result_out_of_range) {
    if (overflow) return false;
    // Underflow: read it wider and let it become a denormal or zero.
    long double wide = 0;
    auto r2 = std::from_chars(s.data(), s.data() + s.size(), wide);
    v = r2.ec == std::errc() ? static_cast<F>(wide) : F{0};
    if (s[0] == '-' && v == 0) v = -v;
  } else if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
    return false;
  }
  value = v;
  return true;
}

// ---------------------------------------------------------------------------
// Currency

constexpr long double kMaxCurrency = 922337203685477.5807L;

double RoundToCurrency(long double v) {
  long double scaled = v * 10000.0L;
  long double r = std::floor(scaled);
  const long double diff = scaled - r;
  if (diff > 0.5L || (diff == 0.5L && std::fmod(r, 2.0L) != 0)) r += 1;
  return static_cast<double>(r / 10000.0L);
}

// ---------------------------------------------------------------------------
// Dates

// Through the installed clock, so tests decide which century a two-digit
// year falls in.
int CurrentYear() {
  int year = 0, month = 0, day = 0;
  DecodeDate(Now(), year, month, day);
  return year;
}

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool StartsWithText(std::string_view s, std::size_t pos, std::string_view word) {
  if (word.empty() || pos + word.size() > s.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (UpperAscii(s[pos + i]) != UpperAscii(word[i])) return false;
  return true;
}

std::string Pad(int value, int width) {
  std::string s = IntToStr(value);
  if (static_cast<int>(s.size()) < width)
    s.insert(0, static_cast<std::size_t>(width) - s.size(), '0');
  return s;
}

struct DateParts {
  int year, month, day, hour, min, sec, msec, dow;
};

// True when the format (outside quotes) holds an am/pm specifier.
bool HasAmPm(std::string_view f) {
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (f[i] == '"' || f[i] == '\'') {
      const char q = f[i];
      ++i;
      while (i < f.size() && f[i] != q)
        ++i;
    } else if (StartsWithText(f, i, "am/pm") || StartsWithText(f, i, "a/p") ||
               StartsWithText(f, i, "ampm")) {
      return true;
    }
  }
  return false;
}

void AppendFormatted(std::string& out, std::string_view f, const DateParts& p, bool has_time,
                     const TFormatSettings& fs, int depth) {
  if (depth > 2) return;  // a settings format that names itself
  const bool twelve = HasAmPm(f);
  char last_letter = 0;  // 'm' right after an hour specifier means minutes
  std::size_t i = 0;
  auto run = [&](char c, std::size_t max) {
    std::size_t n = 0;
    while (i + n < f.size() && UpperAscii(f[i + n]) == c && n < max)
      ++n;
    return n;
  };
  while (i < f.size()) {
    const char c = f[i];
    char u = UpperAscii(c);
    if (u >= 'A' && u <= 'Z') {
      if (u == 'M' && last_letter == 'H') u = 'N';
      last_letter = u;
    }
    switch (u) {
      case '"':
      case '\'': {
        std::size_t j = i + 1;
        while (j < f.size() && f[j] != c)
          ++j;
        out.append(f.substr(i + 1, j - i - 1));
        i = j < f.size() ? j + 1 : j;
        break;
      }
      case 'A':
        if (StartsWithText(f, i, "am/pm")) {
          const bool lower = f[i] == 'a';
          out += p.hour < 12 ? (lower ? "am" : "AM") : (lower ? "pm" : "PM");
          i += 5;
        } else if (StartsWithText(f, i, "a/p")) {
          const bool lower = f[i] == 'a';
          out.push_back(p.hour < 12 ? (lower ? 'a' : 'A') : (lower ? 'p' : 'P'));
          i += 3;
        } else if (StartsWithText(f, i, "ampm")) {
          out += p.hour < 12 ? fs.TimeAMString : fs.TimePMString;
          i += 4;
        } else {
          out.push_back(c);
          ++i;
        }
        break;
      case 'C':
        AppendFormatted(out, fs.ShortDateFormat, p, has_time, fs, depth + 1);
        if (has_time) {
          out.push_back(' ');
          AppendFormatted(out, fs.LongTimeFormat, p, has_time, fs, depth + 1);
        }
        ++i;
        break;
      case 'D': {
        const std::size_t n = run('D', 6);
        switch (n) {
          case 1:
            out += IntToStr(p.day);
            break;
          case 2:
            out += Pad(p.day, 2);
            break;
          case 3:
            out += fs.ShortDayNames[static_cast<std::size_t>(p.dow - 1)];
            break;
          case 4:
            out += fs.LongDayNames[static_cast<std::size_t>(p.dow - 1)];
            break;
          case 5:
            AppendFormatted(out, fs.ShortDateFormat, p, has_time, fs, depth + 1);
            break;
          default:
            AppendFormatted(out, fs.LongDateFormat, p, has_time, fs, depth + 1);
            break;
        }
        i += n;
        break;
      }
      case 'H': {
        const std::size_t n = run('H', 2);
        int h = p.hour;
        if (twelve) h = h % 12 == 0 ? 12 : h % 12;
        out += n == 1 ? IntToStr(h) : Pad(h, 2);
        i += n;
        break;
      }
      case 'M': {
        const std::size_t n = run('M', 4);
        switch (n) {
          case 1:
            out += IntToStr(p.month);
            break;
          case 2:
            out += Pad(p.month, 2);
            break;
          case 3:
            out += fs.ShortMonthNames[static_cast<std::size_t>(p.month - 1)];
            break;
          default:
            out += fs.LongMonthNames[static_cast<std::size_t>(p.month - 1)];
            break;
        }
        i += n;
        break;
      }
      case 'N': {
        const std::size_t n = run(UpperAscii(c), 2);  // 'n' or an 'm' taken as minutes
        out += n == 1 ? IntToStr(p.min) : Pad(p.min, 2);
        i += n;
        break;
      }
      case 'S': {
        const std::size_t n = run('S', 2);
        out += n == 1 ? IntToStr(p.sec) : Pad(p.sec, 2);
        i += n;
        break;
      }
      case 'Z': {
        const std::size_t n = run('Z', 3);
        out += n < 3 ? IntToStr(p.msec) : Pad(p.msec, 3);
        i += n;
        break;
      }
      case 'T': {
        const std::size_t n = run('T', 2);
        AppendFormatted(out, n == 1 ? fs.ShortTimeFormat : fs.LongTimeFormat, p, has_time, fs,
                        depth + 1);
        i += n;
        break;
      }
      case 'Y': {
        const std::size_t n = run('Y', 4);
        out += n <= 2 ? Pad(p.year % 100, 2) : Pad(p.year, 4);
        i += n;
        break;
      }
      case '/':
        out.push_back(fs.DateSeparator);
        ++i;
        break;
      case ':':
        out.push_back(fs.TimeSeparator);
        ++i;
        break;
      default:
        out.push_back(c);
        ++i;
        break;
    }
  }
}

DateParts PartsOf(TDateTime value, bool& has_time) {
  DateParts p{};
  if (!TryDecodeDateTime(value, p.year, p.month, p.day, p.hour, p.min, p.sec, p.msec))
    throw EConvertError("Invalid date-time value");
  p.dow = DayOfWeek(value);
  has_time = p.hour != 0 || p.min != 0 || p.sec != 0 || p.msec != 0;
  return p;
}

// Date parsing.
class Scanner {
 public:
  explicit Scanner(std::string_view s) : s_(s) {}
  void Blanks() {
    while (pos_ < s_.size() && IsBlank(s_[pos_]))
      ++pos_;
  }
  bool Number(int& value, int& digits) {
    Blanks();
    std::size_t start = pos_;
    long v = 0;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9' && pos_ - start < 9)
      v = v * 10 + (s_[pos_++] - '0');
    digits = static_cast<int>(pos_ - start);
    if (digits == 0) return false;
    value = static_cast<int>(v);
    return true;
  }
  bool Char(char c) {
    Blanks();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view w) {
    Blanks();
    if (StartsWithText(s_, pos_, w)) {
      pos_ += w.size();
      return true;
    }
    return false;
  }
  bool AtEnd() {
    Blanks();
    return pos_ >= s_.size();
  }
  std::size_t pos() const { return pos_; }
  void set_pos(std::size_t p) { pos_ = p; }

 private:
  std::string_view s_;
  std::size_t pos_ = 0;
};

enum class DateOrder { DMY, MDY, YMD };

DateOrder OrderOf(const std::string& f) {
  for (char c : f) {
    const char u = UpperAscii(c);
    if (u == 'D') return DateOrder::DMY;
    if (u == 'M') return DateOrder::MDY;
    if (u == 'Y') return DateOrder::YMD;
  }
  return DateOrder::DMY;
}

int ExpandYear(int year, const TFormatSettings& fs) {
  const int current = CurrentYear();
  if (fs.TwoDigitYearCenturyWindow <= 0) return current / 100 * 100 + year;
  const int threshold = current - fs.TwoDigitYearCenturyWindow;
  int y = threshold / 100 * 100 + year;
  if (y < threshold) y += 100;
  return y;
}

bool ScanDate(Scanner& sc, TDateTime& value, const TFormatSettings& fs) {
  int n1, n2, n3, l1, l2, l3 = 0;
  if (!sc.Number(n1, l1) || !sc.Char(fs.DateSeparator) || !sc.Number(n2, l2)) return false;
  bool three = false;
  if (sc.Char(fs.DateSeparator)) {
    if (!sc.Number(n3, l3)) return false;
    three = true;
  }
  int y, m, d;
  int ylen;
  const DateOrder order = OrderOf(fs.ShortDateFormat);
  if (!three) {
    y = CurrentYear();
    ylen = 4;
    if (order == DateOrder::MDY || order == DateOrder::YMD)
      m = n1, d = n2;
    else
      d = n1, m = n2;
  } else {
    switch (order) {
      case DateOrder::MDY:
        m = n1, d = n2, y = n3, ylen = l3;
        break;
      case DateOrder::YMD:
        y = n1, m = n2, d = n3, ylen = l1;
        break;
      default:
        d = n1, m = n2, y = n3, ylen = l3;
        break;
    }
  }
  if (ylen <= 2) y = ExpandYear(y, fs);
  return TryEncodeDate(y, m, d, value);
}

bool ScanAmPm(Scanner& sc, const TFormatSettings& fs, int& base_hour) {
  if (sc.Word(fs.TimeAMString) || sc.Word("AM")) {
    base_hour = 0;
    return true;
  }
  if (sc.Word(fs.TimePMString) || sc.Word("PM")) {
    base_hour = 12;
    return true;
  }
  return false;
}

bool ScanTime(Scanner& sc, TDateTime& value, const TFormatSettings& fs) {
  int base_hour = -1;
  ScanAmPm(sc, fs, base_hour);
  int hour, min = 0, sec = 0, msec = 0, len;
  if (!sc.Number(hour, len)) return false;
  if (sc.Char(fs.TimeSeparator)) {
    if (!sc.Number(min, len)) return false;
    if (sc.Char(fs.TimeSeparator)) {
      if (!sc.Number(sec, len)) return false;
      if (sc.Char(fs.DecimalSeparator)) {
        // Fractions of a second, to the millisecond.
        if (!sc.Number(msec, len) || len > 3) return false;
        for (int k = len; k < 3; ++k)
          msec *= 10;
      }
    }
  }
  if (base_hour < 0) ScanAmPm(sc, fs, base_hour);
  if (base_hour >= 0) {
    if (hour == 0 || hour > 12) return false;
    if (hour == 12) hour = 0;
    hour += base_hour;
  }
  return TryEncodeTime(hour, min, sec, msec, value);
}

}  // namespace

// ---------------------------------------------------------------------------

std::string IntToStr(std::int64_t value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

std::string UIntToStr(std::uint64_t value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

std::string IntToHex(std::uint64_t value, int digits) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value, 16);
  std::string s(buf, r.ptr);
  for (char& c : s)
    c = UpperAscii(c);
  if (static_cast<int>(s.size()) < digits)
    s.insert(0, static_cast<std::size_t>(digits) - s.size(), '0');
  return s;
}

bool TryStrToInt(std::string_view text, std::int32_t& value) {
  return TryStrToSigned(text, value);
}

bool TryStrToInt64(std::string_view text, std::int64_t& value) {
  return TryStrToSigned(text, value);
}

bool TryStrToUInt64(std::string_view text, std::uint64_t& value) {
  bool negative, hex;
  std::uint64_t mag;
  if (!ScanInteger(text, negative, hex, mag, std::numeric_limits<std::uint64_t>::max()))
    return false;
  if (negative && mag != 0) return false;
  value = mag;
  return true;
}

std::int32_t StrToInt(std::string_view text) {
  std::int32_t v;
  if (!TryStrToInt(text, v)) RaiseConvert("'%s' is not a valid integer value", text);
  return v;
}

std::int64_t StrToInt64(std::string_view text) {
  std::int64_t v;
  if (!TryStrToInt64(text, v)) RaiseConvert("'%s' is not a valid integer value", text);
  return v;
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t default_value) {
  std::int32_t v;
  return TryStrToInt(text, v) ? v : default_value;
}

std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& fs) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  precision = std::clamp(precision, 1, kMaxPrecision);
  const Decimal d = ToDecimal(value, precision);
  const bool zero = d.digits.empty();
  switch (format) {
    case TFloatFormat::ffGeneral: {
      digits = std::clamp(digits, 0, 4);
      if (zero) return "0";
      std::string s = d.negative ? "-" : "";
      if (d.exponent > precision || d.exponent < -3) {
        s += Scientific(d, 0, false, false, digits, fs.DecimalSeparator);
        return s;
      }
      if (d.exponent <= 0) {
        s += "0";
        s.push_back(fs.DecimalSeparator);
        s.append(static_cast<std::size_t>(-d.exponent), '0');
        s += d.digits;
      } else if (static_cast<int>(d.digits.size()) <= d.exponent) {
        s += d.digits;
        s.append(static_cast<std::size_t>(d.exponent) - d.digits.size(), '0');
      } else {
        s.append(d.digits, 0, static_cast<std::size_t>(d.exponent));
        s.push_back(fs.DecimalSeparator);
        s.append(d.digits, static_cast<std::size_t>(d.exponent));
      }
      return s;
    }
    case TFloatFormat::ffExponent: {
      digits = std::clamp(digits, 0, 4);
      std::string s = d.negative && !zero ? "-" : "";
      return s + Scientific(d, precision, true, true, digits, fs.DecimalSeparator);
    }
    case TFloatFormat::ffFixed:
    case TFloatFormat::ffNumber:
    case TFloatFormat::ffCurrency: {
      digits = std::clamp(digits, 0, kMaxPrecision);
      if (!zero && d.exponent > precision) {
        std::string s = d.negative ? "-" : "";
        return s + Scientific(d, precision, true, true, 0, fs.DecimalSeparator);
      }
      // Rounded at the decimals, or at the precision when that comes first.
      const Decimal f =
          RoundDecimalDigits(value, [&](int e) { return std::min(precision, e + digits); });
      bool is_zero;
      const char thousands = format == TFloatFormat::ffFixed ? '\0' : fs.ThousandSeparator;
      const std::string amount = FixedText(f, digits, thousands, fs.DecimalSeparator, is_zero);
      const bool negative = d.negative && !is_zero;
      if (format == TFloatFormat::ffCurrency) return CurrencyText(amount, negative, fs);
      return negative ? "-" + amount : amount;
    }
  }
  return {};
}

std::string FloatToStr(long double value, const TFormatSettings& fs) {
  return FloatToStrF(value, TFloatFormat::ffGeneral, 15, 0, fs);
}

bool TryStrToFloat(std::string_view text, long double& value, const TFormatSettings& fs) {
  return ReadFloat(text, value, fs);
}

bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& fs) {
  return ReadFloat(text, value, fs);
}

long double StrToFloat(std::string_view text, const TFormatSettings& fs) {
  long double v;
  if (!TryStrToFloat(text, v, fs)) RaiseConvert("'%s' is not a valid floating point value", text);
  return v;
}

std::string CurrToStr(double value, const TFormatSettings& fs) {
  if (!std::isfinite(value) || std::fabs(static_cast<long double>(value)) > kMaxCurrency)
    return FloatToStr(value, fs);
  // Four decimals by the formatters' one rule, trailing zeros dropped.
  const Decimal d = RoundToDecimals(value, 4);
  std::string int_part, frac;
  FixedDigits(d, 4, int_part, frac);
  while (!frac.empty() && frac.back() == '0')
    frac.pop_back();
  std::string s = d.negative && !d.digits.empty() ? "-" : "";
  s += int_part;
  if (!frac.empty()) {
    s.push_back(fs.DecimalSeparator);
    s += frac;
  }
  return s;
}

bool TryStrToCurr(std::string_view text, double& value, const TFormatSettings& fs) {
  long double v;
  if (!TryStrToFloat(text, v, fs)) return false;
  if (std::fabs(v) > kMaxCurrency + 0.00005L) return false;
  value = RoundToCurrency(v);
  return true;
}

double StrToCurr(std::string_view text, const TFormatSettings& fs) {
  double v;
  if (!TryStrToCurr(text, v, fs)) RaiseConvert("'%s' is not a valid floating point value", text);
  return v;
}

std::string FormatDateTime(std::string_view format, TDateTime value, const TFormatSettings& fs) {
  bool has_time;
  const DateParts p = PartsOf(value, has_time);
  std::string out;
  AppendFormatted(out, format.empty() ? std::string_view("c") : format, p, has_time, fs, 0);
  return out;
}

std::string DateToStr(TDateTime value, const TFormatSettings& fs) {
  return FormatDateTime(fs.ShortDateFormat, value, fs);
}

std::string TimeToStr(TDateTime value, const TFormatSettings& fs) {
  return FormatDateTime(fs.LongTimeFormat, value, fs);
}

std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs) {
  return FormatDateTime("c", value, fs);
}

bool TryStrToDate(std::string_view text, TDateTime& value, const TFormatSettings& fs) {
  Scanner sc(text);
  TDateTime v;
  if (!ScanDate(sc, v, fs) || !sc.AtEnd()) return false;
  value = v;
  return true;
}

bool TryStrToTime(std::string_view text, TDateTime& value, const TFormatSettings& fs) {
  Scanner sc(text);
  TDateTime v;
  if (!ScanTime(sc, v, fs) || !sc.AtEnd()) return false;
  value = v;
  return true;
}

bool TryStrToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& fs) {
  Scanner sc(text);
  TDateTime date;
  if (ScanDate(sc, date, fs)) {
    if (sc.AtEnd()) {
      value = date;
      return true;
    }
    TDateTime time;
    if (!ScanTime(sc, time, fs) || !sc.AtEnd()) return false;
    value = date >= 0 ? date + time : date - time;
    return true;
  }
  Scanner st(text);
  TDateTime time;
  if (!ScanTime(st, time, fs) || !st.AtEnd()) return false;
  value = time;
  return true;
}

TDateTime StrToDate(std::string_view text, const TFormatSettings& fs) {
  TDateTime v;
  if (!TryStrToDate(text, v, fs)) RaiseConvert("'%s' is not a valid date", text);
  return v;
}

TDateTime StrToTime(std::string_view text, const TFormatSettings& fs) {
  TDateTime v;
  if (!TryStrToTime(text, v, fs)) RaiseConvert("'%s' is not a valid time", text);
  return v;
}

TDateTime StrToDateTime(std::string_view text, const TFormatSettings& fs) {
  TDateTime v;
  if (!TryStrToDateTime(text, v, fs)) RaiseConvert("'%s' is not a valid date and time", text);
  return v;
}

}  // namespace platform
