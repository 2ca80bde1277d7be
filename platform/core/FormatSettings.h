// FormatSettings: how numbers, currency and dates read and print, in one
// object like the platform's. The process-wide object starts as en-GB
// (decimal point '.', dates dd/mm/yyyy, times hh:nn:ss, '£' currency), which
// is what the application runs with; tests and tools may pass or install
// other settings. All texts are Windows-1252.
//
// Thread safety: a TFormatSettings is a plain value. The process-wide object
// may be read from any thread; SetFormatSettings must only be called while no
// other thread converts (start-up, tests).
#pragma once

#include <array>
#include <string>

namespace platform {

struct TFormatSettings {
  // 0 "£1", 1 "1£", 2 "£ 1", 3 "1 £" (currency string before/after).
  int CurrencyFormat = 0;
  // 0 "(£1)", 1 "-£1", 2 "£-1", 3 "£1-", 4 "(1£)", 5 "-1£", 6 "1-£", 7 "1£-",
  // 8 "-1 £", 9 "-£ 1", 10 "1 £-", 11 "£ 1-", 12 "£ -1", 13 "1- £",
  // 14 "(£ 1)", 15 "(1 £)".
  int NegCurrFormat = 1;
  char ThousandSeparator = ',';
  char DecimalSeparator = '.';
  int CurrencyDecimals = 2;
  char DateSeparator = '/';
  char TimeSeparator = ':';
  char ListSeparator = ',';
  std::string CurrencyString = "\xA3";  // '£' in Windows-1252
  // Date and time formats: FormatDateTime specifiers; '/' and ':' stand for
  // the separators above.
  std::string ShortDateFormat = "dd/mm/yyyy";
  std::string LongDateFormat = "dd mmmm yyyy";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  std::string ShortTimeFormat = "hh:nn";
  std::string LongTimeFormat = "hh:nn:ss";
  std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> LongMonthNames{"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};
  std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
  // Two-digit years read from text: 0 puts them in the current century;
  // n > 0 picks the year in [current year - n, current year - n + 99].
  int TwoDigitYearCenturyWindow = 50;

  // en-GB, as the application uses.
  static TFormatSettings EnGB() { return TFormatSettings(); }
};

// The process-wide settings (en-GB until replaced).
const TFormatSettings& FormatSettings();
void SetFormatSettings(const TFormatSettings& settings);

}  // namespace platform
