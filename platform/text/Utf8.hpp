#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The one UTF-8 codec of the system (the tokenizer library reaches it through its text layer):
// every std::string / std::string_view that holds text is UTF-8, and every text position is a
// byte offset into it. Ill-formed input follows one policy everywhere: nextScalar reads a bad
// byte as U+FFFD and steps one byte; the converters replace each maximal ill-formed subpart.

// Converts UTF-8 to UTF-16. Ill-formed input bytes become U+FFFD, so the result is always
// well-formed.
std::u16string toUtf16(std::string_view utf8);

// Converts UTF-16 to UTF-8. Unpaired surrogates become U+FFFD.
std::string toUtf8(std::u16string_view utf16);

// Appends the UTF-8 form of one scalar value. Surrogates and values above U+10FFFF are
// appended as U+FFFD.
void appendUtf8(std::string &out, char32_t scalar);

// Decodes bytes as UTF-8, replacing each maximal ill-formed subsequence with one U+FFFD (the
// Unicode "substitution of maximal subparts" practice), so the result is valid UTF-8 and no
// well-formed character is lost. Appends to `out`.
void appendRepairedUtf8(std::string &out, std::string_view bytes);
std::string repairUtf8(std::string_view bytes);

// True when `bytes` is well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

// Reads the scalar that starts at `offset` of well-formed UTF-8 text and advances `offset`
// past it. Ill-formed bytes read as U+FFFD and advance by one byte, so a loop over any input
// terminates.
char32_t nextScalar(std::string_view text, std::size_t &offset);

// Fills `boundaries` with the byte offsets of every scalar boundary of `text` (as nextScalar
// reads it), starting with 0 and ending with text.size() (just {0} for empty text). Replaces
// the previous contents; callers keep the vector to reuse its storage.
void scalarBoundaries(std::string_view text, std::vector<std::size_t> &boundaries);

} // namespace platform
