#include "platform/text/Excerpt.hpp"

namespace platform {
namespace {

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The longest start of `text` of at most `bytes` bytes that does not split a character.
std::string_view headOf(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) {
    return text;
  }
  std::size_t end = bytes;
  while (end > 0 && isContinuationByte(text[end])) {
    --end;
  }
  return text.substr(0, end);
}

// The longest end of `text` of at most `bytes` bytes that starts on a character.
std::string_view tailOf(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) {
    return text;
  }
  std::size_t start = text.size() - bytes;
  while (start < text.size() && isContinuationByte(text[start])) {
    ++start;
  }
  return text.substr(start);
}

std::string visible(std::string_view text) {
  std::string shown(text);
  for (char &c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      c = '?';
    }
  }
  return shown;
}

} // namespace

std::string excerpt(std::string_view text) {
  if (text.size() <= kExcerptBytes) {
    return visible(text);
  }
  return visible(headOf(text, kExcerptBytes)) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string boundedMessage(std::string_view message) {
  if (message.size() <= kMessageBytes) {
    return std::string(message);
  }
  const std::size_t half = kMessageBytes / 2 - 32;
  return std::string(headOf(message, half)) + "... (" + std::to_string(message.size()) +
         " bytes) ..." + std::string(tailOf(message, half));
}

} // namespace platform
