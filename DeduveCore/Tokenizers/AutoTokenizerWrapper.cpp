#include "DeduveCore/Tokenizers/AutoTokenizerWrapper.hpp"

#include <memory>

#include "DeduveCore/Hub/HubApiWrapper.hpp"
#include "DeduveCore/Hub/LanguageModelConfigurationFromHub.hpp"
#include "DeduveCore/Tokenizers/PreTrainedTokenizer.hpp"
#include "DeduveCore/Tokenizers/TokenizerClasses.hpp"
#include "DeduveCore/Tokenizers/TokenizerError.hpp"

namespace deduve {

TokenizerWrapper AutoTokenizerWrapper::fromPretrained(const std::string &pretrained,
                                                      const HubApiWrapper &hubApi, bool strict) {
  const LanguageModelConfigurationFromHub configuration(pretrained, "main", hubApi);
  const auto tokenizerConfig = configuration.tokenizerConfig();
  if (!tokenizerConfig)
    throw TokenizerError::missingConfig();
  const Config tokenizerData = configuration.tokenizerData();
  const TokenizerConstructor construct = tokenizerClassFor(*tokenizerConfig);
  return TokenizerWrapper(construct(*tokenizerConfig, tokenizerData, strict));
}

TokenizerWrapper AutoTokenizerWrapper::fromModelFolder(const std::filesystem::path &modelFolder,
                                                       const HubApiWrapper &hubApi, bool strict) {
  const LanguageModelConfigurationFromHub configuration(modelFolder, hubApi);
  const auto tokenizerConfig = configuration.tokenizerConfig();
  if (!tokenizerConfig)
    throw TokenizerError::missingConfig();
  const Config tokenizerData = configuration.tokenizerData();
  return TokenizerWrapper(
      std::make_shared<PreTrainedTokenizer>(*tokenizerConfig, tokenizerData, strict));
}

} // namespace deduve
