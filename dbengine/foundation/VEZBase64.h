// Base64 (RFC 2045 alphabet A-Z a-z 0-9 + /, '=' as fill). Decoding skips
// every character outside the alphabet (line breaks of MIME text and the
// like) before the text is filled up with '=' to a multiple of 4, so
// "QUJD\r\nREVG" decodes to ABCDEF.
#pragma once

#include <string>
#include <string_view>

namespace vez {

// The bytes the text encodes. Decoding stops at the first fill character.
std::string Base64Decode(std::string_view text);
// The encoded text, filled with '=' to a multiple of 4, without line breaks.
std::string Base64Encode(std::string_view bytes);

}  // namespace vez
