#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// AT-SPI counts text in characters (code points); the accessibility seam counts UTF-16 code
// units. Both conversions clamp to the text's length; an offset inside a surrogate pair moves
// to the pair's end. `utf8` that is not valid UTF-8 counts each bad byte as one character.
std::int64_t utf16OffsetOfCharacter(std::string_view utf8, std::int64_t characterOffset);
std::int64_t characterOffsetOfUtf16(std::string_view utf8, std::int64_t utf16Offset);

// `utf8` as UTF-16, bad bytes as U+FFFD.
std::u16string utf16FromUtf8(std::string_view utf8);

} // namespace platform
