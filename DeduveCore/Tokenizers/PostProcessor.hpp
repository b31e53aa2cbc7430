#pragma once

#include <memory>
#include <string>
#include <vector>

namespace deduve {

class Config;

// A post-processor adds the special tokens a model expects around an encoded sequence (start
// token, separators, end token) and joins a first and an optional second sequence. It works on
// token texts, before they are converted to ids: the "id" of a special token in a document is
// the token's text.
//
// Every post-processor is built once by makePostProcessor from the document's "post_processor"
// object and is immutable afterwards: postProcess may be called from several threads at once.
class PostProcessor {
public:
  virtual ~PostProcessor() = default;
  // `tokensPair` is the second sequence, null when there is none.
  virtual std::vector<std::string> postProcess(const std::vector<std::string> &tokens,
                                               const std::vector<std::string> *tokensPair,
                                               bool addSpecialTokens) const = 0;
  std::vector<std::string> postProcess(const std::vector<std::string> &tokens,
                                       bool addSpecialTokens = true) const {
    return postProcess(tokens, nullptr, addSpecialTokens);
  }
};

// Builds the post-processor named by config["type"]:
//   "TemplateProcessing", "ByteLevel", "RobertaProcessing", "BertProcessing", "Sequence"
//   (exact, case-sensitive).
// Returns null when `config` is null or its "type" is not a string. Throws
// StageConfigurationError with the fixed message for an unknown type
// ("Unsupported PostProcessor type: <type>") and for missing members ("Missing `single`
// processor configuration", "Missing `pair` processor configuration", "Missing `sep` processor
// configuration", "Missing `cls` processor configuration", "Missing `processors`
// configuration").
std::unique_ptr<PostProcessor> makePostProcessor(const Config *config);
std::unique_ptr<PostProcessor> makePostProcessor(const Config &config);

// Follows the document's "single" template, or "pair" when a second sequence is given: each
// {"SpecialToken": {"id": text}} adds that text (only with addSpecialTokens), each
// {"Sequence": {"id": "A"}} or {"Sequence": {"id": "B"}} adds the first or second sequence;
// anything else adds nothing.
class TemplateProcessing final : public PostProcessor {
public:
  explicit TemplateProcessing(const Config &config);
  using PostProcessor::postProcess;
  std::vector<std::string> postProcess(const std::vector<std::string> &tokens,
                                       const std::vector<std::string> *tokensPair,
                                       bool addSpecialTokens) const override;

private:
  // Template items, read once from the document. A special token is its text; a sequence is
  // 'A' or 'B'; items of any other shape were dropped when reading.
  struct Item {
    bool isSpecialToken = false;
    std::string specialToken;
    char sequence = 0;
  };
  std::vector<Item> single_;
  std::vector<Item> pair_;
};

// The first sequence unchanged (the second sequence and the flag are ignored).
class ByteLevelPostProcessor final : public PostProcessor {
public:
  using PostProcessor::postProcess;
  std::vector<std::string> postProcess(const std::vector<std::string> &tokens,
                                       const std::vector<std::string> *tokensPair,
                                       bool addSpecialTokens) const override;
};

// <s> A </s> [</s> B </s>], always with the special tokens (the flag is not consulted). With
// "trimOffsets" (default true) white space at the ends of every token is trimmed: down to one
// character per end with "addPrefixSpace" (default true), else entirely (spaces and tabs).
class RobertaProcessing final : public PostProcessor {
public:
  explicit RobertaProcessing(const Config &config);
  using PostProcessor::postProcess;
  std::vector<std::string> postProcess(const std::vector<std::string> &tokens,
                                       const std::vector<std::string> *tokensPair,
                                       bool addSpecialTokens) const override;

  const std::string &sep() const { return sep_; }
  const std::string &cls() const { return cls_; }
  bool trimOffset() const { return trimOffset_; }
  bool addPrefixSpace() const { return addPrefixSpace_; }

private:
  std::string trim(const std::string &token) const;

  std::string sep_;
  std::string cls_;
  bool trimOffset_ = true;
  bool addPrefixSpace_ = true;
};

// [CLS] A [SEP] [B [SEP]] with special tokens; A followed by B without.
class BertProcessing final : public PostProcessor {
public:
  explicit BertProcessing(const Config &config);
  using PostProcessor::postProcess;
  std::vector<std::string> postProcess(const std::vector<std::string> &tokens,
                                       const std::vector<std::string> *tokensPair,
                                       bool addSpecialTokens) const override;

  const std::string &sep() const { return sep_; }
  const std::string &cls() const { return cls_; }

private:
  std::string sep_;
  std::string cls_;
};

// The members in order: the first gets both sequences, each later one the previous output
// alone. No members: the first sequence unchanged.
class SequenceProcessing final : public PostProcessor {
public:
  explicit SequenceProcessing(const Config &config);
  using PostProcessor::postProcess;
  std::vector<std::string> postProcess(const std::vector<std::string> &tokens,
                                       const std::vector<std::string> *tokensPair,
                                       bool addSpecialTokens) const override;

private:
  std::vector<std::unique_ptr<PostProcessor>> processors_;
};

} // namespace deduve
