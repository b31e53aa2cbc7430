#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DeduveCore/Tokenizers/PreTrainedTokenizer.hpp"
#include "DeduveCore/Tokenizers/TokenizerError.hpp"
#include "tests/DeduveCore/Tokenizers/TokenizerTestSupport.hpp"

namespace deduve {
namespace {

using mqtest::doc;
using Strings = std::vector<std::string>;
using Ids = std::vector<TokenId>;

// A byte-pair tokenizer without pre-tokenizer whose vocabulary holds the letters, "hello" and
// "world"; `addedTokens` is the JSON array of its added tokens.
PreTrainedTokenizer letters(const std::string &addedTokens,
                            const std::string &config = R"({"tokenizer_class": "GPT2Tokenizer"})",
                            const std::string &extra = "") {
  const std::string data = R"({"added_tokens": )" + addedTokens + extra + R"(,
    "model": {"type": "BPE",
      "vocab": {"<unk>": 0, "h": 1, "e": 2, "l": 3, "o": 4, "w": 5, "r": 6, "d": 7, " ": 8,
                "he": 9, "ll": 10, "hell": 11, "hello": 12, "wo": 13, "wor": 14, "worl": 15,
                "world": 16, "x": 17, "<|a|>": 20, "<|ab|>": 21, "<|s|>": 22},
      "merges": ["h e", "l l", "he ll", "hell o", "w o", "wo r", "wor l", "worl d"]}})";
  return PreTrainedTokenizer(doc(config), doc(data), /*strict=*/true);
}

TEST(PreTrainedTokenizer, WithoutAddedTokensTheTextStaysWhole) {
  // An empty added-token pattern would match between every two characters and cut "hello"
  // into letters before the model could merge them.
  for (const char *added : {"[]", "null", R"([{"id": 3}])"}) {
    SCOPED_TRACE(added);
    const auto tokenizer = letters(added);
    EXPECT_EQ(tokenizer.addedTokenMatcher(), nullptr);
    EXPECT_EQ(tokenizer.tokenize("hello"), (Strings{"hello"}));
    EXPECT_EQ(tokenizer.encode("helloworld"), (Ids{12, 16}));
  }
}

TEST(PreTrainedTokenizer, CutsAddedTokensOutLongestFirst) {
  const auto tokenizer =
      letters(R"([{"id": 20, "content": "<|a|>"}, {"id": 21, "content": "<|ab|>"},
                                     {"id": 22, "content": "<|s|>", "lstrip": true, "rstrip": true},
                                     {"content": "xx"}])",
              R"({"tokenizer_class": "GPT2Tokenizer"})",
              R"(, "normalizer": {"type": "Replace", "pattern": {"String": " "},
                                                    "content": "x"})");
  struct Case {
    const char *text;
    Strings tokens;
  };
  const Case cases[] = {
      {"hello<|ab|>world", {"hello", "<|ab|>", "world"}},
      {"<|a|><|ab|>", {"<|a|>", "<|ab|>"}},
      // Spaces become "x" in the normalizer; the white space that lstrip/rstrip consume reaches
      // no stage.
      {"hello  <|s|>\t world", {"hello", "<|s|>", "world"}},
      {"hello <|a|> world", {"hello", "x", "<|a|>", "x", "world"}},
      // "xx" is in the pattern but has no id: its piece goes through the model.
      {"helloxxhello", {"hello", "x", "x", "hello"}},
      {"", {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(tokenizer.tokenize(c.text), c.tokens);
  }
  EXPECT_TRUE(tokenizer.addedTokens().contains("<|s|>"));
  EXPECT_FALSE(tokenizer.addedTokens().contains("xx"));
}

TEST(PreTrainedTokenizer, EmptyTextHasNoTokens) {
  // The Prepend normalizer turns "" into its marker; the tokenizer must not encode that.
  const auto tokenizer = letters("[]", R"({"tokenizer_class": "GPT2Tokenizer"})",
                                 R"(, "normalizer": {"type": "Prepend", "prepend": "x"})");
  EXPECT_EQ(tokenizer.tokenize(""), Strings{});
  EXPECT_EQ(tokenizer.encode("", /*addSpecialTokens=*/false), Ids{});
  EXPECT_EQ(tokenizer.tokenize("hello"), (Strings{"x", "hello"}));
}

TEST(PreTrainedTokenizer, AddedTokenWithEmptyContentIsIgnored) {
  // An empty alternative would match between every two characters.
  const auto tokenizer = letters(R"([{"id": 20, "content": ""}, {"id": 21, "content": "<|ab|>"}])");
  EXPECT_EQ(tokenizer.tokenize("helloworld"), (Strings{"hello", "world"}));
  EXPECT_EQ(tokenizer.tokenize("hello<|ab|>world"), (Strings{"hello", "<|ab|>", "world"}));
  EXPECT_FALSE(tokenizer.addedTokens().contains(""));
  const auto onlyEmpty = letters(R"([{"id": 20, "content": "", "special": true}])");
  EXPECT_EQ(onlyEmpty.addedTokenMatcher(), nullptr);
  EXPECT_EQ(onlyEmpty.encode("helloworld"), (Ids{12, 16}));
  EXPECT_TRUE(onlyEmpty.specialTokens().empty());
}

TEST(PreTrainedTokenizer, MetaspacePrependSchemeWithoutAddPrefixSpace) {
  // As current tools write SentencePiece-style files: a prepend scheme, no add_prefix_space.
  const std::string metaspace =
      R"({"type": "Metaspace", "replacement": "▁", "prepend_scheme": "always", "split": true})";
  const PreTrainedTokenizer tokenizer(
      doc(R"({"tokenizer_class": "T5Tokenizer"})"),
      doc(R"({"pre_tokenizer": )" + metaspace + R"(, "decoder": )" + metaspace + R"(,
              "model": {"type": "Unigram", "unk_id": 0,
                        "vocab": [["<unk>", 0], ["▁GNU", -1], ["▁G", -2], ["G", -3],
                                  ["N", -3], ["U", -3], ["▁", -3]]}})"),
      /*strict=*/true);
  EXPECT_EQ(tokenizer.tokenize("GNU G"), (Strings{"▁GNU", "▁G"}));
  const Ids ids = tokenizer.encode("GNU G");
  EXPECT_EQ(ids, (Ids{1, 2}));
  EXPECT_EQ(tokenizer.decode(ids), "GNU G");
}

TEST(PreTrainedTokenizer, AddedTokensSkipNormalizerAndPreTokenizer) {
  const auto tokenizer =
      letters(R"([{"id": 20, "content": "<|a|>"}])", R"({"tokenizer_class": "GPT2Tokenizer"})",
              R"(, "normalizer": {"type": "Lowercase"},
         "pre_tokenizer": {"type": "Metaspace", "replacement": "x", "add_prefix_space": true,
                            "prepend_scheme": "first"})");
  // Only the first section gets the prefix; the added token is neither lower-cased nor split.
  EXPECT_EQ(tokenizer.tokenize("HELLO<|a|>HELLO"), (Strings{"x", "hello", "<|a|>", "hello"}));
}

TEST(PreTrainedTokenizer, EncodeRefusesTokensWithoutId) {
  const PreTrainedTokenizer tokenizer(doc(R"({"tokenizer_class": "BertTokenizer"})"),
                                      doc(R"({"model": {"vocab": {"a": 1}}})"), /*strict=*/true);
  EXPECT_EQ(tokenizer.encode("a"), (Ids{1}));
  try {
    tokenizer.encode("a b");
    FAIL() << "no error";
  } catch (const TokenizerError &error) {
    EXPECT_EQ(error.kind(), TokenizerError::Kind::mismatchedConfig);
    EXPECT_NE(std::string(error.what()).find("[UNK]"), std::string::npos);
  }
}

TEST(PreTrainedTokenizer, DecodeSkipsOnlySpecialTokensAndDropsUnknownIds) {
  const auto tokenizer = letters(R"([{"id": 20, "content": "<|a|>", "special": true},
                                     {"id": 21, "content": "<|ab|>", "special": false}])");
  EXPECT_EQ(tokenizer.decode({12, 20, 21, 999, 16}), "hello<|a|><|ab|>world");
  EXPECT_EQ(tokenizer.decode({12, 20, 21, 999, 16}, /*skipSpecialTokens=*/true),
            "hello<|ab|>world");
  EXPECT_EQ(tokenizer.specialTokens().size(), 1u);
}

TEST(PreTrainedTokenizer, CleanUpFollowsTheConfiguration) {
  struct Case {
    const char *config;
    bool cleanUp;
  };
  const Case cases[] = {
      {R"({"tokenizer_class": "GPT2Tokenizer"})", true},
      {R"({"tokenizer_class": "GPT2Tokenizer", "clean_up_tokenization_spaces": "false"})", false},
      {R"({"tokenizer_class": "GPT2Tokenizer", "clean_up_tokenization_spaces": "yes"})", true},
      {R"({"tokenizer_class": "GPT2Tokenizer", "clean_up_tokenization_spaces": false})", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.config);
    const auto tokenizer = letters("[]", c.config);
    EXPECT_EQ(tokenizer.cleanUpTokenizationSpaces(), c.cleanUp);
    EXPECT_EQ(tokenizer.cleanUp("Hello , world ."),
              c.cleanUp ? "Hello, world." : "Hello , world .");
  }
  const auto tokenizer = letters("[]");
  EXPECT_EQ(tokenizer.cleanUp("I do n't know ? It 's ! we 're , they 've ' x ' I 'm"),
            "I don't know? It's! we're, they've'x'I'm");
  // Decoding ends with the clean-up.
  EXPECT_EQ(tokenizer.decode({12, 8, 17, 8, 16}), "hello x world");
}

TEST(PreTrainedTokenizer, FusesRunsOfUnknownTokensWithinEachPiece) {
  const PreTrainedTokenizer tokenizer(doc(R"({"tokenizer_class": "XLMRobertaTokenizer"})"),
                                      doc(R"({"added_tokens": [{"id": 3, "content": "|"}],
              "model": {"type": "Unigram", "unk_id": 0,
                        "vocab": [["<unk>", 0], ["a", -1], ["b", -1], ["|", -1]]}})"),
                                      /*strict=*/true);
  EXPECT_EQ(tokenizer.fuseUnknown({"a", "u1", "u2", "b", "u3"}), (Strings{"a", "u1", "b", "u3"}));
  EXPECT_EQ(tokenizer.tokenize("axyb"), (Strings{"a", "x", "b"}));
  EXPECT_EQ(tokenizer.tokenize("ax|yb"), (Strings{"a", "x", "|", "y", "b"}));
  EXPECT_EQ(tokenizer.encode("axyzb"), (Ids{1, 0, 2}));

  // "zz" is in the added-token pattern without an id, so it is a piece of its own that goes
  // through the model: the unknown "x" ending the first piece and the unknown "z" beginning
  // the next are both kept, while the second "z" fuses into the first.
  const PreTrainedTokenizer cut(doc(R"({"tokenizer_class": "XLMRobertaTokenizer"})"),
                                doc(R"({"added_tokens": [{"content": "zz"}],
              "model": {"type": "Unigram", "unk_id": 0,
                        "vocab": [["<unk>", 0], ["a", -1], ["b", -1]]}})"),
                                /*strict=*/true);
  EXPECT_EQ(cut.tokenize("axzzb"), (Strings{"a", "x", "z", "b"}));
  EXPECT_EQ(cut.tokenize("axzb"), (Strings{"a", "x", "b"}));
}

TEST(PreTrainedTokenizer, ForwardsTheModelsQuestions) {
  const auto tokenizer =
      letters("[]", R"({"tokenizer_class": "GPT2Tokenizer", "unk_token": "<unk>", "bos_token": "h",
                "eos_token": {"content": "d"}})");
  EXPECT_EQ(tokenizer.unknownTokenId(), 0);
  EXPECT_EQ(tokenizer.bosTokenId(), 1);
  EXPECT_EQ(tokenizer.eosToken(), "d");
  EXPECT_EQ(tokenizer.convertTokensToIds({"hello", "nope"}),
            (std::vector<std::optional<TokenId>>{12, 0}));
  EXPECT_EQ(tokenizer.convertIdsToTokens({16, 1000}),
            (std::vector<std::optional<std::string>>{"world", std::nullopt}));
}

} // namespace
} // namespace deduve
