#include "app/acquisition/Sentence.h"

#include <cassert>

#include "platform/core/FormatSettings.h"
#include "platform/core/TextConvert.h"

namespace rvx {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

std::string NextToken(std::string& s) {
  const std::size_t end = s.find_first_of(",*\r\n");
  std::string field = s.substr(0, end);
  s.erase(0, end == std::string::npos ? s.size() : end + 1);
  if (s.empty()) throw ESentenceEnded();
  if (s.front() == '\r' || s.front() == '\n') s.erase(0, 1);
  return field;
}

bool IsSentence(std::string_view sentence, std::string_view id) {
  std::string rest(sentence);
  std::string field1, field2;
  try {
    field1 = NextToken(rest);
    field2 = NextToken(rest);
  } catch (const ESentenceEnded&) {
    return false;
  }
  if (field1.size() == id.size() + 1 && field1.front() == '$' && field1.substr(1) == id)
    return true;
  return field1 == "$RVM" && field2 == id;
}

std::string SentenceChecksum(std::string_view body) {
  const std::size_t count = body.size() % 256;
  unsigned sum = 0;
  for (std::size_t i = 0; i < count; ++i)
    sum += static_cast<unsigned char>(body[i]);
  return IntToHexDigits(sum % 256, 2);
}

std::string IntToHexDigits(long long value, int minDigits) {
  assert(value >= 0);
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  auto v = static_cast<unsigned long long>(value);
  do {
    text.insert(text.begin(), kDigits[v % 16]);
    v /= 16;
  } while (v != 0);
  if (static_cast<int>(text.size()) < minDigits)
    text.insert(0, static_cast<std::size_t>(minDigits) - text.size(), '0');
  return text;
}

bool ReadSentenceNumber(std::string_view field, double& value) {
  // The number reader forgives trailing blanks; a meter field may not have
  // any.
  if (field.empty() || IsBlank(field.back())) return false;
  // "." whatever the process-wide settings say.
  static const platform::TFormatSettings kMeterFormat = platform::TFormatSettings::EnGB();
  return platform::TryStrToFloat(field, value, kMeterFormat);
}

void NextFloatToken(std::string& s, double& value, bool& ok) {
  const std::string field = NextToken(s);
  if (!ReadSentenceNumber(field, value)) {
    value = 0;
    ok = false;
  }
}

std::optional<TDataValue> NextDataValueToken(std::string& s, TDateTime aTime) {
  const std::string field = NextToken(s);
  double value = 0;
  if (!ReadSentenceNumber(field, value)) return std::nullopt;
  return TDataValue(aTime, value, false);
}

}  // namespace rvx
