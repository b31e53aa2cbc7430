#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizerWrapper.hpp"

#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Text/Utf8.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "platform/system/NLLanguageRecognizer.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace divuvovize {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD"; // U+FFFD

std::vector<deduve::TokenId> toTokenIds(const std::vector<int> &tokens) {
  return {tokens.begin(), tokens.end()};
}

// True when `text` trimmed of white space is exactly one punctuation scalar.
bool isLonePunctuation(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  std::size_t offset = 0;
  // Find the first and last non-white-space scalars by walking once.
  bool seen = false;
  while (offset < text.size()) {
    const std::size_t start = offset;
    const char32_t scalar = deduve::nextScalar(text, offset);
    if (!deduve::isWhiteSpace(scalar)) {
      if (!seen) {
        begin = start;
        seen = true;
      }
      end = offset;
    }
  }
  if (!seen) {
    return false;
  }
  const std::string_view trimmed = text.substr(begin, end - begin);
  std::size_t position = 0;
  const char32_t first = deduve::nextScalar(trimmed, position);
  return position == trimmed.size() && deduve::isPunctuation(first);
}

} // namespace

WhisperTokenizerWrapper::WhisperTokenizerWrapper(
    deduve::TokenizerWrapper tokenizer, std::optional<std::filesystem::path> tokenizerFolder)
    : tokenizer_(std::move(tokenizer)), tokenizerFolder_(std::move(tokenizerFolder)) {
  const SpecialTokens defaults;
  auto resolve = [&](std::string_view text, int fallback) {
    return vocabularyId(text).value_or(fallback);
  };
  specialTokens_.endToken = resolve("<|endoftext|>", defaults.endToken);
  specialTokens_.englishToken = resolve("<|en|>", defaults.englishToken);
  specialTokens_.noSpeechToken = resolve("<|nospeech|>", defaults.noSpeechToken);
  specialTokens_.noTimestampsToken = resolve("<|notimestamps|>", defaults.noTimestampsToken);
  specialTokens_.specialTokenBegin = resolve("<|endoftext|>", defaults.specialTokenBegin);
  specialTokens_.startOfPreviousToken = resolve("<|startofprev|>", defaults.startOfPreviousToken);
  specialTokens_.startOfTranscriptToken =
      resolve("<|startoftranscript|>", defaults.startOfTranscriptToken);
  specialTokens_.timeTokenBegin = resolve("<|0.00|>", defaults.timeTokenBegin);
  specialTokens_.transcribeToken = resolve("<|transcribe|>", defaults.transcribeToken);
  specialTokens_.translateToken = resolve("<|translate|>", defaults.translateToken);
  specialTokens_.whitespaceToken = resolve(" ", defaults.whitespaceToken);

  for (const auto &[name, code] : Constants::languages()) {
    const auto id = vocabularyId("<|" + code + "|>");
    if (id && *id > specialTokens_.specialTokenBegin) {
      allLanguageTokens_.insert(*id);
    }
  }
}

std::vector<int> WhisperTokenizerWrapper::encode(std::string_view text) const {
  const auto ids = tokenizer_.encode(text);
  return {ids.begin(), ids.end()};
}

std::string WhisperTokenizerWrapper::decode(const std::vector<int> &tokens) const {
  return tokenizer_.decode(toTokenIds(tokens));
}

std::optional<int> WhisperTokenizerWrapper::convertTokenToId(std::string_view token) const {
  const auto id = tokenizer_.convertTokenToId(token);
  if (!id) {
    return std::nullopt;
  }
  return static_cast<int>(*id);
}

std::optional<std::string> WhisperTokenizerWrapper::convertIdToToken(int id) const {
  return tokenizer_.convertIdToToken(id);
}

std::optional<int> WhisperTokenizerWrapper::vocabularyId(std::string_view token) const {
  // The lookup answers unknown text with the unknown token's id, so an id only counts when it
  // names this very token.
  const auto id = tokenizer_.convertTokenToId(token);
  if (!id) {
    return std::nullopt;
  }
  const auto text = tokenizer_.convertIdToToken(*id);
  if (!text || *text != token) {
    return std::nullopt;
  }
  return static_cast<int>(*id);
}

std::optional<std::string> WhisperTokenizerWrapper::dominantLanguage(std::string_view text) const {
  return platform::NLLanguageRecognizer::dominantLanguage(text);
}

WordTokens WhisperTokenizerWrapper::splitToWordTokens(const std::vector<int> &tokenIds) const {
  std::vector<int> textTokens;
  textTokens.reserve(tokenIds.size());
  for (const int token : tokenIds) {
    if (token < specialTokens_.specialTokenBegin) {
      textTokens.push_back(token);
    }
  }
  const auto language = dominantLanguage(decode(textTokens));
  static constexpr std::array<std::string_view, 6> kUnspaced = {"zh", "ja", "th",
                                                                "lo", "my", "yue"};
  if (language && std::find(kUnspaced.begin(), kUnspaced.end(), *language) != kUnspaced.end()) {
    return splitTokensOnUnicode(tokenIds);
  }
  return splitTokensOnSpaces(tokenIds);
}

WordTokens WhisperTokenizerWrapper::splitTokensOnUnicode(const std::vector<int> &tokenIds) const {
  WordTokens result;
  if (tokenIds.empty()) {
    return result;
  }
  const std::string full = decode(tokenIds);
  std::size_t emittedBytes = 0; // where the current run's text starts in `full`
  std::vector<int> run;
  for (const int token : tokenIds) {
    run.push_back(token);
    std::string decoded = decode(run);
    const std::size_t replacement = decoded.find(kReplacementCharacter);
    bool complete = replacement == std::string::npos;
    if (!complete) {
      const std::size_t position = emittedBytes + replacement;
      complete = position < full.size() &&
                 full.compare(position, kReplacementCharacter.size(), kReplacementCharacter) == 0;
    }
    if (complete) {
      emittedBytes += decoded.size();
      result.words.push_back(std::move(decoded));
      result.wordTokens.push_back(std::move(run));
      run.clear();
    }
  }
  return result;
}

WordTokens WhisperTokenizerWrapper::splitTokensOnSpaces(const std::vector<int> &tokenIds) const {
  WordTokens pieces = splitTokensOnUnicode(tokenIds);
  WordTokens result;
  for (std::size_t i = 0; i < pieces.words.size(); ++i) {
    std::string &piece = pieces.words[i];
    std::vector<int> &ids = pieces.wordTokens[i];
    const bool special = !ids.empty() && ids.front() >= specialTokens_.specialTokenBegin;
    const bool withSpace = !piece.empty() && piece.front() == ' ';
    if (special || withSpace || isLonePunctuation(piece) || result.words.empty()) {
      result.words.push_back(std::move(piece));
      result.wordTokens.push_back(std::move(ids));
    } else {
      result.words.back() += piece;
      auto &last = result.wordTokens.back();
      last.insert(last.end(), ids.begin(), ids.end());
    }
  }
  return result;
}

} // namespace divuvovize
