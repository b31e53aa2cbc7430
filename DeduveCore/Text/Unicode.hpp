#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace deduve {

// Unicode operations on UTF-8 text, backed by ICU's tables. All functions are thread-safe and
// locale-independent. Ill-formed input bytes are read as U+FFFD.

enum class NormalizationForm { nfc, nfd, nfkc, nfkd };

std::string normalize(std::string_view text, NormalizationForm form);

// Full Unicode lower-case mapping (one character may become several, final sigma is handled),
// with the root locale so that the result never depends on the user's language settings.
std::string lowercase(std::string_view text);
// Full Unicode upper-case mapping with the root locale ("ß" becomes "SS").
std::string uppercase(std::string_view text);

// Removes diacritics: the text is decomposed, its non-spacing marks (general category Mn) are
// dropped and the rest is recomposed, so "Héllo" becomes "Hello" and "ﬁ" stays "ﬁ".
std::string foldDiacritics(std::string_view text);

// The text decomposed (NFD) without its non-spacing marks and not recomposed: what a
// decomposition split stays split, so Hangul syllables come out as their jamo ("서" becomes
// "ᄉ" "ᅥ"), as vocabularies trained with accent stripping expect. "Héllo" becomes "Hello";
// compatibility characters such as "ﬁ" stay.
std::string stripDiacritics(std::string_view text);

// Character properties of single scalars.
bool isWhiteSpace(char32_t scalar); // Unicode White_Space (tabs, line breaks, Zs, ...)
bool isSpaceSeparator(char32_t scalar);
// `text` without leading and trailing White_Space scalars (U+3000, U+2003, U+0085, line
// breaks, ...); a view into `text`.
std::string_view trimmingWhiteSpace(std::string_view text); // general category Zs
bool isPunctuation(char32_t scalar); // general category P* (Pc, Pd, Ps, Pe, Pi, Pf, Po)
// General category C*: control (Cc), format (Cf), surrogate (Cs), private use (Co) and
// unassigned (Cn).
bool isOtherCategory(char32_t scalar);
// A word character as regular expressions' \w counts them: alphabetic, marks, decimal digits,
// connector punctuation (such as "_") and the joiners U+200C, U+200D.
bool isWordCharacter(char32_t scalar);

// General category L* (letters) and N* (numbers).
bool isLetter(char32_t scalar);
bool isNumber(char32_t scalar);
// General category Lu (upper-case letter) or Lt (title-case letter).
bool isUppercaseOrTitlecase(char32_t scalar);

// The same services on UTF-16 code units, for the types that keep their text that way.
// Full lower-case mapping with the root locale, as lowercase() above.
std::u16string lowercase(std::u16string_view text);
// Whether the two texts are canonically equivalent (equal after NFC).
bool canonicallyEquivalent(std::u16string_view a, std::u16string_view b);
// Unit offsets of every grapheme cluster boundary, starting with 0 and ending with
// text.size() (just {0} for empty text). Replaces the contents of `boundaries`.
void graphemeBoundaries(std::u16string_view text, std::vector<std::size_t> &boundaries);

// Title-cases words: the first scalar of each word by the simple upper-case mapping, the rest
// by the simple lower-case mapping. Words are separated by white space in the Java sense
// (Unicode white space without the no-break spaces, plus the ASCII separators U+001C..U+001F),
// which is kept; ill-formed bytes are kept as they are and end a word's start.
std::string capitalizeWords(std::string_view text);

// Extended grapheme clusters ("characters" as a reader sees them).
//
// Fills `boundaries` with the byte offsets of every cluster boundary of `text`, in increasing
// order, starting with 0 and ending with text.size() (just {0} for empty text). Replaces the
// previous contents; callers keep the vector to reuse its storage.
void graphemeBoundaries(std::string_view text, std::vector<std::size_t> &boundaries);

// The byte offset of the first cluster boundary after `offset` (text.size() at the end).
std::size_t nextGraphemeBoundary(std::string_view text, std::size_t offset);

// The clusters of `text`, in order, as views into it.
std::vector<std::string_view> graphemes(std::string_view text);

// The number of clusters in `text`.
std::size_t graphemeCount(std::string_view text);

} // namespace deduve
