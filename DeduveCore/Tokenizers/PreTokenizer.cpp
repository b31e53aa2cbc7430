#include "DeduveCore/Tokenizers/PreTokenizer.hpp"

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/ByteEncoder.hpp"
#include "DeduveCore/Tokenizers/StageConfigurationError.hpp"
#include "DeduveCore/Tokenizers/StringReplacePattern.hpp"

namespace deduve {
namespace {

Regex compileSplitPattern(std::string_view pattern) {
  try {
    return Regex(pattern);
  } catch (const RegexError &) {
    throw StageConfigurationError("Cannot build regexp from " + std::string(pattern));
  }
}

std::optional<StringSplitPattern> readSplitPattern(const Config &config) {
  const Config pattern = config["pattern"];
  if (auto text = pattern["String"].stringValue())
    return StringSplitPattern::string(*text);
  if (auto regex = pattern["Regex"].stringValue())
    return StringSplitPattern::regexp(compileSplitPattern(*regex));
  return std::nullopt;
}

MetaspacePreTokenizer::PrependScheme readPrependScheme(const Config &config) {
  const std::optional<std::string> scheme = config["prependScheme"].stringValue();
  if (scheme == "first")
    return MetaspacePreTokenizer::PrependScheme::first;
  if (scheme == "never")
    return MetaspacePreTokenizer::PrependScheme::never;
  return MetaspacePreTokenizer::PrependScheme::always;
}

} // namespace

std::vector<std::string> PreTokenizer::preTokenize(std::string_view text,
                                                   PreTokenizerOptions options) const {
  std::vector<std::string> out;
  preTokenizeInto(text, options, out);
  return out;
}

std::vector<std::string> PreTokenizer::preTokenize(const std::vector<std::string> &texts,
                                                   PreTokenizerOptions options) const {
  std::vector<std::string> out;
  for (const std::string &text : texts)
    preTokenizeInto(text, options, out);
  return out;
}

std::unique_ptr<PreTokenizer> makePreTokenizer(const Config *config) {
  if (config == nullptr)
    return nullptr;
  const std::optional<std::string> type = (*config)["type"].stringValue();
  if (!type)
    return nullptr;
  if (*type == "Sequence")
    return std::make_unique<PreTokenizerSequence>(*config);
  if (*type == "ByteLevel")
    return std::make_unique<ByteLevelPreTokenizer>(*config);
  if (*type == "Punctuation")
    return std::make_unique<PunctuationPreTokenizer>(*config);
  if (*type == "Digits")
    return std::make_unique<DigitsPreTokenizer>(*config);
  if (*type == "Split")
    return std::make_unique<SplitPreTokenizer>(*config);
  if (*type == "Whitespace" || *type == "WhitespaceSplit")
    return std::make_unique<WhitespacePreTokenizer>(*config);
  if (*type == "Metaspace")
    return std::make_unique<MetaspacePreTokenizer>(*config);
  if (*type == "BertPreTokenizer")
    return std::make_unique<BertPreTokenizer>(*config);
  throw StageConfigurationError("Unsupported PreTokenizer type: " + *type);
}

PreTokenizerSequence::PreTokenizerSequence(const Config &config) {
  const Config members = config["pretokenizers"];
  const Config::Array *array = members.arrayValue();
  if (array == nullptr)
    throw StageConfigurationError("No pretokenizers in Sequence");
  for (const Config &member : *array)
    if (auto preTokenizer = makePreTokenizer(&member))
      preTokenizers_.push_back(std::move(preTokenizer));
}

void PreTokenizerSequence::preTokenizeInto(std::string_view text, PreTokenizerOptions options,
                                           std::vector<std::string> &out) const {
  std::vector<std::string> pieces{std::string(text)};
  std::vector<std::string> next;
  for (const auto &member : preTokenizers_) {
    next.clear();
    for (const std::string &piece : pieces)
      member->preTokenizeInto(piece, options, next);
    pieces.swap(next);
  }
  for (std::string &piece : pieces)
    out.push_back(std::move(piece));
}

ByteLevelPreTokenizer::ByteLevelPreTokenizer(const Config &config) {
  addPrefixSpace_ = config["addPrefixSpace"].boolValue().value_or(false);
  trimOffsets_ = config["trimOffsets"].boolValue().value_or(true);
  useRegex_ = config["useRegex"].boolValue().value_or(true);
}

const Regex &ByteLevelPreTokenizer::splitRegex() {
  static const Regex regex{kPattern};
  return regex;
}

void ByteLevelPreTokenizer::preTokenizeInto(std::string_view text, PreTokenizerOptions,
                                            std::vector<std::string> &out) const {
  thread_local std::vector<TextRange> ranges;
  if (useRegex_) {
    splitRegex().findAll(text, ranges);
  } else {
    ranges.assign(1, TextRange{0, text.size()});
  }
  for (const TextRange &range : ranges) {
    const std::string_view piece = range.of(text);
    std::string &encoded = out.emplace_back();
    // Every piece gets the space, not only the first: the vocabularies trained with this
    // option were built that way.
    const bool prefix = addPrefixSpace_ && (piece.empty() || piece.front() != ' ');
    encoded.reserve((piece.size() + (prefix ? 1 : 0)) * 2);
    if (prefix)
      appendByteLevel(encoded, " ");
    appendByteLevel(encoded, piece);
  }
}

RegexMatchPreTokenizer::RegexMatchPreTokenizer(std::string_view pattern) : regex_(pattern) {}

void RegexMatchPreTokenizer::preTokenizeInto(std::string_view text, PreTokenizerOptions,
                                             std::vector<std::string> &out) const {
  thread_local std::vector<TextRange> ranges;
  regex_.findAll(text, ranges);
  for (const TextRange &range : ranges)
    out.emplace_back(range.of(text));
}

PunctuationPreTokenizer::PunctuationPreTokenizer(const Config &)
    : RegexMatchPreTokenizer(kPattern) {}

DigitsPreTokenizer::DigitsPreTokenizer(const Config &config)
    : RegexMatchPreTokenizer(config["individualDigits"].boolValue().value_or(false)
                                 ? R"([^\d]+|\d)"
                                 : R"([^\d]+|\d+)") {}

WhitespacePreTokenizer::WhitespacePreTokenizer(const Config &) : RegexMatchPreTokenizer(R"(\S+)") {}

BertPreTokenizer::BertPreTokenizer(const Config &) : RegexMatchPreTokenizer(kPattern) {}

SplitPreTokenizer::SplitPreTokenizer(const Config &config)
    : pattern_(readSplitPattern(config)), invert_(config["invert"].boolValue().value_or(false)) {}

void SplitPreTokenizer::preTokenizeInto(std::string_view text, PreTokenizerOptions,
                                        std::vector<std::string> &out) const {
  if (!pattern_) {
    out.emplace_back(text);
    return;
  }
  // A plain-text delimiter is kept as a piece of its own unless inverted; a regular-expression
  // delimiter is always kept (documents written for this tokenizer family rely on it).
  const bool keepDelimiters = pattern_->isRegexp() || !invert_;
  splitByDelimiter(text, *pattern_,
                   keepDelimiters ? SplitDelimiterMode::isolate : SplitDelimiterMode::drop, out);
}

MetaspacePreTokenizer::MetaspacePreTokenizer(const Config &config)
    : addPrefixSpace_(config["addPrefixSpace"].boolValue().value_or(false)),
      replacement_(config["replacement"].stringValue().value_or(" ")),
      stringReplacement_(config["strRep"].stringValue().value_or(replacement_)),
      prependScheme_(readPrependScheme(config)),
      splitter_(StringSplitPattern::string(replacement_)) {}

void MetaspacePreTokenizer::preTokenizeInto(std::string_view text, PreTokenizerOptions options,
                                            std::vector<std::string> &out) const {
  const std::string replaced = replaceOccurrences(text, " ", stringReplacement_);
  bool prefix = false;
  if (addPrefixSpace_ && !replaced.starts_with(replacement_)) {
    prefix = prependScheme_ == PrependScheme::always ||
             (prependScheme_ == PrependScheme::first &&
              options.contains(PreTokenizerOption::firstSection));
  }
  const std::string marked = prefix ? stringReplacement_ + replaced : replaced;
  splitByDelimiter(marked, splitter_, SplitDelimiterMode::attachToNext, out);
}

} // namespace deduve
