#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DeduveCore/Hub/HubApiWrapper.hpp"
#include "DeduveCore/Hub/HubClientError.hpp"
#include "DeduveCore/Tokenizers/AutoTokenizerWrapper.hpp"
#include "DeduveCore/Tokenizers/BPETokenizer.hpp"
#include "DeduveCore/Tokenizers/BertTokenizer.hpp"
#include "DeduveCore/Tokenizers/LlamaPreTrainedTokenizer.hpp"
#include "DeduveCore/Tokenizers/TokenizerClasses.hpp"
#include "DeduveCore/Tokenizers/TokenizerError.hpp"
#include "DeduveCore/Tokenizers/UnigramTokenizer.hpp"
#include "tests/DeduveCore/Tokenizers/TokenizerTestSupport.hpp"
#include "tests/support/TestHub.hpp"

namespace deduve {
namespace {

namespace fs = std::filesystem;
using mqtest::doc;
using Ids = std::vector<TokenId>;
using Strings = std::vector<std::string>;

// Data every model kind accepts: BPE and WordPiece read the vocab dictionary, Unigram reads
// its own document (see unigramData).
const char *kBpeData = R"({"model": {"vocab": {"[UNK]": 0, "a": 1}, "merges": []}})";
const char *kUnigramData = R"({"model": {"unk_id": 0, "vocab": [["<unk>", 0], ["a", -1]]}})";

std::string classConfig(const std::string &className) {
  return R"({"tokenizer_class": ")" + className + R"("})";
}

TEST(TokenizerClasses, ClassNamesSelectTokenizerAndModel) {
  enum class ModelKind { bpe, wordPiece, unigram, t5 };
  struct Case {
    const char *className;
    bool llama;
    ModelKind model;
  };
  const Case cases[] = {
      {"LlamaTokenizerFast", true, ModelKind::bpe},
      {"GPT2TokenizerFast", false, ModelKind::bpe},
      {"WhisperTokenizer", false, ModelKind::bpe},
      {"XLMRobertaTokenizerFast", false, ModelKind::unigram},
      {"T5TokenizerFast", false, ModelKind::t5},
      {"BertTokenizerFast", false, ModelKind::wordPiece},
      {"DistilbertTokenizer", false, ModelKind::wordPiece},
      {"TokenizersBackend", false, ModelKind::bpe},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.className);
    const Config config = doc(classConfig(c.className));
    const bool unigram = c.model == ModelKind::unigram || c.model == ModelKind::t5;
    const Config data = doc(unigram ? kUnigramData : kBpeData);
    const auto tokenizer = tokenizerClassFor(config)(config, data, /*strict=*/true);
    EXPECT_EQ(dynamic_cast<const LlamaPreTrainedTokenizer *>(tokenizer.get()) != nullptr, c.llama);
    const auto &model = dynamic_cast<const PreTrainedTokenizer &>(*tokenizer).model();
    switch (c.model) {
    case ModelKind::bpe:
      EXPECT_NE(dynamic_cast<const BPETokenizer *>(&model), nullptr);
      break;
    case ModelKind::wordPiece:
      EXPECT_NE(dynamic_cast<const BertTokenizer *>(&model), nullptr);
      break;
    case ModelKind::unigram:
      EXPECT_NE(dynamic_cast<const UnigramTokenizer *>(&model), nullptr);
      EXPECT_EQ(dynamic_cast<const T5Tokenizer *>(&model), nullptr);
      break;
    case ModelKind::t5:
      EXPECT_NE(dynamic_cast<const T5Tokenizer *>(&model), nullptr);
      break;
    }
  }
}

TEST(TokenizerClasses, UnknownOrMissingClassNames) {
  const Config unknown = doc(classConfig("MyTokenizerFast"));
  try {
    makeTokenizingModel(unknown, doc(kBpeData), {}, /*strict=*/true);
    FAIL() << "no error";
  } catch (const TokenizerError &error) {
    EXPECT_EQ(error.kind(), TokenizerError::Kind::unsupportedTokenizer);
    EXPECT_STREQ(error.what(), "The tokenizer type 'MyTokenizer' is not supported.");
  }

  testing::internal::CaptureStdout();
  const auto model = makeTokenizingModel(unknown, doc(kBpeData), {}, /*strict=*/false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Warning: Tokenizer model class MyTokenizer is not registered, falling back to a "
            "standard BPE implementation.\n");
  EXPECT_NE(dynamic_cast<const BPETokenizer *>(model.get()), nullptr);

  // A class name of megabytes is quoted by an excerpt.
  try {
    makeTokenizingModel(doc(classConfig(std::string(1 << 20, 'x'))), doc(kBpeData), {},
                        /*strict=*/true);
    FAIL() << "no error";
  } catch (const TokenizerError &error) {
    EXPECT_EQ(std::string(error.what()), "The tokenizer type '" + std::string(64, 'x') +
                                             "... (1048576 bytes)' is not supported.");
  }

  for (const char *config : {"{}", R"({"tokenizer_class": 3})"}) {
    SCOPED_TRACE(config);
    try {
      PreTrainedTokenizer(doc(config), doc(kBpeData), /*strict=*/false);
      FAIL() << "no error";
    } catch (const TokenizerError &error) {
      EXPECT_EQ(error.kind(), TokenizerError::Kind::missingTokenizerClassInConfig);
    }
  }
}

TEST(LlamaPreTrainedTokenizer, RebuildsTheTemplateFromBosAndEosSettings) {
  const Config template1 = doc(R"({"type": "TemplateProcessing",
    "single": [{"SpecialToken": {"id": "T", "type_id": 0}}, {"Sequence": {"id": "A", "type_id": 0}}],
    "pair": [{"SpecialToken": {"id": "T", "type_id": 0}}, {"Sequence": {"id": "A", "type_id": 0}},
             {"SpecialToken": {"id": "T", "type_id": 1}}, {"Sequence": {"id": "B", "type_id": 1}}]})");
  const auto rebuilt = LlamaPreTrainedTokenizer::updatePostProcessor(
      doc(R"({"legacy": false, "add_bos_token": true, "bos_token": "T"})"), Config());
  ASSERT_TRUE(rebuilt.has_value());
  EXPECT_EQ(*rebuilt, template1) << rebuilt->description();

  const auto both = LlamaPreTrainedTokenizer::updatePostProcessor(
      doc(R"({"add_bos_token": 1, "bos_token": {"content": "<s>"}, "add_eos_token": "true",
              "eos_token": "</s>"})"),
      doc(R"({"type": "ByteLevel"})"));
  ASSERT_TRUE(both.has_value());
  EXPECT_EQ((*both)["single"].arrayValue()->size(), 3u);
  EXPECT_EQ((*both)["pair"][std::string("pair")].isNull(), true);
  EXPECT_EQ((*both)["pair"].arrayValue()->size(), 6u);

  // A template post-processor stays whatever the flags say.
  EXPECT_FALSE(
      LlamaPreTrainedTokenizer::updatePostProcessor(doc(R"({"add_bos_token": true})"), template1)
          .has_value());

  struct Case {
    const char *config;
    const char *message;
  };
  const Case cases[] = {
      {R"({"add_bos_token": true})",
       "Tokenizer configuration mismatch: add_bos_token is True but bos_token is nil"},
      {R"({"add_eos_token": true, "bos_token": "<s>"})",
       "Tokenizer configuration mismatch: add_eos_token is True but eos_token is nil"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.config);
    try {
      LlamaPreTrainedTokenizer::updatePostProcessor(doc(c.config), doc(R"({"type": "ByteLevel"})"));
      FAIL() << "no error";
    } catch (const TokenizerError &error) {
      EXPECT_EQ(error.kind(), TokenizerError::Kind::mismatchedConfig);
      EXPECT_STREQ(error.what(), c.message);
    }
  }
}

const fs::path kLlamaFolder = mqtest::fixturePath("tokenizers/llama-mini");

TEST(LlamaPreTrainedTokenizer, NonLegacyTextUsesMetaspaceOnTheFirstSection) {
  const LlamaPreTrainedTokenizer tokenizer(mqtest::docFile(kLlamaFolder / "tokenizer_config.json"),
                                           mqtest::docFile(kLlamaFolder / "tokenizer.json"),
                                           /*strict=*/true);
  EXPECT_FALSE(tokenizer.isLegacy());
  EXPECT_EQ(tokenizer.normalizer(), nullptr);
  EXPECT_EQ(tokenizer.tokenize("hello world"), (Strings{"\u2581hello", "\u2581world"}));
  EXPECT_EQ(tokenizer.tokenize("hello\u2581world"), (Strings{"\u2581hello", "\u2581world"}));
  EXPECT_EQ(tokenizer.tokenize(""), tokenizer.PreTrainedTokenizer::tokenize(""));
  // A lone marker before a special token is dropped; before other text it stays.
  EXPECT_EQ(tokenizer.tokenize("<s>hello"), (Strings{"<s>", "h", "e", "ll", "o"}));
  EXPECT_EQ(tokenizer.tokenize(" hello"), (Strings{"\u2581", "\u2581hello"}));

  const Ids ids = tokenizer.encode("hello world");
  ASSERT_FALSE(ids.empty());
  EXPECT_EQ(ids.front(), 1) << "the rebuilt template adds the bos token";
  EXPECT_EQ(tokenizer.decode(ids, /*skipSpecialTokens=*/true), "hello world");
  // Characters outside the vocabulary fall back to bytes and decode back.
  EXPECT_EQ(tokenizer.decode(tokenizer.encode("hello \U0001F600!"), /*skipSpecialTokens=*/true),
            "hello \U0001F600!");
}

TEST(AutoTokenizerWrapper, ModelFolderRoadEndToEnd) {
  const HubApiWrapper hubApi(mqtest::TempDir().path() / "unused");
  {
    const auto tokenizer = AutoTokenizerWrapper::fromModelFolder(
        mqtest::fixturePath("tokenizers/wordpiece-mini"), hubApi, /*strict=*/true);
    const Ids ids = tokenizer.encode("Unaffable!");
    EXPECT_EQ(ids, (Ids{2, 5, 6, 7, 12, 3}));
    EXPECT_EQ(tokenizer.decode(ids, /*skipSpecialTokens=*/true), "unaffable!");
    EXPECT_EQ(tokenizer.tokenize("Hello, 日本"), (Strings{"hello", ",", "日", "本"}));
  }
  {
    // The full-size speech tokenizer: 51,864 ids read from the folder's documents.
    const auto tokenizer = AutoTokenizerWrapper::fromModelFolder(
        mqtest::fixturePath("tokenizers/speech-en"), hubApi, /*strict=*/true);
    EXPECT_EQ(tokenizer.convertTokenToId("<|30.00|>"), 51863);
    const std::string text = "Hello world, caf\u00e9 \u65e5\u672c \U0001F600.";
    EXPECT_EQ(tokenizer.decode(tokenizer.encode(text), /*skipSpecialTokens=*/true), text);
  }
  {
    const auto tokenizer = AutoTokenizerWrapper::fromModelFolder(
        mqtest::fixturePath("tokenizers/unigram-mini"), hubApi, /*strict=*/true);
    EXPECT_EQ(tokenizer.tokenize("hello world there"),
              (Strings{"\u2581hello", "\u2581world", "\u2581there"}));
    EXPECT_EQ(tokenizer.encode("hello xyz"), (Ids{4, 3, 0, 2}));
    EXPECT_EQ(tokenizer.eosTokenId(), 2);
  }
  {
    // The folder road never applies the Llama adaptation: the document's normalizer stays.
    const auto tokenizer = AutoTokenizerWrapper::fromModelFolder(kLlamaFolder, hubApi,
                                                                 /*strict=*/true);
    EXPECT_EQ(dynamic_cast<const LlamaPreTrainedTokenizer *>(tokenizer.impl().get()), nullptr);
    EXPECT_EQ(tokenizer.tokenize("hello world"), (Strings{"\u2581hello", "\u2581world"}));
    EXPECT_EQ(tokenizer.encode("hello").front(), 1);
  }
}

TEST(AutoTokenizerWrapper, ModelFolderFailures) {
  mqtest::TempDir dir;
  const HubApiWrapper hubApi(dir / "cache");
  const auto data =
      mqtest::TempDir::read(mqtest::fixturePath("tokenizers/wordpiece-mini/tokenizer.json"));

  dir.write("no-config/tokenizer.json", data);
  try {
    AutoTokenizerWrapper::fromModelFolder(dir / "no-config", hubApi, /*strict=*/true);
    FAIL() << "no error";
  } catch (const TokenizerError &error) {
    EXPECT_EQ(error.kind(), TokenizerError::Kind::missingConfig);
  }

  dir.write("no-data/tokenizer_config.json", classConfig("BertTokenizer"));
  EXPECT_THROW(AutoTokenizerWrapper::fromModelFolder(dir / "no-data", hubApi, /*strict=*/true),
               Hub::HubClientError);

  dir.write("unsupported/tokenizer.json", data);
  dir.write("unsupported/tokenizer_config.json", classConfig("MyTokenizer"));
  try {
    AutoTokenizerWrapper::fromModelFolder(dir / "unsupported", hubApi, /*strict=*/true);
    FAIL() << "no error";
  } catch (const TokenizerError &error) {
    EXPECT_EQ(error.kind(), TokenizerError::Kind::unsupportedTokenizer);
  }
}

TEST(AutoTokenizerWrapper, PretrainedRoadDownloadsAndSelectsTheClass) {
  mqtest::TempDir dir;
  mqtest::TestHub hub(dir / "hub");
  for (const char *file : {"tokenizer.json", "tokenizer_config.json"})
    hub.addFile("models", "test-org/llama-mini", file, mqtest::TempDir::read(kLlamaFolder / file));
  hub.addFile("models", "test-org/no-config", "tokenizer.json",
              mqtest::TempDir::read(kLlamaFolder / "tokenizer.json"));
  HubApiWrapper hubApi(dir / "cache", std::string(), hub.baseUrl());
  hubApi.impl.useOfflineMode = false;

  const auto tokenizer =
      AutoTokenizerWrapper::fromPretrained("test-org/llama-mini", hubApi, /*strict=*/true);
  EXPECT_NE(dynamic_cast<const LlamaPreTrainedTokenizer *>(tokenizer.impl().get()), nullptr);
  EXPECT_EQ(tokenizer.tokenize("<s>hello"), (Strings{"<s>", "h", "e", "ll", "o"}));
  EXPECT_TRUE(fs::exists(hubApi.localRepoLocation(HubApiWrapper::Repo(
                             "test-org/llama-mini", HubApiWrapper::RepoType::models)) /
                         "tokenizer.json"));

  try {
    AutoTokenizerWrapper::fromPretrained("test-org/no-config", hubApi, /*strict=*/true);
    FAIL() << "no error";
  } catch (const TokenizerError &error) {
    EXPECT_EQ(error.kind(), TokenizerError::Kind::missingConfig);
  }
}

} // namespace
} // namespace deduve
