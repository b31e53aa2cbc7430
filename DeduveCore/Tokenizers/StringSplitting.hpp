#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "DeduveCore/Text/Regex.hpp"

namespace deduve {

// The match time limit of every regular expression that comes from a tokenizer document, in
// the regular-expression engine's time steps (10,000 matching steps each), per search for the
// next match, beyond the steps the search's text allows (Regex::kStepsPerCharacter). A real
// pattern's search takes a few steps per character it reads; a pattern with catastrophic
// backtracking (such as "(\w+)+$") reaches the limit within tens of milliseconds instead of
// running for minutes.
inline constexpr int kDocumentPatternTimeLimit = 50;

// Compiles a pattern from a tokenizer document with kDocumentPatternTimeLimit. Throws
// RegexError when it does not compile.
Regex documentPattern(std::string_view pattern);

// Throws TokenizerError::mismatchedConfig naming the pattern whose search failed: it ran past
// its time limit, or the engine could not finish it.
[[noreturn]] void throwSearchFailed(const RegexSearchError &error);

// Runs `search`, a regular-expression search of a tokenizer stage; a search that fails becomes
// TokenizerError::mismatchedConfig naming the pattern, the tokenizers' one error.
template <typename Search> auto tokenizerSearch(Search &&search) -> decltype(search()) {
  try {
    return search();
  } catch (const RegexSearchError &error) {
    throwSearchFailed(error);
  }
}

// What the splitting functions search for: a regular expression (ICU syntax) or a plain text.
//
// A plain text is searched character by character (grapheme clusters, compared by canonical
// equivalence: a decomposed "é" finds a precomposed one, and "e" is not found inside "é").
// An empty plain text occurs nowhere. Immutable; safe to share between threads.
class StringSplitPattern {
public:
  // Throws RegexError when the pattern does not compile. A pattern given as text is a document
  // pattern, with its time limit.
  static StringSplitPattern regexp(std::string_view pattern);
  static StringSplitPattern regexp(Regex regex);
  static StringSplitPattern string(std::string_view text);

  bool isRegexp() const { return std::holds_alternative<Regex>(pattern_); }
  // The regular expression or the plain text as given.
  const std::string &text() const;

  // Ranges of successive non-overlapping occurrences in `text`, left to right. Each search
  // starts at the end of the previous occurrence; after an empty occurrence (only a regular
  // expression has those) the next search starts one character further, so every search
  // finishes. Replaces the contents of `out`.
  void findAllRanges(std::string_view text, std::vector<TextRange> &out) const;
  std::vector<TextRange> findAllRanges(std::string_view text) const;

private:
  struct Literal {
    std::string text;
    std::vector<std::string> characters;           // the grapheme clusters of `text`
    std::vector<std::string> decomposedCharacters; // each of them in NFD
  };
  explicit StringSplitPattern(std::variant<Literal, Regex> pattern);

  std::variant<Literal, Regex> pattern_;
};

// How a split treats the delimiters it finds.
enum class SplitDelimiterMode {
  drop,             // delimiters are removed
  isolate,          // each delimiter is a piece of its own
  attachToPrevious, // each delimiter ends the piece before it
  attachToNext,     // each delimiter begins the piece after it
};

// Splits `text` at the occurrences of `delimiter`. Empty pieces are never produced, so an empty
// text gives no pieces. Pieces are appended to `out`.
//   "the-final--countdown" at "-": drop -> the, final, countdown; isolate -> the, -, final, -,
//   -, countdown; attachToPrevious -> the-, final-, -, countdown; attachToNext -> the, -final,
//   -, -countdown.
void splitByDelimiter(std::string_view text, const StringSplitPattern &delimiter,
                      SplitDelimiterMode mode, std::vector<std::string> &out);
std::vector<std::string> splitByDelimiter(std::string_view text,
                                          const StringSplitPattern &delimiter,
                                          SplitDelimiterMode mode);

// Splits `text` at the matches of `regex`: the text between matches is a piece when not
// empty, and each match contributes the text of its highest-numbered capture group that took
// part (the whole match when none did). A text without matches is its own only piece, also
// when empty. Used to cut added tokens out of a text: whitespace that the pattern consumes
// around the token's group is dropped.
std::vector<std::string> splitKeepingLastGroup(std::string_view text, const Regex &regex);

} // namespace deduve
