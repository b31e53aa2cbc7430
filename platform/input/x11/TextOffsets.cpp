#include "platform/input/x11/TextOffsets.hpp"

#include "platform/text/Utf8.hpp"

namespace platform {
namespace {

// Code points of `utf8`, each bad byte as one U+FFFD.
std::u32string decode(std::string_view utf8) {
  std::u32string out;
  for (std::size_t i = 0; i < utf8.size();) {
    out.push_back(nextScalar(utf8, i));
  }
  return out;
}

} // namespace

std::int64_t utf16OffsetOfCharacter(std::string_view utf8, std::int64_t characterOffset) {
  const std::u32string text = decode(utf8);
  std::int64_t units = 0;
  for (std::int64_t i = 0; i < characterOffset && i < static_cast<std::int64_t>(text.size()); ++i) {
    units += text[static_cast<std::size_t>(i)] > 0xFFFF ? 2 : 1;
  }
  return units;
}

std::int64_t characterOffsetOfUtf16(std::string_view utf8, std::int64_t utf16Offset) {
  const std::u32string text = decode(utf8);
  std::int64_t units = 0;
  std::int64_t characters = 0;
  for (const char32_t c : text) {
    if (units >= utf16Offset) {
      break;
    }
    units += c > 0xFFFF ? 2 : 1;
    ++characters;
  }
  return characters;
}

std::u16string utf16FromUtf8(std::string_view utf8) {
  std::u16string out;
  for (const char32_t c : decode(utf8)) {
    if (c > 0xFFFF) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

} // namespace platform
