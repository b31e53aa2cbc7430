#include "DeduveCore/Tokenizers/BertTokenizer.hpp"

#include <algorithm>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Text/Utf8.hpp"
#include "DeduveCore/Tokenizers/ConfigReading.hpp"
#include "DeduveCore/Tokenizers/TokenizerError.hpp"

namespace deduve {

namespace {

char32_t firstScalar(std::string_view character) {
  std::size_t offset = 0;
  return nextScalar(character, offset);
}

bool isChineseCharacter(char32_t scalar) {
  return (scalar >= 0x4E00 && scalar <= 0x9FFF) || (scalar >= 0x3400 && scalar <= 0x4DBF) ||
         (scalar >= 0x20000 && scalar <= 0x2A6DF) || (scalar >= 0x2A700 && scalar <= 0x2CEAF) ||
         (scalar >= 0xF900 && scalar <= 0xFAFF) || (scalar >= 0x2F800 && scalar <= 0x2FA1F);
}

// The white space that separates pieces: space separators and tab. Line breaks stay inside
// their piece.
bool isSeparator(char32_t scalar) { return scalar == U'\t' || isSpaceSeparator(scalar); }

bool isBertPunctuation(char32_t scalar) {
  return (scalar >= 0x21 && scalar <= 0x2F) || (scalar >= 0x3A && scalar <= 0x40) ||
         (scalar >= 0x5B && scalar <= 0x60) || (scalar >= 0x7B && scalar <= 0x7E) ||
         isPunctuation(scalar);
}

// Calls `onCharacter(view)` for every grapheme cluster of `text`.
template <typename OnCharacter> void forEachCharacter(std::string_view text, OnCharacter &&f) {
  std::vector<std::size_t> boundaries;
  graphemeBoundaries(text, boundaries);
  for (std::size_t i = 1; i < boundaries.size(); ++i)
    f(text.substr(boundaries[i - 1], boundaries[i] - boundaries[i - 1]));
}

} // namespace

const std::vector<std::string> &BasicTokenizer::neverSplit() {
  static const std::vector<std::string> pieces{"[UNK]", "[SEP]", "[PAD]", "[CLS]", "[MASK]"};
  return pieces;
}

std::vector<std::string> BasicTokenizer::tokenize(std::string_view text) const {
  // Marks are stripped without recomposing what the decomposition split: Hangul syllables stay
  // as the jamo the vocabularies hold.
  const std::string folded = doLowerCase_ ? stripDiacritics(text) : std::string(text);

  std::vector<std::string> pieces;
  std::string current;
  forEachCharacter(folded, [&](std::string_view character) {
    if (isSeparator(firstScalar(character))) {
      pieces.push_back(std::move(current));
      current.clear();
    } else {
      current.append(character);
    }
  });
  pieces.push_back(std::move(current));

  std::vector<std::string> words;
  for (const std::string &piece : pieces) {
    if (piece.empty())
      continue;
    const auto &kept = neverSplit();
    if (std::find(kept.begin(), kept.end(), piece) != kept.end()) {
      words.push_back(piece);
      continue;
    }
    const std::string cased = doLowerCase_ ? lowercase(piece) : piece;
    std::string run;
    forEachCharacter(cased, [&](std::string_view character) {
      if (isBertPunctuation(firstScalar(character))) {
        if (!run.empty())
          words.push_back(std::move(run));
        run.clear();
        words.emplace_back(character);
      } else {
        run.append(character);
      }
    });
    if (!run.empty())
      words.push_back(std::move(run));
  }
  return words;
}

void WordpieceTokenizer::tokenize(std::string_view word, std::vector<std::string> &out) const {
  if (word.empty())
    return;
  // Pieces are cut at Unicode scalars, as the vocabularies were built: decomposed Hangul is a
  // run of jamo that one grapheme cluster would hold together.
  std::vector<std::size_t> boundaries;
  scalarBoundaries(word, boundaries);
  const std::size_t count = boundaries.size() - 1;
  if (count > maxInputCharsPerWord) {
    out.emplace_back(unkToken);
    return;
  }
  const std::size_t firstPiece = out.size();
  std::string candidate;
  std::size_t start = 0;
  while (start < count) {
    std::size_t end = count;
    bool found = false;
    for (; end > start; --end) {
      candidate.assign(start > 0 ? "##" : "");
      candidate.append(word.substr(boundaries[start], boundaries[end] - boundaries[start]));
      if (vocab_->find(candidate) != vocab_->end()) {
        found = true;
        break;
      }
    }
    if (!found) {
      out.resize(firstPiece);
      out.emplace_back(unkToken);
      return;
    }
    out.push_back(candidate);
    start = end;
  }
}

BertTokenizer::BertTokenizer(const Config &tokenizerConfig, const Config &tokenizerData,
                             const AddedTokens &addedTokens) {
  const Config vocab = tokenizerData["model"]["vocab"];
  if (!config::isDictionary(vocab))
    throw TokenizerError::missingVocab();
  config::forEachMember(vocab, [&](std::string key, const Config &value) {
    if (const auto id = config::integer(value))
      vocab_.insert_or_assign(std::move(key), *id);
  });
  const Config addedTokensValue = tokenizerData["addedTokens"];
  if (const auto *added = config::array(addedTokensValue)) {
    for (const Config &element : *added) {
      const auto id = config::integer(element["id"]);
      auto content = config::string(element["content"]);
      if (id && content)
        vocab_.insert_or_assign(std::move(*content), *id);
    }
  }
  for (const auto &[content, id] : addedTokens)
    vocab_.insert_or_assign(content, id);

  basicTokenizer_ = BasicTokenizer(config::boolean(tokenizerConfig["doLowerCase"]).value_or(true));
  tokenizeChineseChars_ = config::boolean(tokenizerConfig["handleChineseChars"]).value_or(true);
  const auto idOf = [&](const std::optional<std::string> &token) -> std::optional<TokenId> {
    if (!token)
      return std::nullopt;
    const auto found = vocab_.find(*token);
    return found == vocab_.end() ? std::nullopt : std::optional(found->second);
  };
  special_.bosToken = config::string(tokenizerConfig["bosToken"]);
  special_.bosTokenId = idOf(special_.bosToken);
  special_.eosToken = config::string(tokenizerConfig["eosToken"]);
  special_.eosTokenId = idOf(special_.eosToken);
  special_.unknownToken = std::string(WordpieceTokenizer::unkToken);
  special_.unknownTokenId = idOf(special_.unknownToken);
  special_.fuseUnknownTokens = config::boolean(tokenizerConfig["fuseUnk"]).value_or(false);
  idsToTokens_.reserve(vocab_.size());
  for (const auto &[token, id] : vocab_)
    idsToTokens_.insert_or_assign(id, token);
}

std::vector<std::string> BertTokenizer::tokenize(std::string_view text) const {
  std::string spaced;
  if (tokenizeChineseChars_) {
    forEachCharacter(text, [&](std::string_view character) {
      if (isChineseCharacter(firstScalar(character))) {
        spaced.push_back(' ');
        spaced.append(character);
        spaced.push_back(' ');
      } else {
        spaced.append(character);
      }
    });
  } else {
    spaced.assign(text);
  }
  std::vector<std::string> pieces;
  for (const std::string &word : basicTokenizer_.tokenize(spaced))
    wordpieceTokenizer_.tokenize(word, pieces);
  return pieces;
}

std::optional<TokenId> BertTokenizer::convertTokenToId(std::string_view token) const {
  if (const auto found = vocab_.find(token); found != vocab_.end())
    return found->second;
  return special_.unknownTokenId;
}

std::optional<std::string> BertTokenizer::convertIdToToken(TokenId id) const {
  const auto found = idsToTokens_.find(id);
  if (found == idsToTokens_.end())
    return std::nullopt;
  return found->second;
}

} // namespace deduve
