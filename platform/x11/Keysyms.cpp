#include "platform/x11/Keysyms.hpp"

#include "platform/text/Utf8.hpp"

namespace platform {

std::optional<char32_t> characterOfKeysym(unsigned long keysym) {
  if ((keysym >= 0x20 && keysym <= 0x7E) || (keysym >= 0xA0 && keysym <= 0xFF)) {
    return static_cast<char32_t>(keysym);
  }
  if (keysym >= 0x01000000 && keysym <= 0x0110FFFF) {
    return static_cast<char32_t>(keysym - 0x01000000);
  }
  return std::nullopt;
}

std::string utf8OfCharacter(char32_t c) {
  std::string out;
  appendUtf8(out, c);
  return out;
}

} // namespace platform
