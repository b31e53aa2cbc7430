#include "DeduveCore/Tokenizers/StringSplitting.hpp"

#include "platform/text/Excerpt.hpp"

#include <algorithm>

#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Tokenizers/TokenizerError.hpp"

namespace deduve {
namespace {

bool isAscii(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  return true;
}

} // namespace

Regex documentPattern(std::string_view pattern) {
  Regex::Options options;
  options.timeLimit = kDocumentPatternTimeLimit;
  return Regex(pattern, options);
}

void throwSearchFailed(const RegexSearchError &error) {
  if (dynamic_cast<const RegexTimeLimitError *>(&error) != nullptr)
    throw TokenizerError::mismatchedConfig("the regular expression \"" +
                                           platform::excerpt(error.pattern()) +
                                           "\" ran past its match time limit");
  throw TokenizerError::mismatchedConfig(platform::boundedMessage(error.what()));
}

StringSplitPattern::StringSplitPattern(std::variant<Literal, Regex> pattern)
    : pattern_(std::move(pattern)) {}

StringSplitPattern StringSplitPattern::regexp(std::string_view pattern) {
  return StringSplitPattern(documentPattern(pattern));
}

StringSplitPattern StringSplitPattern::regexp(Regex regex) {
  return StringSplitPattern(std::move(regex));
}

StringSplitPattern StringSplitPattern::string(std::string_view text) {
  Literal literal;
  literal.text = std::string(text);
  for (const std::string_view character : graphemes(text)) {
    literal.characters.emplace_back(character);
    literal.decomposedCharacters.push_back(normalize(character, NormalizationForm::nfd));
  }
  return StringSplitPattern(std::move(literal));
}

const std::string &StringSplitPattern::text() const {
  if (const auto *regex = std::get_if<Regex>(&pattern_))
    return regex->pattern();
  return std::get<Literal>(pattern_).text;
}

void StringSplitPattern::findAllRanges(std::string_view text, std::vector<TextRange> &out) const {
  if (const auto *regex = std::get_if<Regex>(&pattern_)) {
    tokenizerSearch([&] { regex->findAll(text, out); });
    return;
  }
  out.clear();
  const Literal &literal = std::get<Literal>(pattern_);
  const std::size_t count = literal.characters.size();
  if (count == 0 || text.empty())
    return;
  std::vector<std::size_t> boundaries;
  graphemeBoundaries(text, boundaries);
  const std::size_t characters = boundaries.size() - 1;
  // Characters are compared by their bytes first; only when those differ and one side is not
  // ASCII can the two still be canonically equivalent, which their decompositions decide.
  const auto equal = [&](std::size_t textIndex, std::size_t patternIndex) {
    const std::string_view character =
        text.substr(boundaries[textIndex], boundaries[textIndex + 1] - boundaries[textIndex]);
    const std::string &wanted = literal.characters[patternIndex];
    if (character == wanted)
      return true;
    if (isAscii(character) && isAscii(wanted))
      return false;
    return normalize(character, NormalizationForm::nfd) ==
           literal.decomposedCharacters[patternIndex];
  };
  std::size_t index = 0;
  while (index + count <= characters) {
    std::size_t matched = 0;
    while (matched < count && equal(index + matched, matched))
      ++matched;
    if (matched == count) {
      out.push_back({boundaries[index], boundaries[index + count]});
      index += count;
    } else {
      ++index;
    }
  }
}

std::vector<TextRange> StringSplitPattern::findAllRanges(std::string_view text) const {
  std::vector<TextRange> out;
  findAllRanges(text, out);
  return out;
}

void splitByDelimiter(std::string_view text, const StringSplitPattern &delimiter,
                      SplitDelimiterMode mode, std::vector<std::string> &out) {
  std::vector<TextRange> ranges;
  delimiter.findAllRanges(text, ranges);
  const auto appendPiece = [&](std::size_t begin, std::size_t end) {
    if (end > begin)
      out.emplace_back(text.substr(begin, end - begin));
  };
  std::size_t cut = 0;
  switch (mode) {
  case SplitDelimiterMode::drop:
  case SplitDelimiterMode::isolate:
    for (const TextRange &range : ranges) {
      appendPiece(cut, range.begin);
      if (mode == SplitDelimiterMode::isolate)
        appendPiece(range.begin, range.end);
      cut = range.end;
    }
    break;
  case SplitDelimiterMode::attachToPrevious:
    for (const TextRange &range : ranges) {
      appendPiece(cut, range.end);
      cut = range.end;
    }
    break;
  case SplitDelimiterMode::attachToNext:
    for (const TextRange &range : ranges) {
      appendPiece(cut, range.begin);
      cut = range.begin;
    }
    break;
  }
  appendPiece(cut, text.size());
}

std::vector<std::string> splitByDelimiter(std::string_view text,
                                          const StringSplitPattern &delimiter,
                                          SplitDelimiterMode mode) {
  std::vector<std::string> out;
  splitByDelimiter(text, delimiter, mode, out);
  return out;
}

std::vector<std::string> splitKeepingLastGroup(std::string_view text, const Regex &regex) {
  std::vector<std::string> out;
  std::size_t cut = 0;
  const auto matches = tokenizerSearch([&] { return regex.matches(text); });
  if (matches.empty()) {
    out.emplace_back(text);
    return out;
  }
  for (const RegexMatch &match : matches) {
    if (match.range.begin > cut)
      out.emplace_back(text.substr(cut, match.range.begin - cut));
    for (auto group = match.groups.rbegin(); group != match.groups.rend(); ++group) {
      if (*group) {
        if (!(*group)->empty()) // an empty match names no token
          out.emplace_back((*group)->of(text));
        break;
      }
    }
    cut = std::max(cut, match.range.end);
  }
  if (cut < text.size())
    out.emplace_back(text.substr(cut));
  return out;
}

} // namespace deduve
