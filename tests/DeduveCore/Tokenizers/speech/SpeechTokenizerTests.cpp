#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "DeduveCore/Tokenizers/PreTrainedTokenizer.hpp"
#include "tests/DeduveCore/Tokenizers/TokenizerTestSupport.hpp"

namespace deduve {
namespace {

using Ids = std::vector<TokenId>;

const auto kFolder = "tokenizers/speech-en";

// The full-size English speech tokenizer, loaded once for the suite (it is immutable). The
// suite runs as one process (see CMakeLists.txt), so the vocabulary is read once.
const PreTrainedTokenizer &speechTokenizer() {
  static const auto tokenizer = std::make_unique<PreTrainedTokenizer>(
      mqtest::docFile(mqtest::fixturePath(kFolder) / "tokenizer_config.json"),
      mqtest::docFile(mqtest::fixturePath(kFolder) / "tokenizer.json"), /*strict=*/true);
  return *tokenizer;
}

TEST(SpeechTokenizer, SpecialTokenLayout) {
  const auto &tokenizer = speechTokenizer();
  struct Case {
    const char *token;
    TokenId id;
  };
  const Case cases[] = {
      {"<|endoftext|>", 50256},  {"<|startoftranscript|>", 50257},
      {"<|en|>", 50258},         {"<|su|>", 50356},
      {"<|translate|>", 50357},  {"<|transcribe|>", 50358},
      {"<|startoflm|>", 50359},  {"<|startofprev|>", 50360},
      {"<|nocaptions|>", 50361}, {"<|notimestamps|>", 50362},
      {"<|0.00|>", 50363},       {"<|1.00|>", 50413},
      {"<|30.00|>", 51863},      {"Hello", 15496},
      {"\u0120world", 995},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.token);
    EXPECT_EQ(tokenizer.convertTokenToId(c.token), c.id);
    EXPECT_EQ(tokenizer.convertIdToToken(c.id), c.token);
  }
  EXPECT_EQ(tokenizer.convertTokenToId("<|yue|>"), 50256) << "unknown text -> unk_token's id";
  EXPECT_EQ(tokenizer.convertIdToToken(51864), std::nullopt);
  EXPECT_EQ(tokenizer.eosTokenId(), 50256);
}

TEST(SpeechTokenizer, EncodesKnownEnglish) {
  const auto &tokenizer = speechTokenizer();
  EXPECT_EQ(tokenizer.encode("Hello world"), (Ids{15496, 995}));
  EXPECT_EQ(tokenizer.encode(" Hello world"), (Ids{18435, 995}));
  EXPECT_EQ(tokenizer.encode("The quick brown fox"), (Ids{464, 2068, 7586, 21831}));
}

TEST(SpeechTokenizer, RoundTripsText) {
  const auto &tokenizer = speechTokenizer();
  const char *texts[] = {
      "The quick brown fox jumps over the lazy dog.",
      " Leading space, trailing space ",
      "Caf\u00e9 na\u00efve r\u00e9sum\u00e9 \u2014 co\u00f6perate, \u00fcber, \u00c5ngstr\u00f6m",
      "e\u0301 decomposed accents stay decomposed",
      "\u65e5\u672c\u8a9e\u306e\u30c6\u30ad\u30b9\u30c8\u3068\u4e2d\u6587",
      "\ud55c\uad6d\uc5b4 \u0440\u0443\u0441\u0441\u043a\u0438\u0439 "
      "\u0627\u0644\u0639\u0631\u0628\u064a\u0629",
      "Emoji: \U0001F44B\U0001F3FD \U0001F389 \U0001F468\u200D\U0001F469\u200D\U0001F467 ok",
      "Lines\nand\ttabs\r\n  and   runs of   spaces",
      "numbers 1234567 3.14 and symbols <>&|~^",
      "",
  };
  for (const char *text : texts) {
    SCOPED_TRACE(text);
    const Ids ids = tokenizer.encode(text);
    for (const TokenId id : ids)
      EXPECT_LT(id, 50256) << "plain text never yields special ids";
    EXPECT_EQ(tokenizer.decode(ids), text);
  }
}

TEST(SpeechTokenizer, SplitsTimestampsAndSpecialTokens) {
  const auto &tokenizer = speechTokenizer();
  const Ids ids = tokenizer.encode("<|startoftranscript|><|en|><|transcribe|><|0.00|> Hello "
                                   "world<|1.00|><|endoftext|>");
  EXPECT_EQ(ids, (Ids{50257, 50258, 50358, 50363, 18435, 995, 50413, 50256}));
  EXPECT_EQ(tokenizer.decode(ids),
            "<|startoftranscript|><|en|><|transcribe|><|0.00|> Hello world<|1.00|><|endoftext|>");
  // Timestamps are added tokens but not special ones: skipping keeps them.
  EXPECT_EQ(tokenizer.decode(ids, /*skipSpecialTokens=*/true), "<|0.00|> Hello world<|1.00|>");
  EXPECT_EQ(tokenizer.encode("<|12.34|>x<|29.98|>"), (Ids{50363 + 617, 87, 50363 + 1499}));
}

TEST(SpeechTokenizer, DecodeCleansUpSpacesBeforePunctuation) {
  const auto &tokenizer = speechTokenizer();
  // " ," and " ." decode with the space removed; the encoder itself keeps it.
  const Ids ids = tokenizer.encode("Hello , world . It 's");
  EXPECT_EQ(tokenizer.decode(ids), "Hello, world. It's");
}

TEST(SpeechTokenizer, StripFlagsConsumeWhiteSpaceAroundAddedTokens) {
  auto data = mqtest::jsonFile(mqtest::fixturePath(kFolder) / "tokenizer.json");
  for (auto &token : data["added_tokens"]) {
    if (token["content"] == "<|notimestamps|>")
      token["lstrip"] = true;
    if (token["content"] == "<|0.00|>")
      token["rstrip"] = true;
  }
  const PreTrainedTokenizer tokenizer(
      mqtest::docFile(mqtest::fixturePath(kFolder) / "tokenizer_config.json"), Config(data),
      /*strict=*/true);
  struct Case {
    const char *text;
    Ids ids;
  };
  const Case cases[] = {
      {"Hello <|notimestamps|>", {15496, 50362}},
      {"Hello \n <|notimestamps|> world", {15496, 50362, 995}},
      {"<|0.00|>  Hello", {50363, 15496}},
      {"<|1.00|> Hello", {50413, 18435}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(tokenizer.encode(c.text), c.ids);
  }
}

TEST(SpeechTokenizer, SharedBetweenThreads) {
  const auto &tokenizer = speechTokenizer();
  std::vector<std::string> texts;
  for (int i = 0; i < 64; ++i)
    texts.push_back("Sentence number " + std::to_string(i) + " has caf\u00e9s, \u65e5\u672c and " +
                    std::string(static_cast<std::size_t>(i % 7), '!') + "<|" +
                    std::to_string(i % 30) + ".00|> done.");
  std::vector<Ids> expected;
  for (const auto &text : texts)
    expected.push_back(tokenizer.encode(text));

  std::vector<std::vector<Ids>> results(4);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < results.size(); ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round)
        for (const auto &text : texts)
          results[t].push_back(tokenizer.encode(text));
    });
  for (auto &thread : threads)
    thread.join();
  for (std::size_t t = 0; t < results.size(); ++t)
    for (std::size_t i = 0; i < results[t].size(); ++i)
      ASSERT_EQ(results[t][i], expected[i % texts.size()]) << "thread " << t << ", text " << i;
}

} // namespace
} // namespace deduve
