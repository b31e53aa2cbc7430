#include "DeduveCore/Tokenizers/UnigramTokenizer.hpp"

#include <algorithm>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Tokenizers/ConfigReading.hpp"
#include "DeduveCore/Tokenizers/TokenLattice.hpp"
#include "DeduveCore/Tokenizers/TokenizerError.hpp"

namespace deduve {

UnigramTokenizer::UnigramTokenizer(const Config &tokenizerConfig, const Config &tokenizerData,
                                   const AddedTokens & /*addedTokens*/) {
  const Config model = tokenizerData["model"];
  const Config vocab = model["vocab"];
  const auto *entries = config::array(vocab);
  if (entries == nullptr)
    throw TokenizerError::missingVocab();

  vocab_.reserve(entries->size());
  for (const Config &entry : *entries) {
    const auto *parts = config::array(entry);
    if (parts == nullptr || parts->empty())
      throw TokenizerError::malformedVocab();
    auto piece = config::string((*parts)[0]);
    const auto score = config::number((*parts)[parts->size() - 1]);
    if (!piece || !score)
      throw TokenizerError::malformedVocab();
    vocab_.push_back(SentencePieceToken{std::move(*piece), *score});
  }

  minScore_ = 999;
  for (const auto &entry : vocab_)
    minScore_ = std::min(minScore_, entry.score);

  // The unknown id must name a vocabulary entry: the lattice gives its piece to every
  // character the vocabulary lacks.
  const auto unknownId = config::integer(model["unkId"]);
  if (!unknownId || *unknownId < 0 || static_cast<std::size_t>(*unknownId) >= vocab_.size())
    throw TokenizerError::malformedVocab();
  unknownTokenId_ = *unknownId;
  unknownPiece_ =
      SentencePieceToken{vocab_[static_cast<std::size_t>(*unknownId)].token, minScore_ - 10};

  tokensToIds_.reserve(vocab_.size());
  for (std::size_t id = 0; id < vocab_.size(); ++id)
    if (!tokensToIds_.try_emplace(vocab_[id].token, static_cast<TokenId>(id)).second)
      throw TokenizerError::malformedVocab();

  if (const auto found = tokensToIds_.find(" "); found != tokensToIds_.end())
    bosTokenId_ = found->second;
  eosToken_ = config::string(tokenizerConfig["eosToken"]);
  if (eosToken_)
    if (const auto found = tokensToIds_.find(*eosToken_); found != tokensToIds_.end())
      eosTokenId_ = found->second;

  for (const auto &entry : vocab_)
    trie_.insert(graphemes(entry.token));
}

std::vector<std::string> UnigramTokenizer::tokenize(std::string_view text) const {
  std::vector<std::size_t> boundaries;
  graphemeBoundaries(text, boundaries);
  const std::size_t count = boundaries.size() - 1;
  std::vector<std::string_view> characters;
  characters.reserve(count);
  for (std::size_t i = 1; i < boundaries.size(); ++i)
    characters.push_back(text.substr(boundaries[i - 1], boundaries[i] - boundaries[i - 1]));

  TokenLattice lattice(text, boundaries, bosTokenId_.value_or(0), eosTokenId_.value_or(0));
  for (std::size_t p = 0; p < count; ++p) {
    bool hasSingleCharacter = false;
    auto matches = trie_.commonPrefixSearch(characters.begin() + static_cast<std::ptrdiff_t>(p),
                                            characters.end());
    while (const auto *seq = matches.next()) {
      const std::size_t length = seq->size();
      const std::string_view piece =
          text.substr(boundaries[p], boundaries[p + length] - boundaries[p]);
      const auto id = tokensToIds_.find(piece);
      if (id == tokensToIds_.end())
        throw TokenizerError::mismatchedConfig("Token not in vocab: " + std::string(piece));
      lattice.insert(p, length, vocab_[static_cast<std::size_t>(id->second)].score, id->second);
      hasSingleCharacter = hasSingleCharacter || length == 1;
    }
    if (!hasSingleCharacter)
      lattice.insert(p, 1, unknownPiece_.score, unknownTokenId_);
  }
  return lattice.bestPathPieces();
}

std::optional<TokenId> UnigramTokenizer::convertTokenToId(std::string_view token) const {
  if (const auto found = tokensToIds_.find(token); found != tokensToIds_.end())
    return found->second;
  return unknownTokenId_;
}

std::optional<std::string> UnigramTokenizer::convertIdToToken(TokenId id) const {
  if (id < 0 || static_cast<std::size_t>(id) >= vocab_.size())
    return std::nullopt;
  return vocab_[static_cast<std::size_t>(id)].token;
}

} // namespace deduve
