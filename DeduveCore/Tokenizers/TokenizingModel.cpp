#include "DeduveCore/Tokenizers/TokenizingModel.hpp"

#include <iterator>

#include "DeduveCore/Support/Config.hpp"

namespace deduve {

void TokenizingModel::tokenizeInto(std::string_view text, std::vector<std::string> &out) const {
  auto tokens = tokenize(text);
  std::move(tokens.begin(), tokens.end(), std::back_inserter(out));
}

std::optional<std::string> addedTokenContent(const Config &value) {
  if (auto text = value.stringValue())
    return text;
  return value["content"].stringValue();
}

std::optional<std::string> unknownTokenText(const Config &tokenizerConfig) {
  const Config unknown = tokenizerConfig["unkToken"];
  if (auto content = unknown["content"].stringValue())
    return content;
  return unknown.stringValue();
}

} // namespace deduve
