// Configuration and tokenizer documents from outside: parsed, built into a tokenizer and used.
// The seed corpus holds a document nested far past the parser's depth limit and stage patterns
// with catastrophic backtracking, so that a regression of either (a stack overflow, a search
// that runs for minutes) fails here.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/LlamaPreTrainedTokenizer.hpp"
#include "DeduveCore/Tokenizers/PreTrainedTokenizer.hpp"
#include "tests/fuzz/FuzzSupport.hpp"

namespace deduve {
namespace {

// Short texts for the mutants: every stage runs, and a backtracking pattern that a mutation
// produces stays cheap on them.
const std::vector<std::string> kShortTexts = {
    "Hello world",
    " \t\n<s> Hello<|endoftext|>wörld 👍🏽 서울은 12345 ",
    "aab",
    "",
};

// The seeds also get a long word, on which the corpus's backtracking patterns run into their
// time limit (without one, a single search runs for minutes).
const std::vector<std::string> kSeedTexts = {
    "Hello world",
    "Supercalifragilisticexpialidocious!",
    "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaac",
    " \t\n<s> Hello<|endoftext|>wörld 👍🏽 서울은 12345 ",
};

// The tokenizer class that fits the document's model, so that most mutants reach the model.
std::string configFor(const Config &data) {
  const auto type = data["model"]["type"].stringValue().value_or("BPE");
  if (type == "Unigram")
    return R"({"tokenizer_class": "T5Tokenizer", "eos_token": "</s>"})";
  if (type == "WordPiece")
    return R"({"tokenizer_class": "BertTokenizer", "do_lower_case": true})";
  return R"({"tokenizer_class": "GPT2Tokenizer", "unk_token": "<unk>", "bos_token": "<s>"})";
}

void useTokenizer(const Tokenizer &tokenizer, const std::vector<std::string> &texts) {
  for (const std::string &text : texts) {
    const std::vector<TokenId> ids = tokenizer.encode(text);
    (void)tokenizer.decode(ids, /*skipSpecialTokens=*/true);
    (void)tokenizer.tokenize(text);
  }
}

void parseAndUse(const std::string &input, const std::vector<std::string> &texts) {
  const Config document = Config::parse(input);
  (void)document.encode();
  if (document.kind() != Config::Kind::dictionary)
    return;
  const Config config = Config::parse(configFor(document));
  useTokenizer(PreTrainedTokenizer(config, document, /*strict=*/true), texts);
  // The same document read as a tokenizer configuration, with the Llama adaptation.
  const Config data =
      Config::parse(R"({"model": {"type": "BPE", "vocab": {"a": 0}, "merges": []}})");
  useTokenizer(LlamaPreTrainedTokenizer(document, data, /*strict=*/true), texts);
}

TEST(TokenizerJsonFuzz, SeedsAreAcceptedOrRefusedCleanly) {
  for (const std::string &seed : mqtest::fuzz::loadCorpus("tokenizer-json")) {
    try {
      parseAndUse(seed, kSeedTexts);
    } catch (const std::exception &) {
    }
  }
}

TEST(TokenizerJsonFuzz, MutantsAreAcceptedOrRefusedCleanly) {
  mqtest::fuzz::run("tokenizer-json", /*seed=*/1414, /*count=*/800,
                    [](const std::string &input) { parseAndUse(input, kShortTexts); });
}

} // namespace
} // namespace deduve
