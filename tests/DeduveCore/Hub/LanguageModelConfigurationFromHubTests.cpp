#include "DeduveCore/Hub/LanguageModelConfigurationFromHub.hpp"

#include "DeduveCore/Hub/HubClientError.hpp"
#include "tests/DeduveCore/Hub/HubTestSupport.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHub.hpp"

#include <gtest/gtest.h>

#include <map>

namespace {

namespace fs = std::filesystem;
using deduve::Config;
using deduve::HubApiWrapper;
using deduve::LanguageModelConfigurationFromHub;
using deduve::Hub::HubClientError;

const char *kTokenizer = R"({"model": {"type": "BPE"}})";

// Keys of a dictionary, in order.
std::vector<std::string> keys(const Config &config) {
  std::vector<std::string> result;
  if (const auto *dictionary = config.dictionaryValue()) {
    for (const auto &[key, value] : *dictionary) {
      result.push_back(Config(key).stringValue().value_or("?"));
    }
  }
  return result;
}

TEST(LanguageModelConfigurationFromHubTest, FolderDocumentsTemplatesAndTheDerivedTokenizerClass) {
  struct Case {
    const char *name;
    std::map<std::string, std::string> files; // besides tokenizer.json
    bool hasModelConfig;
    std::optional<std::string> modelType;
    // Expected tokenizerConfig(): absent, or its keys with "tokenizer_class" and
    // "chat_template" values.
    std::optional<std::vector<std::string>> keys;
    std::optional<std::string> tokenizerClass;
    std::optional<std::string> chatTemplate;
  };
  const std::string invalidUtf8 = "\xff\xfe template";
  const Case cases[] = {
      {"only tokenizer.json", {}, false, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {"class derived from the model type",
       {{"config.json", R"({"model_type": "whisper"})"},
        {"tokenizer_config.json", R"({"bos_token": "<s>", "eos_token": "</s>"})"}},
       true,
       "whisper",
       std::vector<std::string>{"bos_token", "eos_token", "tokenizer_class"},
       "WhisperTokenizer",
       std::nullopt},
      {"class that is not a string counts as missing; words capitalized",
       {{"config.json", R"({"model_type": "gpt NEO"})"},
        {"tokenizer_config.json", R"({"tokenizer_class": null, "x": 1})"}},
       true,
       "gpt NEO",
       std::vector<std::string>{"tokenizer_class", "x"},
       "Gpt NeoTokenizer",
       std::nullopt},
      {"a string class is kept",
       {{"config.json", R"({"model_type": "whisper"})"},
        {"tokenizer_config.json", R"({"tokenizer_class": "GPT2Tokenizer"})"}},
       true,
       "whisper",
       std::vector<std::string>{"tokenizer_class"},
       "GPT2Tokenizer",
       std::nullopt},
      {"model type that is not a string derives nothing",
       {{"config.json", R"({"model_type": 3})"}, {"tokenizer_config.json", R"({"a": 1})"}},
       true,
       std::nullopt,
       std::vector<std::string>{"a"},
       std::nullopt,
       std::nullopt},
      {"jinja template wins over the json one and replaces an existing template",
       {{"tokenizer_config.json", R"({"chat_template": "old", "a": 1})"},
        {"chat_template.jinja", "{{ jinja }}"},
        {"chat_template.json", R"({"chat_template": "from json"})"}},
       false,
       std::nullopt,
       std::vector<std::string>{"chat_template", "a"},
       std::nullopt,
       "{{ jinja }}"},
      {"json template without a tokenizer configuration gives a one-key dictionary",
       {{"chat_template.json", R"({"chat_template": "from json"})"}},
       false,
       std::nullopt,
       std::vector<std::string>{"chat_template"},
       std::nullopt,
       "from json"},
      {"json template that is not a string is ignored",
       {{"tokenizer_config.json", R"({"a": 1})"},
        {"chat_template.json", R"({"chat_template": [{"name": "x"}]})"}},
       false,
       std::nullopt,
       std::vector<std::string>{"a"},
       std::nullopt,
       std::nullopt},
      {"unreadable jinja means no template, the json one is not consulted",
       {{"tokenizer_config.json", R"({"a": 1})"},
        {"chat_template.jinja", invalidUtf8},
        {"chat_template.json", R"({"chat_template": "from json"})"}},
       false,
       std::nullopt,
       std::vector<std::string>{"a"},
       std::nullopt,
       std::nullopt},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    mqtest::TempDir dir;
    dir.write("tokenizer.json", kTokenizer);
    for (const auto &[name, contents] : c.files) {
      dir.write(name, contents);
    }
    const LanguageModelConfigurationFromHub configuration(dir.path(), HubApiWrapper(dir / "cache"));
    EXPECT_EQ(configuration.tokenizerData()["model"]["type"].stringValue(), "BPE");
    EXPECT_EQ(configuration.modelConfig().has_value(), c.hasModelConfig);
    EXPECT_EQ(configuration.modelType(), c.modelType);
    const auto tokenizerConfig = configuration.tokenizerConfig();
    ASSERT_EQ(tokenizerConfig.has_value(), c.keys.has_value());
    if (!tokenizerConfig) {
      continue;
    }
    EXPECT_EQ(keys(*tokenizerConfig), *c.keys);
    EXPECT_EQ((*tokenizerConfig)["tokenizer_class"].stringValue(), c.tokenizerClass);
    EXPECT_EQ((*tokenizerConfig)["chat_template"].stringValue(), c.chatTemplate);
  }
}

TEST(LanguageModelConfigurationFromHubTest, BadFoldersFailEveryReaderWithClientErrors) {
  struct Case {
    const char *name;
    std::map<std::string, std::string> files;
    HubClientError::Kind kind;
    std::string message; // prefix of what()
  };
  const Case cases[] = {
      {"no tokenizer.json",
       {{"config.json", "{}"}},
       HubClientError::Kind::configurationMissing,
       "Required configuration file missing: tokenizer.json"},
      {"tokenizer.json is not JSON",
       {{"tokenizer.json", "{not json"}},
       HubClientError::Kind::jsonSerialization,
       "JSON Serialization failed for "},
      {"config.json is a list",
       {{"tokenizer.json", kTokenizer}, {"config.json", "[1, 2]"}},
       HubClientError::Kind::parse,
       "Failed to parse server response."},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    mqtest::TempDir dir;
    for (const auto &[name, contents] : c.files) {
      dir.write(name, contents);
    }
    const LanguageModelConfigurationFromHub configuration(dir.path(), HubApiWrapper(dir / "cache"));
    for (int reader = 0; reader < 2; ++reader) {
      try {
        reader == 0 ? (void)configuration.tokenizerConfig() : (void)configuration.tokenizerData();
        ADD_FAILURE() << "nothing thrown";
      } catch (const HubClientError &error) {
        EXPECT_EQ(error.kind(), c.kind);
        EXPECT_EQ(std::string(error.what()).rfind(c.message, 0), 0u) << error.what();
      }
    }
  }
}

TEST(LanguageModelConfigurationFromHubTest, RepositoryDocumentsComeThroughASnapshot) {
  mqtest::TempDir dir;
  mqtest::TestHub hub(dir / "hub");
  const std::string repo = "owner/lm";
  hub.addFile("models", repo, "config.json", R"({"model_type": "whisper"})");
  hub.addFile("models", repo, "tokenizer.json", kTokenizer);
  hub.addFile("models", repo, "tokenizer_config.json", R"({"eos_token": "</s>"})");
  hub.addFile("models", repo, "chat_template.jinja", "{{ messages }}");
  hub.addFile("models", repo, "model.safetensors", "weights");
  hub.addFile("models", repo, "sub/config.json", "{}");
  HubApiWrapper wrapper(dir / "cache", std::string(), hub.baseUrl());
  wrapper.impl.useOfflineMode = false;

  const LanguageModelConfigurationFromHub configuration(repo, "main", wrapper);
  const auto tokenizerConfig = configuration.tokenizerConfig();
  ASSERT_TRUE(tokenizerConfig.has_value());
  EXPECT_EQ(keys(*tokenizerConfig),
            (std::vector<std::string>{"eos_token", "chat_template", "tokenizer_class"}));
  EXPECT_EQ((*tokenizerConfig)["tokenizer_class"].stringValue(), "WhisperTokenizer");
  EXPECT_EQ((*tokenizerConfig)["chat_template"].stringValue(), "{{ messages }}");
  EXPECT_EQ(configuration.tokenizerData()["model"]["type"].stringValue(), "BPE");

  const auto folder = dir / "cache" / "models" / "owner" / "lm";
  EXPECT_TRUE(fs::exists(folder / "tokenizer.json"));
  EXPECT_FALSE(fs::exists(folder / "model.safetensors"));
  EXPECT_FALSE(fs::exists(folder / "sub" / "config.json"));

  // A repository without tokenizer.json fails once its documents are there.
  hub.addFile("models", "owner/empty", "config.json", "{}");
  const LanguageModelConfigurationFromHub missing(std::string("owner/empty"), "main", wrapper);
  try {
    (void)missing.tokenizerData();
    ADD_FAILURE() << "nothing thrown";
  } catch (const HubClientError &error) {
    EXPECT_EQ(error.kind(), HubClientError::Kind::configurationMissing);
  }
}

TEST(LanguageModelConfigurationFromHubTest, NetworkFailuresBecomeClientErrors) {
  using platform::UrlError;
  struct Case {
    platform::UrlError::Code code;
    HubClientError::Kind kind;
    std::string text;
  };
  const Case cases[] = {
      {platform::UrlError::Code::notConnectedToInternet, HubClientError::Kind::networkError,
       "Network error: The Internet connection appears to be offline."},
      {platform::UrlError::Code::networkConnectionLost, HubClientError::Kind::networkError,
       "Network error: The network connection was lost."},
      {platform::UrlError::Code::timedOut, HubClientError::Kind::networkError,
       "Network error: The request timed out."},
      {platform::UrlError::Code::resourceUnavailable, HubClientError::Kind::resourceNotFound,
       "Resource not found: owner/lm"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    const auto error =
        LanguageModelConfigurationFromHub::networkFailure(platform::UrlError(c.code), "owner/lm");
    EXPECT_EQ(error.kind(), c.kind);
    EXPECT_EQ(error.what(), c.text);
  }

  // A file server that cannot be reached, end to end.
  mqtest::TempDir dir;
  mqtest::TestHub hub(dir / "hub");
  hub.addFile("models", "owner/lm", "tokenizer.json", kTokenizer);
  hubtest::RefusingPort closed;
  auto unreachable = mqtest::TestHub::Fault::answering(302, "/owner/lm/resolve/");
  unreachable.method = "GET";
  unreachable.headers = {{"Location", closed.url() + "/file"}};
  hub.addFault(unreachable);
  HubApiWrapper wrapper(dir / "cache", std::string(), hub.baseUrl());
  wrapper.impl.useOfflineMode = false;
  const LanguageModelConfigurationFromHub configuration(std::string("owner/lm"), "main", wrapper);
  try {
    (void)configuration.tokenizerData();
    ADD_FAILURE() << "nothing thrown";
  } catch (const HubClientError &error) {
    EXPECT_EQ(error.kind(), HubClientError::Kind::networkError);
    EXPECT_EQ(error.urlErrorCode(), platform::UrlError::Code::cannotConnectToHost);
    EXPECT_EQ(std::string(error.what()).rfind("Network error: Could not connect to the server.", 0),
              0u)
        << error.what();
  }
}

} // namespace
