#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DeduveCore/Tokenizers/TokenizingModel.hpp"
#include "DeduveCore/Tokenizers/Trie.hpp"

namespace deduve {

// Unigram model over a vocabulary of scored pieces: a word is cut into the pieces whose scores
// add up highest (a Viterbi pass over the lattice of every vocabulary piece found at every
// character position). Positions are Unicode scalars, as the vocabularies were trained; the
// prefix tree compares them as characters (canonically equivalent spellings are equal), and a
// piece it finds in a spelling the vocabulary does not hold is refused with
// TokenizerError::mismatchedConfig("Token not in vocab: <piece>").
//
// Reads from the tokenizer data: model.vocab ([[piece, score], ...]), model.unk_id; from the
// configuration: eos_token. Immutable after construction; safe to use from several threads.
class UnigramTokenizer : public TokenizingModel {
public:
  struct SentencePieceToken {
    std::string token;
    float score = 0;
  };

  // Throws TokenizerError::missingVocab when model.vocab is not an array, and
  // TokenizerError::malformedVocab for an entry that is not [piece, ..., score], a missing or
  // non-integer unk_id, an unk_id outside the vocabulary, or a piece listed twice. The
  // added-token map is not used.
  UnigramTokenizer(const Config &tokenizerConfig, const Config &tokenizerData,
                   const AddedTokens &addedTokens);

  std::vector<std::string> tokenize(std::string_view text) const override;

  // The piece's id, or the unknown id for a text outside the vocabulary.
  std::optional<TokenId> convertTokenToId(std::string_view token) const override;
  // The piece of a vocabulary id; nothing for an id outside the vocabulary.
  std::optional<std::string> convertIdToToken(TokenId id) const override;

  const std::vector<SentencePieceToken> &vocab() const { return vocab_; }
  const SentencePieceToken &unknownPiece() const { return unknownPiece_; }
  // The smallest score of the vocabulary, at most 999.
  float minScore() const { return minScore_; }

private:
  std::vector<SentencePieceToken> vocab_;
  SentencePieceToken unknownPiece_;
  TokenId unknownTokenId_ = 0;
  float minScore_ = 999;
  TokenIdMap tokensToIds_;
  Trie<std::string> trie_; // elements are scalars in canonical composition
};

// The model the "T5Tokenizer" class names: the Unigram model unchanged.
class T5Tokenizer : public UnigramTokenizer {
public:
  using UnigramTokenizer::UnigramTokenizer;
};

} // namespace deduve
