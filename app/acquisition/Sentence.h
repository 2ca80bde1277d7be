// Sentence: the routines that cut and test the meter's text sentences.
//
// A sentence, as it arrives from a meter unit (bytes, not widened text):
//   "$SPS1," f2 "," torque "," f4 "," speed "," power "," f7 "," f8 "*" CS CR LF
// or the same with "$RVM,SPS1," in front of f2's place ("$RVM" is field 1 and
// "SPS1" field 2). Fields end at the first ",", "*", CR or LF; CS is the
// checksum: two upper-case hexadecimal digits of the byte sum of everything
// between "$" and "*".
//
// Numbers read with "." as decimal separator whatever the locale: optional
// leading blanks, an optional sign, digits with an optional "." and further
// digits, an optional exponent; nothing after. An empty field, a decimal
// comma, a thousands separator or a trailing blank is no number.
//
// Errors: NextToken and the readers built on it raise ESentenceEnded when the
// text is exhausted (see NextToken); nothing else is raised.
//
// Thread safety: pure functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/acquisition/DataValue.h"
#include "platform/core/Exceptions.h"

namespace rvx {

// The sentence ran out before the field asked for.
class ESentenceEnded : public platform::Exception {
 public:
  ESentenceEnded() : Exception("Sentence ended early") {}
};

// Cuts the next field off the front of s and returns it. The field runs up to
// the first ",", "*", CR or LF (or to the end); s loses the field and its
// delimiter. When nothing remains, the sentence is exhausted: ESentenceEnded
// (s is then empty). Otherwise one CR or LF at the front of s is removed too,
// so "CS\r\n" gives "CS" and leaves "", while "CS\n" raises.
std::string NextToken(std::string& s);

// Field 1 is "$" + id, or field 1 is "$RVM" and field 2 is id (exact
// comparisons). A text exhausted before its second field is no sentence.
bool IsSentence(std::string_view sentence, std::string_view id);

// The sum of the bytes of the first (length mod 256) bytes of body, modulo
// 256, as two upper-case hexadecimal digits. Bytes count as 0..255, so the
// high half of the code page sums as it arrived.
std::string SentenceChecksum(std::string_view body);

// The upper-case hexadecimal text of value, left-filled with "0" to at least
// minDigits characters. REQUIRES: value >= 0.
std::string IntToHexDigits(long long value, int minDigits);

// True when field is a number in the sentence syntax (see above); value is
// set only then.
bool ReadSentenceNumber(std::string_view field, double& value);

// The next field read as a number; when it does not read, value := 0 and
// ok := false (ok is left alone when it reads).
void NextFloatToken(std::string& s, double& value, bool& ok);

// The next field read as a number into a sample (aTime, value, no error);
// nothing when it does not read.
std::optional<TDataValue> NextDataValueToken(std::string& s, TDateTime aTime);

}  // namespace rvx
