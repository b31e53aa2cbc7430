#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "DeduveCore/Text/Regex.hpp"

namespace deduve {

class Config;

// A pattern with its replacement, as the Replace normalizer and the Replace decoder read it
// from {"pattern": {"String": s} | {"Regex": r}, "content": replacement}.
//
// A `string` pattern is replaced literally; a `regexp` pattern replaces every match using the
// content as a template ("$1" expands to group 1). Immutable; safe to share between threads.
class StringReplacePattern {
public:
  struct Literal {
    std::string text;
  };

  // Reads "pattern" and "content" of `config`. Absent when "content" is not a string or
  // "pattern" holds neither a string "String" nor a string "Regex". Throws
  // StageConfigurationError("Cannot build regexp from <pattern>") when the regular expression
  // does not compile.
  static std::optional<StringReplacePattern> fromConfig(const Config &config);

  static StringReplacePattern string(std::string text, std::string replacement);
  // Throws StageConfigurationError as fromConfig does.
  static StringReplacePattern regexp(std::string_view pattern, std::string replacement);

  bool isRegexp() const { return std::holds_alternative<Regex>(pattern_); }
  const std::string &replacement() const { return replacement_; }

  // Every occurrence (every match, for a regexp) in `text` replaced.
  std::string replace(std::string_view text) const;

private:
  StringReplacePattern(std::variant<Literal, Regex> pattern, std::string replacement);

  std::variant<Literal, Regex> pattern_;
  std::string replacement_;
};

// Every occurrence of `target` in `text` replaced by `replacement`, compared byte for byte,
// left to right without overlaps. An empty target leaves the text unchanged.
std::string replaceOccurrences(std::string_view text, std::string_view target,
                               std::string_view replacement);

} // namespace deduve
