#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace deduve {

// A half-open range of byte offsets into UTF-8 text.
struct TextRange {
  std::size_t begin = 0;
  std::size_t end = 0;

  std::size_t size() const { return end - begin; }
  bool empty() const { return begin == end; }
  std::string_view of(std::string_view text) const { return text.substr(begin, end - begin); }
  friend bool operator==(const TextRange &, const TextRange &) = default;
};

// One match: the whole match and each capture group (absent when the group took no part).
struct RegexMatch {
  TextRange range;
  std::vector<std::optional<TextRange>> groups; // index 0 is the whole match
};

// A pattern that ICU could not compile. what() names the pattern and ICU's reason.
class RegexError : public std::runtime_error {
public:
  RegexError(std::string pattern, const std::string &reason);
  const std::string &pattern() const { return pattern_; }

private:
  std::string pattern_;
};

// A search that ICU could not finish (its backtracking memory ran out, say). what() names the
// pattern and ICU's reason.
class RegexSearchError : public std::runtime_error {
public:
  RegexSearchError(std::string pattern, const std::string &what);
  const std::string &pattern() const { return pattern_; }

private:
  std::string pattern_;
};

// A search that ran past its pattern's time limit. what() names the pattern and the limit.
class RegexTimeLimitError : public RegexSearchError {
public:
  RegexTimeLimitError(std::string pattern, int limit);
};

// A compiled regular expression with ICU's syntax and semantics (\s, \b, \p{L}, \uhhhh escapes,
// case-insensitive matching), run over UTF-8 text. Ranges are byte offsets into the searched
// text and always fall on scalar boundaries.
//
// Immutable after construction and safe to use from several threads at once; copies share the
// compiled pattern. Each search allocates its own matcher.
class Regex {
public:
  struct Options {
    bool caseInsensitive = false;          // match letters regardless of case
    bool dotMatchesLineSeparators = false; // let "." match line breaks too
    // The most work one search for the next match may take, in ICU's time steps (10,000
    // matching steps each, a few milliseconds at most), on top of kStepsPerCharacter matching
    // steps per UTF-16 unit of the searched text; 0 for no limit. A search that runs past it
    // throws RegexTimeLimitError. Patterns from outside data get one, so that a pattern with
    // catastrophic backtracking cannot stall its caller, while a search whose work grows
    // linearly with its text never reaches it, however long the text.
    int timeLimit = 0;
  };

  // The matching steps a time-limited search may spend per UTF-16 unit of its text, beyond
  // its limit: well above what a linear pattern takes (a failed attempt that backtracks over a
  // run and a match of the same run, a handful of steps per character each).
  static constexpr int kStepsPerCharacter = 64;

  // Backtracking memory a search may use: ICU's default, plus room for a few saved states per
  // UTF-16 unit, so that a pattern that backtracks over a long run (such as "\s*" over a
  // megabyte of spaces) does not run out of it.
  static constexpr std::size_t kBaseStackBytes = 8 * 1024 * 1024;
  static constexpr std::size_t kStackBytesPerCharacter = 128;

  // Throws RegexError when the pattern does not compile. Every search may throw
  // RegexSearchError when ICU cannot finish it, RegexTimeLimitError when the options set a
  // time limit.
  explicit Regex(std::string_view pattern);
  Regex(std::string_view pattern, Options options);

  const std::string &pattern() const { return pattern_; }

  // The ranges of successive non-overlapping matches, left to right. Each search starts where
  // the previous match ended; after an empty match it starts one character (grapheme cluster)
  // further, so a pattern that can match the empty string still finishes in linear steps.
  // Replaces the contents of `out`.
  void findAll(std::string_view text, std::vector<TextRange> &out) const;
  std::vector<TextRange> findAll(std::string_view text) const;

  // The same matches with their capture groups.
  std::vector<RegexMatch> matches(std::string_view text) const;

  // Replaces every match with `replacementTemplate`, in which "$n" stands for group n (as many
  // digits as the largest group number has; an unknown group stands for itself), a group that
  // took no part expands to nothing, and a backslash takes the next character literally.
  std::string replaceAll(std::string_view text, std::string_view replacementTemplate) const;

  // The texts between matches, in order, empty ones included (n matches give n + 1 texts).
  std::vector<std::string> split(std::string_view text) const;

  // A pattern that matches `literal` exactly: every ASCII character that could have a meaning
  // in a pattern is escaped.
  static std::string escape(std::string_view literal);

  // A replacement template that produces `literal` exactly ("$" and "\" escaped).
  static std::string escapeTemplate(std::string_view literal);

private:
  struct Compiled;
  template <typename OnMatch> void forEachMatch(std::string_view text, OnMatch &&onMatch) const;

  std::string pattern_;
  std::shared_ptr<const Compiled> compiled_;
};

} // namespace deduve
