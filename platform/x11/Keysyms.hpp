#pragma once

#include <optional>
#include <string>

namespace platform {

// The character a keysym types by itself: Latin-1 keysyms are their own code points and Unicode
// keysyms (0x01000000 plus the code point) carry theirs. Absent for every other keysym (function
// keys, modifiers, the legacy non-Latin-1 sets), which callers handle by name.
std::optional<char32_t> characterOfKeysym(unsigned long keysym);

// `c` in UTF-8.
std::string utf8OfCharacter(char32_t c);

} // namespace platform
