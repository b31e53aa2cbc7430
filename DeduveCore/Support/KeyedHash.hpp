#pragma once

#include <cstddef>
#include <string_view>

namespace deduve {

// A hash of bytes under a key drawn once per process (SipHash-1-3). The tables that index keys
// from outside documents (vocabularies, configuration dictionaries) use it: keys crafted offline
// to collide under a fixed hash would turn each of their inserts into a walk over the others,
// while under an unknown key they spread like any others.
std::size_t keyedHash(const void *bytes, std::size_t size);

inline std::size_t keyedHash(std::string_view text) { return keyedHash(text.data(), text.size()); }
inline std::size_t keyedHash(std::u16string_view units) {
  return keyedHash(units.data(), units.size() * sizeof(char16_t));
}

} // namespace deduve
