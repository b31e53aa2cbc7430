#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "DeduveCore/Text/Regex.hpp"
#include "DeduveCore/Tokenizers/StringReplacePattern.hpp"

namespace deduve {

class Config;

// A decoder rewrites the list of token texts of an id list on the way back to text: it undoes
// the byte-to-character mapping of byte-level vocabularies, strips word-piece prefixes, merges
// byte tokens into characters, turns marker characters into spaces, and so on. The tokenizer
// joins the returned texts with no separator.
//
// Every decoder is built once by makeDecoder from the document's "decoder" object and is
// immutable afterwards: decode may be called from several threads at once. Decoding never
// fails: ill-formed bytes become U+FFFD.
class Decoder {
public:
  virtual ~Decoder() = default;
  virtual std::vector<std::string> decode(const std::vector<std::string> &tokens) const = 0;
  std::vector<std::string> operator()(const std::vector<std::string> &tokens) const {
    return decode(tokens);
  }
};

// Builds the decoder named by config["type"]:
//   "Sequence", "WordPiece", "ByteLevel", "Replace", "ByteFallback", "Fuse", "Strip",
//   "Metaspace" (exact, case-sensitive).
// `addedTokens` is the tokenizer's set of added-token texts; only "ByteLevel" uses it (members
// of a Sequence get none). Returns null when `config` is null or its "type" is not a string.
// Throws StageConfigurationError with the fixed message for an unknown type
// ("Unsupported Decoder type: <type>"), a Sequence without an array "decoders"
// ("No decoders in Sequence"), a WordPiece without a string "prefix"
// ("Missing `prefix` configuration for WordPieceDecoder."), a Strip without "content", "start"
// or "stop" ("Incorrect StripDecoder configuration: can't parse `content`." and so on) and a
// Replace regular expression that does not compile ("Cannot build regexp from <pattern>").
std::unique_ptr<Decoder> makeDecoder(const Config *config,
                                     std::unordered_set<std::string> addedTokens = {});
inline std::unique_ptr<Decoder> makeDecoder(const Config &config,
                                            std::unordered_set<std::string> addedTokens = {}) {
  return makeDecoder(&config, std::move(addedTokens));
}

// The members in order, each on the output of the one before.
class DecoderSequence final : public Decoder {
public:
  explicit DecoderSequence(const Config &config);
  std::vector<std::string> decode(const std::vector<std::string> &tokens) const override;
  const std::vector<std::unique_ptr<Decoder>> &decoders() const { return decoders_; }

private:
  std::vector<std::unique_ptr<Decoder>> decoders_;
};

// Joins word pieces: a later token that starts with "prefix" loses it, any other later token
// gets a space in front. With "cleanup" (default false) spaces before punctuation and
// contractions are removed and " do not" becomes " don't", inside each text. An empty list
// gives an empty list.
class WordPieceDecoder final : public Decoder {
public:
  explicit WordPieceDecoder(const Config &config);
  std::vector<std::string> decode(const std::vector<std::string> &tokens) const override;

  const std::string &prefix() const { return prefix_; }
  bool cleanup() const { return cleanup_; }

private:
  std::string cleanUp(std::string text) const;

  std::string prefix_;
  bool cleanup_ = false;
  Regex re_;
};

// Undoes the byte-to-character mapping: each run of tokens between added tokens is joined,
// mapped back to bytes through byteDecoder() and decoded as UTF-8, ill-formed sequences
// becoming U+FFFD; added tokens pass unchanged as texts of their own. A character outside the
// table (which a byte-level vocabulary should not hold) keeps its own UTF-8 bytes.
class ByteLevelDecoder final : public Decoder {
public:
  explicit ByteLevelDecoder(std::unordered_set<std::string> addedTokens);
  std::vector<std::string> decode(const std::vector<std::string> &tokens) const override;
  const std::unordered_set<std::string> &addedTokens() const { return addedTokens_; }

private:
  std::unordered_set<std::string> addedTokens_;
};

// A StringReplacePattern applied to every token; without a usable pattern tokens pass.
class ReplaceDecoder final : public Decoder {
public:
  explicit ReplaceDecoder(const Config &config);
  std::vector<std::string> decode(const std::vector<std::string> &tokens) const override;

private:
  std::optional<StringReplacePattern> pattern_;
};

// Runs of byte tokens ("<0x41>": exactly "<0x", two hexadecimal digits, ">") become the UTF-8
// text of their bytes, ill-formed sequences U+FFFD; other tokens pass unchanged.
class ByteFallbackDecoder final : public Decoder {
public:
  std::vector<std::string> decode(const std::vector<std::string> &tokens) const override;
};

// All tokens joined into one text (one empty text for no tokens).
class FuseDecoder final : public Decoder {
public:
  std::vector<std::string> decode(const std::vector<std::string> &tokens) const override;
};

// From every token removes up to "start" leading and up to "stop" trailing "content"
// characters.
class StripDecoder final : public Decoder {
public:
  explicit StripDecoder(const Config &config);
  std::vector<std::string> decode(const std::vector<std::string> &tokens) const override;

private:
  std::string content_;
  long long start_ = 0;
  long long stop_ = 0;
};

// Every "replacement" (default "_") becomes a space; a leading space of the first text is
// removed when the encoder added one: when "prependScheme" is a string other than "never",
// or, without a scheme, when "addPrefixSpace" (default false) is on.
class MetaspaceDecoder final : public Decoder {
public:
  explicit MetaspaceDecoder(const Config &config);
  std::vector<std::string> decode(const std::vector<std::string> &tokens) const override;

  bool addPrefixSpace() const { return addPrefixSpace_; }
  const std::string &replacement() const { return replacement_; }

private:
  bool addPrefixSpace_ = false;
  std::string replacement_ = "_";
  bool removesPrefix_ = false;
};

} // namespace deduve
