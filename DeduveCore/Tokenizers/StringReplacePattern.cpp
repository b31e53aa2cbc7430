#include "DeduveCore/Tokenizers/StringReplacePattern.hpp"

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/StageConfigurationError.hpp"
#include "DeduveCore/Tokenizers/StringSplitting.hpp"

namespace deduve {

StringReplacePattern::StringReplacePattern(std::variant<Literal, Regex> pattern,
                                           std::string replacement)
    : pattern_(std::move(pattern)), replacement_(std::move(replacement)) {}

StringReplacePattern StringReplacePattern::string(std::string text, std::string replacement) {
  return StringReplacePattern(Literal{std::move(text)}, std::move(replacement));
}

StringReplacePattern StringReplacePattern::regexp(std::string_view pattern,
                                                  std::string replacement) {
  try {
    return StringReplacePattern(documentPattern(pattern), std::move(replacement));
  } catch (const RegexError &) {
    throw StageConfigurationError("Cannot build regexp from " + std::string(pattern));
  }
}

std::optional<StringReplacePattern> StringReplacePattern::fromConfig(const Config &config) {
  std::optional<std::string> content = config["content"].stringValue();
  if (!content)
    return std::nullopt;
  const Config pattern = config["pattern"];
  if (auto text = pattern["String"].stringValue())
    return string(std::move(*text), std::move(*content));
  if (auto regex = pattern["Regex"].stringValue())
    return regexp(*regex, std::move(*content));
  return std::nullopt;
}

std::string StringReplacePattern::replace(std::string_view text) const {
  if (const auto *regex = std::get_if<Regex>(&pattern_))
    return tokenizerSearch([&] { return regex->replaceAll(text, replacement_); });
  return replaceOccurrences(text, std::get<Literal>(pattern_).text, replacement_);
}

std::string replaceOccurrences(std::string_view text, std::string_view target,
                               std::string_view replacement) {
  if (target.empty())
    return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t found = text.find(target); found != std::string_view::npos;
       found = text.find(target, start)) {
    out.append(text.substr(start, found - start));
    out.append(replacement);
    start = found + target.size();
  }
  out.append(text.substr(start));
  return out;
}

} // namespace deduve
