#include "DeduveCore/Tokenizers/TokenizerClasses.hpp"

#include "platform/text/Excerpt.hpp"

#include <iostream>
#include <unordered_map>
#include <utility>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/BPETokenizer.hpp"
#include "DeduveCore/Tokenizers/BertTokenizer.hpp"
#include "DeduveCore/Tokenizers/ConfigReading.hpp"
#include "DeduveCore/Tokenizers/LlamaPreTrainedTokenizer.hpp"
#include "DeduveCore/Tokenizers/PreTrainedTokenizer.hpp"
#include "DeduveCore/Tokenizers/TokenizerError.hpp"
#include "DeduveCore/Tokenizers/UnigramTokenizer.hpp"

namespace deduve {

namespace {

using ModelConstructor = std::unique_ptr<TokenizingModel> (*)(const Config &, const Config &,
                                                              const AddedTokens &);

template <PreTrainedTokenizerModel Model>
std::unique_ptr<TokenizingModel> construct(const Config &tokenizerConfig,
                                           const Config &tokenizerData,
                                           const AddedTokens &addedTokens) {
  return std::make_unique<Model>(tokenizerConfig, tokenizerData, addedTokens);
}

const std::unordered_map<std::string_view, ModelConstructor> &modelClassTable() {
  static const std::unordered_map<std::string_view, ModelConstructor> table{
      {"BertTokenizer", &construct<BertTokenizer>},
      {"CodeGenTokenizer", &construct<BPETokenizer>},
      {"CodeLlamaTokenizer", &construct<BPETokenizer>},
      {"CohereTokenizer", &construct<BPETokenizer>},
      {"DistilbertTokenizer", &construct<BertTokenizer>},
      {"DistilBertTokenizer", &construct<BertTokenizer>},
      {"FalconTokenizer", &construct<BPETokenizer>},
      {"GemmaTokenizer", &construct<BPETokenizer>},
      {"GPT2Tokenizer", &construct<BPETokenizer>},
      {"LlamaTokenizer", &construct<BPETokenizer>},
      {"RobertaTokenizer", &construct<BPETokenizer>},
      {"T5Tokenizer", &construct<T5Tokenizer>},
      {"TokenizersBackend", &construct<BPETokenizer>},
      {"PreTrainedTokenizer", &construct<BPETokenizer>},
      {"Qwen2Tokenizer", &construct<BPETokenizer>},
      {"WhisperTokenizer", &construct<BPETokenizer>},
      {"XLMRobertaTokenizer", &construct<UnigramTokenizer>},
  };
  return table;
}

const std::unordered_map<std::string_view, TokenizerConstructor> &tokenizerClassTable() {
  static const std::unordered_map<std::string_view, TokenizerConstructor> table{
      {"LlamaTokenizer",
       [](const Config &tokenizerConfig, const Config &tokenizerData, bool strict) {
         return std::make_shared<LlamaPreTrainedTokenizer>(tokenizerConfig, tokenizerData, strict);
       }},
  };
  return table;
}

} // namespace

std::string withoutFast(std::string_view className) {
  std::string name(className);
  for (std::size_t at = name.find("Fast"); at != std::string::npos; at = name.find("Fast", at))
    name.erase(at, 4);
  return name;
}

std::optional<TokenizerConstructor> tokenizerClassNamed(std::string_view className) {
  const auto &table = tokenizerClassTable();
  const auto found = table.find(className);
  if (found == table.end())
    return std::nullopt;
  return found->second;
}

TokenizerConstructor tokenizerClassFor(const Config &tokenizerConfig) {
  if (const auto name = config::string(tokenizerConfig["tokenizerClass"]))
    if (auto constructor = tokenizerClassNamed(withoutFast(*name)))
      return *constructor;
  return [](const Config &tokenizerConfig, const Config &tokenizerData, bool strict) {
    return std::make_shared<PreTrainedTokenizer>(tokenizerConfig, tokenizerData, strict);
  };
}

std::unique_ptr<TokenizingModel> makeTokenizingModel(const Config &tokenizerConfig,
                                                     const Config &tokenizerData,
                                                     const AddedTokens &addedTokens, bool strict) {
  const auto className = config::string(tokenizerConfig["tokenizerClass"]);
  if (!className)
    throw TokenizerError::missingTokenizerClassInConfig();
  const std::string name = withoutFast(*className);
  const auto &table = modelClassTable();
  const auto found = table.find(name);
  if (found != table.end())
    return found->second(tokenizerConfig, tokenizerData, addedTokens);
  if (strict)
    throw TokenizerError::unsupportedTokenizer(platform::excerpt(name));
  std::cout << "Warning: Tokenizer model class " << platform::excerpt(name)
            << " is not registered, falling back to a standard BPE implementation." << std::endl;
  return construct<BPETokenizer>(tokenizerConfig, tokenizerData, addedTokens);
}

} // namespace deduve
