#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DeduveCore/Tokenizers/StringReplacePattern.hpp"

namespace deduve {

class Config;

// A normalizer rewrites text before it is pre-tokenized: Unicode normalization forms,
// lower-casing, prefixing, replacements, and the clean-up rules of BERT-style and
// SentencePiece-style vocabularies.
//
// Every normalizer is built once by makeNormalizer from the document's "normalizer" object and
// is immutable afterwards: normalize may be called from several threads at once. Text is UTF-8
// in and out.
class Normalizer {
public:
  virtual ~Normalizer() = default;
  virtual std::string normalize(std::string_view text) const = 0;
  std::string operator()(std::string_view text) const { return normalize(text); }
};

// Builds the normalizer named by config["type"]:
//   "Sequence", "Prepend", "Replace", "Lowercase", "NFD", "NFC", "NFKD", "NFKC", "Bert",
//   "BertNormalizer", "Precompiled", "StripAccents", "Strip" (exact, case-sensitive).
// Returns null when `config` is null or its "type" is not a string (the tokenizer then has no
// normalizer). Throws StageConfigurationError with the fixed message for an unknown type
// ("Unsupported Normalizer type: <type>"), a Sequence without an array "normalizers"
// ("No normalizers in Sequence") or a Replace regular expression that does not compile
// ("Cannot build regexp from <pattern>").
std::unique_ptr<Normalizer> makeNormalizer(const Config *config);
inline std::unique_ptr<Normalizer> makeNormalizer(const Config &config) {
  return makeNormalizer(&config);
}

// The members of a Sequence, applied in order; members without a "type" are skipped.
class NormalizerSequence final : public Normalizer {
public:
  explicit NormalizerSequence(const Config &config);
  std::string normalize(std::string_view text) const override;
  const std::vector<std::unique_ptr<Normalizer>> &normalizers() const { return normalizers_; }

private:
  std::vector<std::unique_ptr<Normalizer>> normalizers_;
};

// "prepend" (default empty) put before every text, the empty text included.
class PrependNormalizer final : public Normalizer {
public:
  explicit PrependNormalizer(const Config &config);
  std::string normalize(std::string_view text) const override;

private:
  std::string prepend_;
};

// A StringReplacePattern applied to the whole text; without a usable pattern the text passes.
class ReplaceNormalizer final : public Normalizer {
public:
  explicit ReplaceNormalizer(const Config &config);
  std::string normalize(std::string_view text) const override;

private:
  std::optional<StringReplacePattern> pattern_;
};

// Full Unicode lower-case mapping, independent of locale.
class LowercaseNormalizer final : public Normalizer {
public:
  std::string normalize(std::string_view text) const override;
};

class NFDNormalizer final : public Normalizer {
public:
  std::string normalize(std::string_view text) const override;
};

class NFCNormalizer final : public Normalizer {
public:
  std::string normalize(std::string_view text) const override;
};

class NFKDNormalizer final : public Normalizer {
public:
  std::string normalize(std::string_view text) const override;
};

class NFKCNormalizer final : public Normalizer {
public:
  std::string normalize(std::string_view text) const override;
};

// BERT's clean-up, each step under its flag, in this order:
//   cleanText: tab, line feed and carriage return (CR LF as one) become one space; control,
//     format, surrogate, private-use and unassigned characters, U+0000 and U+FFFD are removed;
//   handleChineseChars: each CJK ideograph gets a space on both sides;
//   stripAccents: decomposition, then U+0300-U+036F removed (other marks stay);
//   lowercase: full lower-case mapping.
// Keys: "cleanText" (true), "handleChineseChars" (true), "stripAccents" (= lowercase),
// "lowercase" (true).
class BertNormalizer final : public Normalizer {
public:
  explicit BertNormalizer(const Config &config);
  std::string normalize(std::string_view text) const override;

  bool shouldCleanText() const { return shouldCleanText_; }
  bool shouldHandleChineseChars() const { return shouldHandleChineseChars_; }
  bool shouldStripAccents() const { return shouldStripAccents_; }
  bool shouldLowercase() const { return shouldLowercase_; }

private:
  bool shouldCleanText_ = true;
  bool shouldHandleChineseChars_ = true;
  bool shouldStripAccents_ = true;
  bool shouldLowercase_ = true;
};

// SentencePiece's fixed clean-up (the document's character map is not read): most controls are
// removed, line breaks, zero-width and a few marker characters become spaces, and the text is
// put in NFKC, except that the fullwidth tilde U+FF5E survives (runs of it collapse to one and
// leading or trailing ones are dropped).
class PrecompiledNormalizer final : public Normalizer {
public:
  std::string normalize(std::string_view text) const override;
};

// NFKC, as the tokenizer documents that name it expect (it does not remove combining marks).
class StripAccentsNormalizer final : public Normalizer {
public:
  std::string normalize(std::string_view text) const override;
};

// Removes leading ("stripLeft", default true) and trailing ("stripRight", default true)
// characters whose first scalar is Unicode White_Space.
class StripNormalizer final : public Normalizer {
public:
  explicit StripNormalizer(const Config &config);
  std::string normalize(std::string_view text) const override;

private:
  bool leftStrip_ = true;
  bool rightStrip_ = true;
};

} // namespace deduve
