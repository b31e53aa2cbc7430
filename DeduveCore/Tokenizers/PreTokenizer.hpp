#pragma once

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DeduveCore/Text/Regex.hpp"
#include "DeduveCore/Tokenizers/StringSplitting.hpp"

namespace deduve {

class Config;

enum class PreTokenizerOption {
  // The text is the first section of the input (the part before the first added token).
  firstSection,
};

// The option's name as documents and logs spell it ("firstSection").
constexpr std::string_view rawValue(PreTokenizerOption option) {
  switch (option) {
  case PreTokenizerOption::firstSection:
    return "firstSection";
  }
  return {};
}

// A set of PreTokenizerOption, passed by value.
class PreTokenizerOptions {
public:
  constexpr PreTokenizerOptions() = default;
  constexpr PreTokenizerOptions(std::initializer_list<PreTokenizerOption> options) {
    for (const PreTokenizerOption option : options)
      insert(option);
  }
  constexpr bool contains(PreTokenizerOption option) const { return (bits_ & bit(option)) != 0; }
  constexpr void insert(PreTokenizerOption option) { bits_ |= bit(option); }
  constexpr bool empty() const { return bits_ == 0; }
  friend constexpr bool operator==(PreTokenizerOptions, PreTokenizerOptions) = default;

private:
  static constexpr unsigned bit(PreTokenizerOption option) {
    return 1u << static_cast<unsigned>(option);
  }
  unsigned bits_ = 0;
};

// A pre-tokenizer cuts one normalized text into the pieces that the tokenizer's model then
// encodes one by one. The tokenizer passes {firstSection} for the first section of a text and
// no option for every later section.
//
// Every pre-tokenizer is built once by makePreTokenizer from the document's "pre_tokenizer"
// object and is immutable afterwards: all calls may come from several threads at once. Text is
// UTF-8 in and out.
class PreTokenizer {
public:
  virtual ~PreTokenizer() = default;

  // Appends the pieces of `text` to `out` (existing contents are kept).
  virtual void preTokenizeInto(std::string_view text, PreTokenizerOptions options,
                               std::vector<std::string> &out) const = 0;

  std::vector<std::string> preTokenize(std::string_view text,
                                       PreTokenizerOptions options = {}) const;
  // The pieces of each text, concatenated in order.
  std::vector<std::string> preTokenize(const std::vector<std::string> &texts,
                                       PreTokenizerOptions options = {}) const;

  std::vector<std::string> operator()(std::string_view text,
                                      PreTokenizerOptions options = {}) const {
    return preTokenize(text, options);
  }
  std::vector<std::string> operator()(const std::vector<std::string> &texts,
                                      PreTokenizerOptions options = {}) const {
    return preTokenize(texts, options);
  }
};

// Builds the pre-tokenizer named by config["type"]:
//   "Sequence", "ByteLevel", "Punctuation", "Digits", "Split", "Whitespace",
//   "WhitespaceSplit", "Metaspace", "BertPreTokenizer" (exact, case-sensitive).
// Returns null when `config` is null or its "type" is not a string (the tokenizer then has no
// pre-tokenizer and each section is one piece). Throws StageConfigurationError for an unknown
// type ("Unsupported PreTokenizer type: <type>"), a Sequence without an array "pretokenizers"
// ("No pretokenizers in Sequence") or a Split regular expression that does not compile
// ("Cannot build regexp from <pattern>").
std::unique_ptr<PreTokenizer> makePreTokenizer(const Config *config);
inline std::unique_ptr<PreTokenizer> makePreTokenizer(const Config &config) {
  return makePreTokenizer(&config);
}

// Each member in order on the pieces of the one before; zero members leave the text whole.
class PreTokenizerSequence final : public PreTokenizer {
public:
  explicit PreTokenizerSequence(const Config &config);
  void preTokenizeInto(std::string_view text, PreTokenizerOptions options,
                       std::vector<std::string> &out) const override;
  const std::vector<std::unique_ptr<PreTokenizer>> &preTokenizers() const { return preTokenizers_; }

private:
  std::vector<std::unique_ptr<PreTokenizer>> preTokenizers_;
};

// GPT-2's byte-level splitting: the text is cut by kPattern (when "useRegex", default true),
// a space is put before every piece that lacks one (when "addPrefixSpace", default false: each
// piece, not only the first, as the vocabularies trained this way expect), and each piece's
// UTF-8 bytes are mapped through byteEncoder(). "trimOffsets" (default true) is kept but does
// not change the pieces.
class ByteLevelPreTokenizer final : public PreTokenizer {
public:
  static constexpr std::string_view kPattern =
      R"('s|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+)";

  explicit ByteLevelPreTokenizer(const Config &config);
  void preTokenizeInto(std::string_view text, PreTokenizerOptions options,
                       std::vector<std::string> &out) const override;

  bool addPrefixSpace() const { return addPrefixSpace_; }
  bool trimOffsets() const { return trimOffsets_; }
  bool useRegex() const { return useRegex_; }

  // The shared compiled kPattern.
  static const Regex &splitRegex();

  // The ranges of the successive matches of kPattern in `text`, exactly as splitRegex() finds
  // them, computed by a matcher written for this one pattern (several times faster than the
  // regular-expression engine). Replaces the contents of `out`.
  static void findPieces(std::string_view text, std::vector<TextRange> &out);

private:
  bool addPrefixSpace_ = false;
  bool trimOffsets_ = true;
  bool useRegex_ = true;
};

// The occurrences of one fixed pattern, in order; text between occurrences is dropped. Serves
// "Punctuation", "Digits", "Whitespace"/"WhitespaceSplit" and "BertPreTokenizer".
class RegexMatchPreTokenizer : public PreTokenizer {
public:
  void preTokenizeInto(std::string_view text, PreTokenizerOptions options,
                       std::vector<std::string> &out) const override;
  const std::string &pattern() const { return regex_.pattern(); }

protected:
  explicit RegexMatchPreTokenizer(std::string_view pattern);

private:
  Regex regex_;
};

// Runs of non-punctuation (spaces included) and runs of punctuation.
class PunctuationPreTokenizer final : public RegexMatchPreTokenizer {
public:
  static constexpr std::string_view kPattern =
      R"([^\p{P}\u0021-\u002F\u003A-\u0040\u005B-\u0060\u007B-\u007E]+|[\p{P}\u0021-\u002F\u003A-\u0040\u005B-\u0060\u007B-\u007E]+)";
  explicit PunctuationPreTokenizer(const Config &config);
};

// Runs of non-digits and runs of digits ("individualDigits", default false: single digits).
class DigitsPreTokenizer final : public RegexMatchPreTokenizer {
public:
  explicit DigitsPreTokenizer(const Config &config);
};

// Runs of non-white-space characters ("Whitespace" and "WhitespaceSplit" alike).
class WhitespacePreTokenizer final : public RegexMatchPreTokenizer {
public:
  explicit WhitespacePreTokenizer(const Config &config);
};

// Runs of characters that are neither space nor punctuation, and each punctuation character
// alone; spaces are dropped.
class BertPreTokenizer final : public RegexMatchPreTokenizer {
public:
  static constexpr std::string_view kPattern =
      R"([^\s\p{P}\u0021-\u002F\u003A-\u0040\u005B-\u0060\u007B-\u007E]+|[\p{P}\u0021-\u002F\u003A-\u0040\u005B-\u0060\u007B-\u007E])";
  explicit BertPreTokenizer(const Config &config);
};

// "pattern": {"String": s} splits at the plain text s, each occurrence a piece of its own
// ("invert" true drops the occurrences instead); {"Regex": r} splits at the matches of r, each
// match a piece of its own ("invert" has no effect there). Without a pattern the text is one
// piece. No piece is empty, and a pattern that matches the empty string still finishes.
class SplitPreTokenizer final : public PreTokenizer {
public:
  explicit SplitPreTokenizer(const Config &config);
  void preTokenizeInto(std::string_view text, PreTokenizerOptions options,
                       std::vector<std::string> &out) const override;

  const std::optional<StringSplitPattern> &pattern() const { return pattern_; }
  bool invert() const { return invert_; }

private:
  std::optional<StringSplitPattern> pattern_;
  bool invert_ = false;
};

// SentencePiece's word marking: every space becomes the replacement, a prefix replacement is
// added per the prepend scheme, and the text is cut before every replacement (the replacement
// is searched as plain text, so a replacement such as "." or "|" works).
//
// Documents written by current tools carry "prepend_scheme" (and "split") without
// "add_prefix_space": a prepend scheme given as a string decides the prefix on its own; only
// without one does "add_prefix_space" switch the prefix on (with the scheme `always`).
class MetaspacePreTokenizer final : public PreTokenizer {
public:
  enum class PrependScheme { first, never, always };
  // "first", "never", "always".
  static constexpr std::string_view rawValue(PrependScheme scheme) {
    switch (scheme) {
    case PrependScheme::first:
      return "first";
    case PrependScheme::never:
      return "never";
    case PrependScheme::always:
      return "always";
    }
    return {};
  }

  explicit MetaspacePreTokenizer(const Config &config);
  void preTokenizeInto(std::string_view text, PreTokenizerOptions options,
                       std::vector<std::string> &out) const override;

  bool addPrefixSpace() const { return addPrefixSpace_; }
  const std::string &replacement() const { return replacement_; }
  const std::string &stringReplacement() const { return stringReplacement_; }
  PrependScheme prependScheme() const { return prependScheme_; }
  bool split() const { return split_; }

private:
  bool addPrefixSpace_ = false;                         // "addPrefixSpace"
  std::string replacement_ = " ";                       // "replacement"
  std::string stringReplacement_ = " ";                 // "strRep", else the replacement
  PrependScheme prependScheme_ = PrependScheme::always; // "prependScheme"
  bool prepends_ = false; // the scheme when given as a string, else addPrefixSpace
  bool split_ = true;     // "split": cut before every replacement; false keeps one piece
  StringSplitPattern splitter_;
};

} // namespace deduve
