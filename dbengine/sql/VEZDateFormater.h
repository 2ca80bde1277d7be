// TDateFormater: a compiled date-format template such as
// YYYY-MM-DD HH24:NN:SS, used by the TODATE and TOSTRING functions to format
// a date-time as text and to read one back. Keywords are matched without case,
// longest first (MONTH before MON, HH24 before HH); quoted text and any
// character that starts no keyword is literal. Month and day names come from
// the engine's fixed format settings, never the process locale.
//
// Thread safety: immutable after construction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZTypes.h"
#include "platform/core/DateTime.h"

namespace vez {

enum class TDateFormatType : std::uint8_t {
  dfYYYY,
  dfYY,
  dfYEAR,
  dfQ,
  dfMONTH,
  dfMON,
  dfMM,
  dfM,
  dfRM,
  dfDDD,
  dfDD,
  dfDAY,
  dfDY,
  dfDW,
  dfD,
  dfHH12,
  dfHH24,
  dfHH,
  dfH12,
  dfH24,
  dfH,
  dfNN,
  dfN,
  dfSS,
  dfS,
  dfAMPM,
  dfText
};

struct TDateFormatToken {
  TDateFormatType TokenType = TDateFormatType::dfText;
  // The keyword as written (case kept), or the literal text.
  std::string Text;
};

class TDateFormater {
 public:
  // Compiles the template; never fails (an unclosed quote makes the rest
  // literal).
  explicit TDateFormater(const std::string& date_format);

  // The value formatted by the template.
  std::string ToString(platform::TDateTime dt) const;
  // The date-time read from str by the template. A number that is not an
  // integer raises platform::EConvertError, an AM/PM field that is neither
  // raises 30129, an impossible date or time the platform's encoding error.
  // Without a year, month or day the date part is 1899-12-30.
  platform::TDateTime ToDate(const std::string& str) const;
  // The longest text ToString can give.
  std::int32_t GetStringMaxSize() const;
  // aftDate with only date keywords, aftTime with only time keywords, else
  // aftDateTime.
  TVEZAdvancedFieldType GetDataType() const;
  // One line per token: "<n> <dfKEY> = 'text'" (or <dfText>), CR LF ended.
  std::string DebugGetTotenList() const;

  const std::vector<TDateFormatToken>& Tokens() const { return FDateFormat; }

 private:
  std::vector<TDateFormatToken> FDateFormat;
};

}  // namespace vez
