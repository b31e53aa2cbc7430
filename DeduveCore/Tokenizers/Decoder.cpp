#include "DeduveCore/Tokenizers/Decoder.hpp"

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Text/Utf8.hpp"
#include "DeduveCore/Tokenizers/ByteEncoder.hpp"
#include "DeduveCore/Tokenizers/StageConfigurationError.hpp"
#include "DeduveCore/Tokenizers/StageFactory.hpp"
#include "DeduveCore/Tokenizers/StringSplitting.hpp"

namespace deduve {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// The byte of a token written "<0xHH>", if it is one.
std::optional<char> byteToken(std::string_view token) {
  if (token.size() != 6 || !token.starts_with("<0x") || token.back() != '>')
    return std::nullopt;
  const int high = hexValue(token[3]);
  const int low = hexValue(token[4]);
  if (high < 0 || low < 0)
    return std::nullopt;
  return static_cast<char>(high * 16 + low);
}

// Maps the characters of a run of byte-level tokens back to bytes and decodes those as UTF-8.
void appendByteLevelRun(std::string &out, std::string_view run) {
  std::string bytes;
  bytes.reserve(run.size());
  std::size_t offset = 0;
  while (offset < run.size()) {
    const std::size_t start = offset;
    const char32_t character = nextScalar(run, offset);
    if (const auto byte = byteForCharacter(character))
      bytes.push_back(static_cast<char>(*byte));
    else
      bytes.append(run.substr(start, offset - start)); // not a table character: kept as text
  }
  appendRepairedUtf8(out, bytes);
}

} // namespace

const stagefactory::TypeEntry<Decoder> kDecoderTypes[] = {
    {"Sequence", stagefactory::make<Decoder, DecoderSequence>},
    {"WordPiece", stagefactory::make<Decoder, WordPieceDecoder>},
    {"Replace", stagefactory::make<Decoder, ReplaceDecoder>},
    {"ByteFallback", stagefactory::make<Decoder, ByteFallbackDecoder>},
    {"Fuse", stagefactory::make<Decoder, FuseDecoder>},
    {"Strip", stagefactory::make<Decoder, StripDecoder>},
    {"Metaspace", stagefactory::make<Decoder, MetaspaceDecoder>},
};

std::unique_ptr<Decoder> makeDecoder(const Config *config,
                                     std::unordered_set<std::string> addedTokens) {
  // The byte-level decoder alone takes the tokenizer's added tokens, so it is not in the table.
  if (config != nullptr && (*config)["type"].stringValue() == "ByteLevel")
    return std::make_unique<ByteLevelDecoder>(std::move(addedTokens));
  return stagefactory::build(config, kDecoderTypes, "Decoder");
}

DecoderSequence::DecoderSequence(const Config &config)
    : decoders_(stagefactory::buildMembers<Decoder>(
          config, "decoders", "No decoders in Sequence",
          [](const Config &member) { return makeDecoder(&member); })) {}

std::vector<std::string> DecoderSequence::decode(const std::vector<std::string> &tokens) const {
  std::vector<std::string> current = tokens;
  for (const auto &decoder : decoders_)
    current = decoder->decode(current);
  return current;
}

WordPieceDecoder::WordPieceDecoder(const Config &config)
    : re_(R"(\s(\.|\?|\!|\,|'\s|n't|'m|'s|'ve|'re))") {
  std::optional<std::string> prefix = config["prefix"].stringValue();
  if (!prefix)
    throw StageConfigurationError("Missing `prefix` configuration for WordPieceDecoder.");
  prefix_ = std::move(*prefix);
  cleanup_ = config["cleanup"].boolValue().value_or(false);
}

std::string WordPieceDecoder::cleanUp(std::string text) const {
  return replaceOccurrences(tokenizerSearch([&] { return re_.replaceAll(text, "$1"); }),
                            " do not", " don't");
}

std::vector<std::string> WordPieceDecoder::decode(const std::vector<std::string> &tokens) const {
  std::vector<std::string> out;
  out.reserve(tokens.size());
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    std::string text;
    if (i == 0)
      text = tokens[i];
    else if (tokens[i].starts_with(prefix_))
      text = tokens[i].substr(prefix_.size());
    else
      text = " " + tokens[i];
    out.push_back(cleanup_ ? cleanUp(std::move(text)) : std::move(text));
  }
  return out;
}

ByteLevelDecoder::ByteLevelDecoder(std::unordered_set<std::string> addedTokens)
    : addedTokens_(std::move(addedTokens)) {}

std::vector<std::string> ByteLevelDecoder::decode(const std::vector<std::string> &tokens) const {
  std::vector<std::string> out;
  std::string run;
  const auto flush = [&] {
    if (run.empty())
      return;
    appendByteLevelRun(out.emplace_back(), run);
    run.clear();
  };
  for (const std::string &token : tokens) {
    if (addedTokens_.contains(token)) {
      flush();
      out.push_back(token);
    } else {
      run.append(token);
    }
  }
  flush();
  return out;
}

ReplaceDecoder::ReplaceDecoder(const Config &config)
    : pattern_(StringReplacePattern::fromConfig(config)) {}

std::vector<std::string> ReplaceDecoder::decode(const std::vector<std::string> &tokens) const {
  if (!pattern_)
    return tokens;
  std::vector<std::string> out;
  out.reserve(tokens.size());
  for (const std::string &token : tokens)
    out.push_back(pattern_->replace(token));
  return out;
}

std::vector<std::string> ByteFallbackDecoder::decode(const std::vector<std::string> &tokens) const {
  std::vector<std::string> out;
  std::string bytes;
  const auto flush = [&] {
    if (bytes.empty())
      return;
    appendRepairedUtf8(out.emplace_back(), bytes);
    bytes.clear();
  };
  for (const std::string &token : tokens) {
    if (const auto byte = byteToken(token)) {
      bytes.push_back(*byte);
    } else {
      flush();
      out.push_back(token);
    }
  }
  flush();
  return out;
}

std::vector<std::string> FuseDecoder::decode(const std::vector<std::string> &tokens) const {
  std::string joined;
  for (const std::string &token : tokens)
    joined.append(token);
  return {std::move(joined)};
}

StripDecoder::StripDecoder(const Config &config) {
  std::optional<std::string> content = config["content"].stringValue();
  if (!content)
    throw StageConfigurationError("Incorrect StripDecoder configuration: can't parse `content`.");
  const std::optional<std::int64_t> start = config["start"].integerValue();
  if (!start)
    throw StageConfigurationError("Incorrect StripDecoder configuration: can't parse `start`.");
  const std::optional<std::int64_t> stop = config["stop"].integerValue();
  if (!stop)
    throw StageConfigurationError("Incorrect StripDecoder configuration: can't parse `stop`.");
  content_ = std::move(*content);
  start_ = *start;
  stop_ = *stop;
}

std::vector<std::string> StripDecoder::decode(const std::vector<std::string> &tokens) const {
  std::vector<std::string> out;
  out.reserve(tokens.size());
  for (const std::string &token : tokens) {
    const std::vector<std::string_view> characters = graphemes(token);
    std::size_t first = 0;
    std::size_t last = characters.size();
    for (long long n = 0; n < start_ && first < last && characters[first] == content_; ++n)
      ++first;
    for (long long n = 0; n < stop_ && last > first && characters[last - 1] == content_; ++n)
      --last;
    std::string &text = out.emplace_back();
    for (std::size_t i = first; i < last; ++i)
      text.append(characters[i]);
  }
  return out;
}

MetaspaceDecoder::MetaspaceDecoder(const Config &config)
    : addPrefixSpace_(config["addPrefixSpace"].boolValue().value_or(false)),
      replacement_(config["replacement"].stringValue().value_or("_")) {
  const std::optional<std::string> scheme = config["prependScheme"].stringValue();
  removesPrefix_ = scheme ? *scheme != "never" : addPrefixSpace_;
}

std::vector<std::string> MetaspaceDecoder::decode(const std::vector<std::string> &tokens) const {
  std::vector<std::string> out;
  out.reserve(tokens.size());
  for (const std::string &token : tokens)
    out.push_back(replaceOccurrences(token, replacement_, " "));
  if (removesPrefix_ && !out.empty() && out.front().starts_with(' '))
    out.front().erase(0, 1);
  return out;
}

} // namespace deduve
