#include "DeduveCore/Tokenizers/LlamaPreTrainedTokenizer.hpp"

#include <utility>

#include "DeduveCore/Tokenizers/ConfigReading.hpp"
#include "DeduveCore/Tokenizers/PostProcessor.hpp"
#include "DeduveCore/Tokenizers/StringReplacePattern.hpp"
#include "DeduveCore/Tokenizers/TokenizerError.hpp"

namespace deduve {

namespace {

constexpr std::string_view kMetaspace = "\u2581";

bool legacyFrom(const Config &tokenizerConfig) {
  return config::boolean(tokenizerConfig["legacy"]).value_or(true);
}

Config specialTokenItem(const std::string &text, int typeId) {
  return Config::dictionary(
      {{"SpecialToken", Config::dictionary({{"id", Config(text)}, {"type_id", Config(typeId)}})}});
}

Config sequenceItem(const char *id, int typeId) {
  return Config::dictionary(
      {{"Sequence", Config::dictionary({{"id", Config(id)}, {"type_id", Config(typeId)}})}});
}

} // namespace

std::optional<Config>
LlamaPreTrainedTokenizer::updatePostProcessor(const Config &tokenizerConfig,
                                              const Config &postProcessorConfig) {
  const auto existing = makePostProcessor(&postProcessorConfig);
  if (existing && dynamic_cast<const TemplateProcessing *>(existing.get()) != nullptr)
    return std::nullopt;

  const bool addBos = config::isTrue(tokenizerConfig["addBosToken"]);
  const auto bos = addedTokenContent(tokenizerConfig["bosToken"]);
  if (addBos && !bos)
    throw TokenizerError::mismatchedConfig("add_bos_token is True but bos_token is nil");
  const bool addEos = config::isTrue(tokenizerConfig["addEosToken"]);
  const auto eos = addedTokenContent(tokenizerConfig["eosToken"]);
  if (addEos && !eos)
    throw TokenizerError::mismatchedConfig("add_eos_token is True but eos_token is nil");

  std::vector<Config> single;
  if (addBos)
    single.push_back(specialTokenItem(*bos, 0));
  single.push_back(sequenceItem("A", 0));
  if (addEos)
    single.push_back(specialTokenItem(*eos, 0));
  std::vector<Config> pair = single;
  if (addBos)
    pair.push_back(specialTokenItem(*bos, 1));
  pair.push_back(sequenceItem("B", 1));
  if (addEos)
    pair.push_back(specialTokenItem(*eos, 1));

  return Config::dictionary({{"type", Config("TemplateProcessing")},
                             {"single", Config::array(std::move(single))},
                             {"pair", Config::array(std::move(pair))}});
}

Config LlamaPreTrainedTokenizer::adaptedTokenizerData(const Config &tokenizerConfig,
                                                      const Config &tokenizerData) {
  std::vector<Config::Dictionary::Entry> entries;
  if (const auto *dictionary = tokenizerData.dictionaryValue())
    entries = dictionary->entries();

  if (!legacyFrom(tokenizerConfig)) {
    const BinaryDistinctString normalizerKey("normalizer");
    std::erase_if(entries, [&](const auto &entry) { return entry.first == normalizerKey; });
    entries.emplace_back("pre_tokenizer",
                         Config::dictionary({{"type", Config("Metaspace")},
                                             {"replacement", Config(kMetaspace)},
                                             {"add_prefix_space", Config(true)},
                                             {"prepend_scheme", Config("first")}}));
  }
  if (auto postProcessor = updatePostProcessor(tokenizerConfig, tokenizerData["postProcessor"]))
    entries.emplace_back("post_processor", std::move(*postProcessor));
  return Config(Config::Dictionary(std::move(entries)));
}

LlamaPreTrainedTokenizer::LlamaPreTrainedTokenizer(const Config &tokenizerConfig,
                                                   const Config &tokenizerData, bool strict)
    : PreTrainedTokenizer(tokenizerConfig, adaptedTokenizerData(tokenizerConfig, tokenizerData),
                          strict),
      isLegacy_(legacyFrom(tokenizerConfig)) {}

std::vector<std::string> LlamaPreTrainedTokenizer::tokenize(std::string_view text) const {
  if (isLegacy_ || text.empty())
    return PreTrainedTokenizer::tokenize(text);
  std::string marked(kMetaspace);
  marked += replaceOccurrences(text, kMetaspace, " ");
  auto tokens = PreTrainedTokenizer::tokenize(marked);
  if (tokens.size() > 1 && tokens[0] == kMetaspace && specialTokens().contains(tokens[1]))
    tokens.erase(tokens.begin());
  return tokens;
}

} // namespace deduve
