#include "dbengine/sql/VEZDateFormater.h"

#include <array>
#include <cctype>
#include <cmath>
#include <string_view>

#include "dbengine/foundation/VEZException.h"
#include "platform/core/FormatSettings.h"
#include "platform/core/TextConvert.h"

namespace vez {

namespace {

constexpr std::array<std::string_view, 26> kKeywords = {
    "YYYY", "YY", "YEAR", "Q",    "MONTH", "MON", "MM",  "M", "RM", "DDD", "DD", "DAY", "DY",
    "DW",   "D",  "HH12", "HH24", "HH",    "H12", "H24", "H", "NN", "N",   "SS", "S",   "AMPM"};
constexpr std::size_t kLongestKeyword = 5;

std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string TwoDigits(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

std::string FourDigits(int v) {
  std::string s = std::to_string(v);
  while (s.size() < 4)
    s = "0" + s;
  return s;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

TDateFormater::TDateFormater(const std::string& date_format) {
  std::string pending;
  auto flush = [&] {
    if (!pending.empty()) FDateFormat.push_back({TDateFormatType::dfText, pending});
    pending.clear();
  };
  std::size_t pos = 0;
  const std::size_t n = date_format.size();
  while (pos < n) {
    const char c = date_format[pos];
    if (c == '\'' || c == '"') {
      flush();
      const std::size_t close = date_format.find(c, pos + 1);
      if (close == std::string::npos) {
        pending = date_format.substr(pos + 1);
        break;
      }
      FDateFormat.push_back(
          {TDateFormatType::dfText, date_format.substr(pos + 1, close - pos - 1)});
      pos = close + 1;
      continue;
    }
    bool matched = false;
    for (std::size_t len = std::min(kLongestKeyword, n - pos); len >= 1 && !matched; --len) {
      const std::string candidate = Upper(std::string_view(date_format).substr(pos, len));
      for (std::size_t k = 0; k < kKeywords.size(); ++k) {
        if (kKeywords[k] != candidate) continue;
        flush();
        FDateFormat.push_back({static_cast<TDateFormatType>(k), date_format.substr(pos, len)});
        pos += len;
        matched = true;
        break;
      }
    }
    if (!matched) pending += date_format[pos++];
  }
  flush();
}

std::string TDateFormater::ToString(platform::TDateTime dt) const {
  static constexpr std::array<const char*, 12> kRoman = {"I",   "II",   "III", "IV", "V",  "VI",
                                                         "VII", "VIII", "IX",  "X",  "XI", "XII"};
  const platform::TFormatSettings& fs = platform::FormatSettings();
  int year, month, day, hour, minute, second, msec;
  platform::DecodeDateTime(dt, year, month, day, hour, minute, second, msec);
  const int week_day = platform::DayOfWeek(dt);  // 1 = Sunday
  std::string out;
  for (const TDateFormatToken& t : FDateFormat) {
    using enum TDateFormatType;
    switch (t.TokenType) {
      case dfYYYY:
      case dfYEAR:
        out += FourDigits(year);
        break;
      case dfYY:
        out += TwoDigits(year % 100);
        break;
      case dfQ:
        out += std::to_string((month - 1) / 3 + 1);
        break;
      case dfMONTH:
        out += fs.LongMonthNames[month - 1];
        break;
      case dfMON:
        out += fs.ShortMonthNames[month - 1];
        break;
      case dfMM:
        out += TwoDigits(month);
        break;
      case dfM:
        out += std::to_string(month);
        break;
      case dfRM:
        out += kRoman[month - 1];
        break;
      case dfDDD:
        out += fs.ShortDayNames[week_day - 1];
        break;
      case dfDD:
        out += TwoDigits(day);
        break;
      case dfDAY:
        out += fs.LongDayNames[week_day - 1];
        break;
      case dfDY: {
        const double first = platform::EncodeDate(year, 1, 1);
        out += std::to_string(static_cast<int>(std::floor(platform::DateOf(dt) - first)) + 1);
        break;
      }
      case dfDW: {
        const std::int32_t day_number = platform::DateTimeToTimeStamp(dt).Date;
        out += std::to_string((day_number - 1) % 7 + 1);
        break;
      }
      case dfD:
        out += std::to_string(day);
        break;
      case dfHH12:
      case dfHH:
        out += TwoDigits(hour % 12);
        break;
      case dfHH24:
        out += TwoDigits(hour);
        break;
      case dfH12:
      case dfH:
        out += std::to_string(hour % 12);
        break;
      case dfH24:
        out += std::to_string(hour);
        break;
      case dfNN:
        out += TwoDigits(minute);
        break;
      case dfN:
        out += std::to_string(minute);
        break;
      case dfSS:
        out += TwoDigits(second);
        break;
      case dfS:
        out += std::to_string(second);
        break;
      case dfAMPM:
        out += hour > 11 ? "PM" : "AM";
        break;
      case dfText:
        out += t.Text;
        break;
      default:
        throw platform::Exception("Unknown DateFormatType");
    }
  }
  return out;
}

platform::TDateTime TDateFormater::ToDate(const std::string& str) const {
  std::size_t pos = 0;  // 0-based read position
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  auto take = [&](std::size_t count) {
    const std::string part = pos < str.size() ? str.substr(pos, count) : std::string();
    pos += count;
    return part;
  };
  auto number = [&](std::size_t count) { return platform::StrToInt(take(count)); };
  // One digit when the character after the first is not a digit, else two.
  auto one_or_two = [&] {
    const bool two = pos + 1 < str.size() && IsDigit(str[pos + 1]);
    return number(two ? 2 : 1);
  };
  for (const TDateFormatToken& t : FDateFormat) {
    using enum TDateFormatType;
    switch (t.TokenType) {
      case dfYYYY:
      case dfYEAR:
        year = number(4);
        break;
      case dfYY: {
        year = number(2);
        if (year < 30) year += 100;
        year += 1900;
        break;
      }
      case dfQ:
        month = 3 * number(1) - 2;
        break;
      case dfMM:
        month = number(2);
        break;
      case dfM:
        month = one_or_two();
        break;
      case dfDD:
        day = number(2);
        break;
      case dfD:
        day = one_or_two();
        break;
      case dfHH12:
      case dfHH:
      case dfH24:
        hour = one_or_two();
        break;
      case dfHH24:
        hour = number(2);
        break;
      case dfNN:
        minute = number(2);
        break;
      case dfN:
        minute = one_or_two();
        break;
      case dfSS:
        second = number(2);
        break;
      case dfS:
        second = one_or_two();
        break;
      case dfAMPM: {
        const std::string word = take(2);
        const std::string up = Upper(word);
        if (up != "AM" && up != "PM")
          throw EVEZException(30129, "AM/PM word expected, but '%s' found", {word});
        // On a 12-hour clock 12 is the first hour of its half (12:30 AM is
        // 00:30, 12:30 PM is 12:30), as 00 is.
        if (hour == 12) hour = 0;
        if (up == "PM") hour += 12;
        break;
      }
      default:
        pos += t.Text.size();
        break;
    }
  }
  const platform::TDateTime date =
      (year == 0 || month == 0 || day == 0) ? 0.0 : platform::EncodeDate(year, month, day);
  const platform::TDateTime time = platform::EncodeTime(hour, minute, second, 0);
  return date + (date < 0 ? -time : time);
}

std::int32_t TDateFormater::GetStringMaxSize() const {
  std::int32_t size = 0;
  for (const TDateFormatToken& t : FDateFormat) {
    using enum TDateFormatType;
    switch (t.TokenType) {
      case dfYYYY:
      case dfYEAR:
      case dfRM:
        size += 4;
        break;
      case dfQ:
        size += 1;
        break;
      case dfMONTH:
        size += 9;
        break;
      case dfMON:
      case dfDDD:
      case dfDY:
        size += 3;
        break;
      case dfDAY:
        size += 12;
        break;
      case dfText:
        size += static_cast<std::int32_t>(t.Text.size());
        break;
      default:
        size += 2;
        break;
    }
  }
  return size;
}

TVEZAdvancedFieldType TDateFormater::GetDataType() const {
  bool has_date = false, has_time = false;
  for (const TDateFormatToken& t : FDateFormat) {
    if (t.TokenType == TDateFormatType::dfText) continue;
    if (t.TokenType <= TDateFormatType::dfD)
      has_date = true;
    else
      has_time = true;
  }
  if (has_date && !has_time) return aftDate;
  if (has_time && !has_date) return aftTime;
  return aftDateTime;
}

std::string TDateFormater::DebugGetTotenList() const {
  std::string out;
  for (std::size_t i = 0; i < FDateFormat.size(); ++i) {
    const TDateFormatToken& t = FDateFormat[i];
    out += std::to_string(i + 1);
    if (t.TokenType == TDateFormatType::dfText)
      out += " <dfText> = '";
    else
      out += " <df" + std::string(kKeywords[static_cast<std::size_t>(t.TokenType)]) + "> = '";
    out += t.Text + "'\r\n";
  }
  return out;
}

}  // namespace vez
