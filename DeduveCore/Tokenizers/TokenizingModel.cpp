#include "DeduveCore/Tokenizers/TokenizingModel.hpp"

#include "DeduveCore/Support/Config.hpp"

namespace deduve {

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
