#include "DeduveCore/Tokenizers/PreTokenizer.hpp"

#include <array>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Text/Utf8.hpp"
#include "DeduveCore/Tokenizers/ByteEncoder.hpp"
#include "DeduveCore/Tokenizers/StageConfigurationError.hpp"
#include "DeduveCore/Tokenizers/StageFactory.hpp"
#include "DeduveCore/Tokenizers/StringReplacePattern.hpp"

namespace deduve {
namespace {

Regex compileSplitPattern(std::string_view pattern) {
  try {
    return documentPattern(pattern);
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

// The classes that kPattern tells apart, with ICU's definitions: \s is White_Space, \p{L} and
// \p{N} are the general categories L* and N*. Everything else (marks, punctuation, symbols,
// controls that are not white space, U+FFFD standing for ill-formed bytes) is `other`.
enum class CharacterClass : unsigned char { space, letter, number, other };

CharacterClass classOf(char32_t scalar) {
  if (isWhiteSpace(scalar))
    return CharacterClass::space;
  if (isLetter(scalar))
    return CharacterClass::letter;
  if (isNumber(scalar))
    return CharacterClass::number;
  return CharacterClass::other;
}

// ASCII classes looked up once: most text is ASCII.
struct AsciiClasses {
  std::array<CharacterClass, 128> table{};
  AsciiClasses() {
    for (char32_t c = 0; c < 128; ++c)
      table[static_cast<std::size_t>(c)] = classOf(c);
  }
};

const AsciiClasses &asciiClasses() {
  static const AsciiClasses classes;
  return classes;
}

// The class of the scalar at `offset`, advancing `offset` past it.
inline CharacterClass nextClass(const AsciiClasses &ascii, std::string_view text,
                                std::size_t &offset) {
  const auto byte = static_cast<unsigned char>(text[offset]);
  if (byte < 0x80) {
    ++offset;
    return ascii.table[byte];
  }
  return classOf(nextScalar(text, offset));
}

// The end of the run of `wanted` characters that starts at `offset`.
std::size_t endOfRun(const AsciiClasses &ascii, std::string_view text, std::size_t offset,
                     CharacterClass wanted) {
  while (offset < text.size()) {
    std::size_t next = offset;
    if (nextClass(ascii, text, next) != wanted)
      break;
    offset = next;
  }
  return offset;
}

// The length of a contraction ('s 't 're 've 'm 'll 'd) at `offset`, or 0.
std::size_t contractionLength(std::string_view text, std::size_t offset) {
  const std::string_view rest = text.substr(offset);
  if (rest.size() < 2 || rest[0] != '\'')
    return 0;
  switch (rest[1]) {
  case 's':
  case 't':
  case 'm':
  case 'd':
    return 2;
  case 'r':
  case 'v':
    return rest.size() >= 3 && rest[2] == 'e' ? 3 : 0;
  case 'l':
    return rest.size() >= 3 && rest[2] == 'l' ? 3 : 0;
  default:
    return 0;
  }
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

const stagefactory::TypeEntry<PreTokenizer> kPreTokenizerTypes[] = {
    {"Sequence", stagefactory::make<PreTokenizer, PreTokenizerSequence>},
    {"ByteLevel", stagefactory::make<PreTokenizer, ByteLevelPreTokenizer>},
    {"Punctuation", stagefactory::make<PreTokenizer, PunctuationPreTokenizer>},
    {"Digits", stagefactory::make<PreTokenizer, DigitsPreTokenizer>},
    {"Split", stagefactory::make<PreTokenizer, SplitPreTokenizer>},
    {"Whitespace", stagefactory::make<PreTokenizer, WhitespacePreTokenizer>},
    {"WhitespaceSplit", stagefactory::make<PreTokenizer, WhitespacePreTokenizer>},
    {"Metaspace", stagefactory::make<PreTokenizer, MetaspacePreTokenizer>},
    {"BertPreTokenizer", stagefactory::make<PreTokenizer, BertPreTokenizer>},
};

std::unique_ptr<PreTokenizer> makePreTokenizer(const Config *config) {
  return stagefactory::build(config, kPreTokenizerTypes, "PreTokenizer");
}

PreTokenizerSequence::PreTokenizerSequence(const Config &config)
    : preTokenizers_(stagefactory::buildMembers<PreTokenizer>(
          config, "pretokenizers", "No pretokenizers in Sequence",
          [](const Config &member) { return makePreTokenizer(&member); })) {}

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

void ByteLevelPreTokenizer::findPieces(std::string_view text, std::vector<TextRange> &out) {
  // The alternatives of kPattern in their order. Every character can begin a match, so each
  // match starts where the previous one ended.
  out.clear();
  const AsciiClasses &ascii = asciiClasses();
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t start = position;
    if (const std::size_t length = contractionLength(text, start)) {
      position = start + length;
    } else {
      std::size_t next = start;
      CharacterClass first = nextClass(ascii, text, next);
      if (text[start] == ' ' && next < text.size()) {
        // " ?\p{L}+", " ?\p{N}+", " ?[^\s\p{L}\p{N}]+" take a leading space along.
        std::size_t after = next;
        const CharacterClass second = nextClass(ascii, text, after);
        if (second != CharacterClass::space) {
          first = second;
          next = after;
        }
      }
      if (first != CharacterClass::space) {
        position = endOfRun(ascii, text, next, first);
      } else {
        // "\s+(?!\S)" keeps the last white-space character of a run for the word after it
        // (when a run of two or more is followed by one); otherwise "\s+" takes the run.
        std::size_t lastStart = start;
        std::size_t end = next;
        while (end < text.size()) {
          std::size_t after = end;
          if (nextClass(ascii, text, after) != CharacterClass::space)
            break;
          lastStart = end;
          end = after;
        }
        position = (end < text.size() && lastStart > start) ? lastStart : end;
      }
    }
    out.push_back({start, position});
  }
}

void ByteLevelPreTokenizer::preTokenizeInto(std::string_view text, PreTokenizerOptions,
                                            std::vector<std::string> &out) const {
  thread_local std::vector<TextRange> ranges;
  if (useRegex_) {
    findPieces(text, ranges);
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
  tokenizerSearch([&] { regex_.findAll(text, ranges); });
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
      prepends_(config["prependScheme"].stringValue() ? prependScheme_ != PrependScheme::never
                                                      : addPrefixSpace_),
      split_(config["split"].boolValue().value_or(true)),
      splitter_(StringSplitPattern::string(replacement_)) {}

void MetaspacePreTokenizer::preTokenizeInto(std::string_view text, PreTokenizerOptions options,
                                            std::vector<std::string> &out) const {
  const std::string replaced = replaceOccurrences(text, " ", stringReplacement_);
  bool prefix = false;
  if (prepends_ && !replaced.starts_with(replacement_)) {
    prefix = prependScheme_ == PrependScheme::always ||
             (prependScheme_ == PrependScheme::first &&
              options.contains(PreTokenizerOption::firstSection));
  }
  std::string marked = prefix ? stringReplacement_ + replaced : replaced;
  if (!split_) {
    if (!marked.empty())
      out.push_back(std::move(marked));
    return;
  }
  splitByDelimiter(marked, splitter_, SplitDelimiterMode::attachToNext, out);
}

} // namespace deduve
