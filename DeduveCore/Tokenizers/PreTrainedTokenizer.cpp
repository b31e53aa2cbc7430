#include "DeduveCore/Tokenizers/PreTrainedTokenizer.hpp"

#include "platform/text/Excerpt.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "DeduveCore/Tokenizers/ConfigReading.hpp"
#include "DeduveCore/Tokenizers/StringReplacePattern.hpp"
#include "DeduveCore/Tokenizers/StringSplitting.hpp"
#include "DeduveCore/Tokenizers/TokenizerClasses.hpp"
#include "DeduveCore/Tokenizers/TokenizerError.hpp"

namespace deduve {

namespace {

// One matcher entry per added-token element that is a dictionary with a string content, in
// document order; an element without an integer id still cuts the text.
std::optional<AddedTokenMatcher> makeAddedTokenMatcher(const Config &addedTokens) {
  const auto *elements = config::array(addedTokens);
  if (elements == nullptr)
    return std::nullopt;
  std::vector<AddedTokenMatcher::Token> entries;
  for (const Config &element : *elements) {
    if (!config::isDictionary(element))
      continue;
    auto content = config::string(element["content"]);
    // An empty token would match between every two characters and cut the text into single
    // characters.
    if (!content || content->empty())
      continue;
    entries.push_back(AddedTokenMatcher::Token{
        std::move(*content), config::isTrue(element["lstrip"]), config::isTrue(element["rstrip"]),
        config::isTrue(element["singleWord"])});
  }
  if (entries.empty())
    return std::nullopt;
  return AddedTokenMatcher(std::move(entries));
}

} // namespace

PreTrainedTokenizer::PreTrainedTokenizer(const Config &tokenizerConfig, const Config &tokenizerData,
                                         bool strict) {
  const Config addedTokensValue = tokenizerData["addedTokens"];
  AddedTokens addedTokenIds;
  if (const auto *elements = config::array(addedTokensValue)) {
    for (const Config &element : *elements) {
      const auto id = config::integer(element["id"]);
      if (!id)
        continue;
      auto content = config::string(element["content"]);
      if (!content || content->empty())
        continue;
      if (config::isTrue(element["special"]))
        specialTokens_.insert_or_assign(*content, *id);
      addedTokenIds.insert_or_assign(std::move(*content), *id);
    }
  }
  addedTokenMatcher_ = makeAddedTokenMatcher(addedTokensValue);
  for (const auto &[content, id] : addedTokenIds)
    addedTokens_.insert(content);
  for (const auto &[content, id] : specialTokens_)
    specialTokenIds_.insert(id);

  const Config preTokenizerValue = tokenizerData["preTokenizer"];
  preTokenizer_ = makePreTokenizer(&preTokenizerValue);
  const Config normalizerValue = tokenizerData["normalizer"];
  normalizer_ = makeNormalizer(&normalizerValue);
  const Config postProcessorValue = tokenizerData["postProcessor"];
  postProcessor_ = makePostProcessor(&postProcessorValue);
  const Config decoderValue = tokenizerData["decoder"];
  decoder_ = makeDecoder(&decoderValue, addedTokens_);

  cleanUpTokenizationSpaces_ =
      config::boolean(tokenizerConfig["cleanUpTokenizationSpaces"]).value_or(true);
  tokenizerConfig_ = tokenizerConfig;
  model_ = makeTokenizingModel(tokenizerConfig, tokenizerData, addedTokenIds, strict);
}

std::vector<std::string> PreTrainedTokenizer::preTokenize(std::string_view text,
                                                          PreTokenizerOptions options) const {
  if (preTokenizer_ == nullptr)
    return {std::string(text)};
  return preTokenizer_->preTokenize(text, options);
}

std::vector<std::string> PreTrainedTokenizer::tokenize(std::string_view text) const {
  // An empty text has no tokens, even where a stage would add a marker to it (a Prepend
  // normalizer turns "" into "▁").
  if (text.empty())
    return {};
  std::vector<std::string> pieces;
  if (addedTokenMatcher_)
    addedTokenMatcher_->split(text, pieces);
  else
    pieces.emplace_back(text);

  std::vector<std::string> tokens;
  for (std::size_t index = 0; index < pieces.size(); ++index) {
    const std::string &piece = pieces[index];
    std::vector<std::string> pieceTokens;
    if (addedTokens_.contains(piece)) {
      pieceTokens.push_back(piece);
    } else {
      const std::string normalized = normalizer_ ? normalizer_->normalize(piece) : piece;
      const PreTokenizerOptions options =
          index == 0 ? PreTokenizerOptions{PreTokenizerOption::firstSection}
                     : PreTokenizerOptions{};
      for (const std::string &word : preTokenize(normalized, options))
        model_->tokenizeInto(word, pieceTokens);
    }
    // Runs of unknown tokens are fused within a piece, never across an added token.
    auto fused = fuseUnknown(std::move(pieceTokens));
    if (tokens.empty())
      tokens = std::move(fused);
    else
      std::move(fused.begin(), fused.end(), std::back_inserter(tokens));
  }
  return tokens;
}

std::vector<std::string> PreTrainedTokenizer::fuseUnknown(std::vector<std::string> tokens) const {
  if (!model_->fuseUnknownTokens())
    return tokens;
  const std::optional<TokenId> unknownId = model_->unknownTokenId();
  std::vector<std::string> fused;
  fused.reserve(tokens.size());
  bool previousUnknown = false;
  for (auto &token : tokens) {
    const bool unknown = model_->convertTokenToId(token) == unknownId;
    if (!unknown || !previousUnknown)
      fused.push_back(std::move(token));
    previousUnknown = unknown;
  }
  return fused;
}

std::vector<TokenId> PreTrainedTokenizer::encode(std::string_view text,
                                                 bool addSpecialTokens) const {
  std::vector<std::string> tokens = tokenize(text);
  if (postProcessor_)
    tokens = postProcessor_->postProcess(tokens, nullptr, addSpecialTokens);
  std::vector<TokenId> ids;
  ids.reserve(tokens.size());
  for (const auto &token : tokens) {
    const auto id = model_->convertTokenToId(token);
    if (!id)
      throw TokenizerError::mismatchedConfig("the token '" + platform::excerpt(token) +
                                             "' has no id and the vocabulary has no unknown "
                                             "token");
    ids.push_back(*id);
  }
  return ids;
}

std::string PreTrainedTokenizer::decode(const std::vector<TokenId> &tokens,
                                        bool skipSpecialTokens) const {
  std::vector<std::string> texts;
  texts.reserve(tokens.size());
  for (const TokenId id : tokens) {
    if (skipSpecialTokens && specialTokenIds_.contains(id))
      continue;
    if (auto token = model_->convertIdToToken(id))
      texts.push_back(std::move(*token));
  }
  if (decoder_)
    texts = decoder_->decode(texts);
  std::string joined;
  for (const auto &text : texts)
    joined += text;
  return cleanUp(joined);
}

std::string PreTrainedTokenizer::cleanUp(std::string_view text) const {
  if (!cleanUpTokenizationSpaces_)
    return std::string(text);
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 10> replacements{{
      {" .", "."},
      {" ?", "?"},
      {" !", "!"},
      {" ,", ","},
      {" ' ", "'"},
      {" n't", "n't"},
      {" 'm", "'m"},
      {" 's", "'s"},
      {" 've", "'ve"},
      {" 're", "'re"},
  }};
  std::string cleaned(text);
  for (const auto &[target, replacement] : replacements)
    cleaned = replaceOccurrences(cleaned, target, replacement);
  return cleaned;
}

std::optional<TokenId> PreTrainedTokenizer::convertTokenToId(std::string_view token) const {
  return model_->convertTokenToId(token);
}
std::optional<std::string> PreTrainedTokenizer::convertIdToToken(TokenId id) const {
  return model_->convertIdToToken(id);
}
std::optional<std::string> PreTrainedTokenizer::bosToken() const { return model_->bosToken(); }
std::optional<TokenId> PreTrainedTokenizer::bosTokenId() const { return model_->bosTokenId(); }
std::optional<std::string> PreTrainedTokenizer::eosToken() const { return model_->eosToken(); }
std::optional<TokenId> PreTrainedTokenizer::eosTokenId() const { return model_->eosTokenId(); }
std::optional<std::string> PreTrainedTokenizer::unknownToken() const {
  return model_->unknownToken();
}
std::optional<TokenId> PreTrainedTokenizer::unknownTokenId() const {
  return model_->unknownTokenId();
}

} // namespace deduve
