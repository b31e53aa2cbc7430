#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace deduve {

// The byte-to-character table of byte-level vocabularies: every byte value is shown as one
// printable character, so any byte sequence becomes text a vocabulary can hold. Bytes 33-126,
// 161-172 and 174-255 stand for the character with the same code point; the other 68 bytes
// (0-32, 127-160, 173), in increasing order, stand for U+0100, U+0101, ... U+0143. So byte 32
// (space) is "Ġ" (U+0120) and byte 10 (line feed) is "Ċ" (U+010A).
//
// Both tables are built once, on first use, under a one-time guard, and are read-only after.

// byte -> the UTF-8 form of its character.
const std::array<std::string, 256> &byteEncoder();

// The inverse: the UTF-8 form of one table character -> its byte.
const std::unordered_map<std::string, std::uint8_t> &byteDecoder();

// The byte a table character stands for; absent for a character outside the table.
std::optional<std::uint8_t> byteForCharacter(char32_t character);

// Appends the table characters of every byte of `bytes`.
void appendByteLevel(std::string &out, std::string_view bytes);

} // namespace deduve
