#include "DeduveCore/Tokenizers/UnigramTokenizer.hpp"

#include "platform/text/Excerpt.hpp"

#include <algorithm>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Text/Utf8.hpp"
#include "DeduveCore/Tokenizers/ConfigReading.hpp"
#include "DeduveCore/Tokenizers/TokenLattice.hpp"
#include "DeduveCore/Tokenizers/TokenizerError.hpp"

namespace deduve {

namespace {

// The trie's element for one scalar: its canonical composition, so that canonically equivalent
// characters compare equal (U+2126 OHM SIGN finds a piece spelled with U+03A9).
void characterKey(std::string_view scalar, std::string &key) {
  if (scalar.size() == 1)
    key.assign(scalar);
  else
    key = normalize(scalar, NormalizationForm::nfc);
}

} // namespace

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

  special_.bosToken = " ";
  if (const auto found = tokensToIds_.find(" "); found != tokensToIds_.end())
    special_.bosTokenId = found->second;
  special_.eosToken = config::string(tokenizerConfig["eosToken"]);
  if (special_.eosToken)
    if (const auto found = tokensToIds_.find(*special_.eosToken); found != tokensToIds_.end())
      special_.eosTokenId = found->second;
  special_.unknownToken = unknownPiece_.token;
  special_.unknownTokenId = unknownTokenId_;
  special_.fuseUnknownTokens = true;

  std::vector<std::size_t> boundaries;
  std::vector<std::string> keys;
  for (const auto &entry : vocab_) {
    scalarBoundaries(entry.token, boundaries);
    keys.resize(boundaries.size() - 1);
    for (std::size_t i = 0; i + 1 < boundaries.size(); ++i)
      characterKey(
          std::string_view(entry.token).substr(boundaries[i], boundaries[i + 1] - boundaries[i]),
          keys[i]);
    trie_.insert(keys);
  }
}

std::vector<std::string> UnigramTokenizer::tokenize(std::string_view text) const {
  std::vector<std::size_t> boundaries;
  scalarBoundaries(text, boundaries);
  const std::size_t count = boundaries.size() - 1;
  std::vector<std::string> keys(count);
  for (std::size_t i = 0; i < count; ++i)
    characterKey(text.substr(boundaries[i], boundaries[i + 1] - boundaries[i]), keys[i]);

  TokenLattice lattice(text, boundaries, special_.bosTokenId.value_or(0),
                       special_.eosTokenId.value_or(0));
  for (std::size_t p = 0; p < count; ++p) {
    bool hasSingleCharacter = false;
    const TrieNode<std::string> *node = &trie_.root();
    for (std::size_t q = p; q < count; ++q) {
      const auto child = node->children.find(keys[q]);
      if (child == node->children.end())
        break;
      node = child->second.get();
      if (!node->isLeaf)
        continue;
      const std::size_t length = q + 1 - p;
      const std::string_view piece = text.substr(boundaries[p], boundaries[q + 1] - boundaries[p]);
      // The trie matches canonically equivalent spellings; the vocabulary holds one of them.
      const auto id = tokensToIds_.find(piece);
      if (id == tokensToIds_.end())
        throw TokenizerError::mismatchedConfig("Token not in vocab: " + platform::excerpt(piece));
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
