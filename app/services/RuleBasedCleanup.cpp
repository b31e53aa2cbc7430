#include "app/services/RuleBasedCleanup.hpp"

#include "DeduveCore/Text/Regex.hpp"
#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Text/Utf8.hpp"
#include "app/support/TextTrimming.hpp"

#include <array>
#include <optional>
#include <vector>

namespace murmurquill {
namespace {

struct Rule {
  const char *pattern;
  const char *replacement;
};

constexpr std::array<Rule, 12> kSpokenPunctuationRules{{
    {"new paragraph", "\n\n"},
    {"new line", "\n"},
    {"open parenthesis|open paren", "("},
    {"close parenthesis|close paren", ")"},
    {"question mark", "?"},
    {"exclamation point|exclamation mark", "!"},
    {"full stop", "."},
    {"semicolon", ";"},
    {"colon", ":"},
    {"comma", ","},
    {"period", "."},
    {"dash", " \xE2\x80\x94 "},
}};

constexpr std::array<const char *, 6> kFillerWords{"uh-huh", "you know", "um", "uh", "hmm", "mhm"};

constexpr std::array<Rule, 6> kTidyRules{{
    {"\\s+([.,;:?!])", "$1"},
    {"\\.{2,}", "."},
    {",{2,}", ","},
    {"[,;]\\s*([.?!])", "$1"},
    {"^[,;]\\s*", ""},
    {"[^\\S\\n]+", " "},
}};

// A compiled expression and its replacement; an expression that does not compile is skipped.
struct Replacement {
  std::optional<deduve::Regex> regex;
  std::string replacement;

  void apply(std::string &text) const {
    if (regex) {
      text = regex->replaceAll(text, replacement);
    }
  }
};

Replacement compile(const std::string &pattern, std::string replacement, bool caseInsensitive) {
  Replacement compiled;
  compiled.replacement = std::move(replacement);
  try {
    compiled.regex.emplace(pattern, deduve::Regex::Options{.caseInsensitive = caseInsensitive});
  } catch (const deduve::RegexError &) {
    compiled.regex.reset();
  }
  return compiled;
}

const std::vector<Replacement> &spokenPunctuation() {
  static const std::vector<Replacement> rules = [] {
    std::vector<Replacement> out;
    for (const auto &rule : kSpokenPunctuationRules) {
      out.push_back(compile(std::string("\\b(") + rule.pattern + ")\\b",
                            deduve::Regex::escape(rule.replacement),
                            /*caseInsensitive=*/true));
    }
    return out;
  }();
  return rules;
}

const std::vector<Replacement> &fillerWords() {
  static const std::vector<Replacement> rules = [] {
    std::vector<Replacement> out;
    for (const char *word : kFillerWords) {
      out.push_back(compile("\\b" + deduve::Regex::escape(word) + "\\b,?\\s*", "",
                            /*caseInsensitive=*/true));
    }
    return out;
  }();
  return rules;
}

const std::vector<Replacement> &tidyRules() {
  static const std::vector<Replacement> rules = [] {
    std::vector<Replacement> out;
    for (const auto &rule : kTidyRules) {
      out.push_back(compile(rule.pattern, rule.replacement, /*caseInsensitive=*/false));
    }
    return out;
  }();
  return rules;
}

// Upper-cases the first character (grapheme cluster) when it is lower-case: it changes when
// upper-cased and not when lower-cased.
std::string capitalisedFirst(const std::string &text) {
  if (text.empty()) {
    return text;
  }
  const std::size_t firstEnd = deduve::nextGraphemeBoundary(text, 0);
  const std::string_view first(text.data(), firstEnd);
  const std::string upper = deduve::uppercase(first);
  if (upper == first || deduve::lowercase(first) != first) {
    return text;
  }
  return upper + text.substr(firstEnd);
}

} // namespace

std::string applySpokenPunctuation(std::string_view text) {
  std::string out(text);
  for (const auto &rule : spokenPunctuation()) {
    rule.apply(out);
  }
  return out;
}

std::string removeFillerWords(std::string_view text) {
  std::string out(text);
  for (const auto &rule : fillerWords()) {
    rule.apply(out);
  }
  return out;
}

std::string tidyPunctuation(std::string_view text) {
  std::string out(text);
  for (const auto &rule : tidyRules()) {
    rule.apply(out);
  }
  return capitalisedFirst(trimmingWhitespaceAndNewlines(out));
}

std::string ruleBasedCleanup(std::string_view text) {
  return tidyPunctuation(removeFillerWords(applySpokenPunctuation(text)));
}

} // namespace murmurquill
