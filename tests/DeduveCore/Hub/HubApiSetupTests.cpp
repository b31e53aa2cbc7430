#include "DeduveCore/Hub/HubApi.hpp"

#include <future>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "DeduveCore/Hub/NetworkMonitor.hpp"
#include "tests/DeduveCore/Hub/HubTestSupport.hpp"
#include "tests/support/TempDir.hpp"

namespace {

using deduve::HubApi;
using deduve::Hub::HubClientError;
using Variables = platform::Environment::Variables;

class HubApiSetupTest : public ::testing::Test {
protected:
  mqtest::TempDir dir;
  std::filesystem::path home = dir / "home";

  platform::Environment environment(Variables variables) const {
    return platform::Environment(std::move(variables), home);
  }
};

TEST_F(HubApiSetupTest, TokenSourcesAreSearchedInOrder) {
  struct Case {
    std::string name;
    Variables variables;
    std::vector<std::pair<std::string, std::string>> files; // relative to the temp folder
    std::optional<std::string> expected;
  };
  const std::string root = dir.path().string();
  const std::vector<std::pair<std::string, std::string>> allFiles = {
      {"path-token", "from-path"},
      {"hf-home/token", "from-hf-home"},
      {"home/.cache/huggingface/token", "from-cache"},
      {"home/.huggingface/token", "from-legacy"}};
  const Case cases[] = {
      {"nothing anywhere", {}, {}, std::nullopt},
      {"HF_TOKEN first",
       {{"HF_TOKEN", "env1"},
        {"HUGGING_FACE_HUB_TOKEN", "env2"},
        {"HF_TOKEN_PATH", root + "/path-token"},
        {"HF_HOME", root + "/hf-home"}},
       allFiles,
       "env1"},
      {"empty HF_TOKEN passes to the next",
       {{"HF_TOKEN", ""}, {"HUGGING_FACE_HUB_TOKEN", "env2"}},
       allFiles,
       "env2"},
      {"token path file",
       {{"HF_TOKEN_PATH", root + "/path-token"}, {"HF_HOME", root + "/hf-home"}},
       allFiles,
       "from-path"},
      {"token path with a tilde",
       {{"HF_TOKEN_PATH", "~/tilde-token"}},
       {{"home/tilde-token", "from-tilde"}},
       "from-tilde"},
      {"missing token path file falls through to the home cache",
       {{"HF_TOKEN_PATH", root + "/missing"}},
       {{"home/.cache/huggingface/token", "from-cache"}, {"home/.huggingface/token", "x"}},
       "from-cache"},
      {"token path naming a folder yields nothing",
       {{"HF_TOKEN_PATH", root + "/home"}},
       {{"home/.huggingface/token", "from-legacy"}},
       "from-legacy"},
      {"HF_HOME token", {{"HF_HOME", root + "/hf-home"}}, allFiles, "from-hf-home"},
      {"legacy home file last", {}, {{"home/.huggingface/token", "from-legacy"}}, "from-legacy"},
      {"a lone line break is a token", {}, {{"home/.cache/huggingface/token", "\n"}}, "\n"},
      {"file text is not trimmed", {}, {{"home/.cache/huggingface/token", "tok\n"}}, "tok\n"},
      {"empty file passes",
       {},
       {{"home/.cache/huggingface/token", ""}, {"home/.huggingface/token", "from-legacy"}},
       "from-legacy"},
      {"invalid UTF-8 passes",
       {},
       {{"home/.cache/huggingface/token", "\xff\xfe"}, {"home/.huggingface/token", "from-legacy"}},
       "from-legacy"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directories(home);
    for (const auto &[relative, text] : c.files) {
      dir.write(relative, text);
    }
    EXPECT_EQ(HubApi::hfTokenFromEnvironment(environment(c.variables)), c.expected);
    EXPECT_EQ(hubtest::makeHub({}, environment(c.variables)).hfToken, c.expected);
  }
}

TEST_F(HubApiSetupTest, AGivenTokenIsUsedUnchangedEvenWhenEmpty) {
  dir.write("home/.cache/huggingface/token", "from-cache");
  HubApi::Settings settings;
  settings.hfToken = "";
  EXPECT_EQ(hubtest::makeHub(settings, environment({{"HF_TOKEN", "env"}})).hfToken, "");
}

TEST_F(HubApiSetupTest, EndpointAndDownloadBaseDefaults) {
  struct Case {
    std::string name;
    std::optional<std::string> given;
    Variables variables;
    std::string expected;
  };
  const Case cases[] = {
      {"built-in default", std::nullopt, {}, std::string(HubApi::kDefaultEndpoint)},
      {"environment", std::nullopt, {{"HF_ENDPOINT", "http://mirror.test"}}, "http://mirror.test"},
      {"empty environment value stays empty", std::nullopt, {{"HF_ENDPOINT", ""}}, ""},
      {"argument wins",
       "http://given.test",
       {{"HF_ENDPOINT", "http://mirror.test"}},
       "http://given.test"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    HubApi::Settings settings;
    settings.endpoint = c.given;
    EXPECT_EQ(hubtest::makeHub(settings, environment(c.variables)).endpoint, c.expected);
  }
  EXPECT_EQ(hubtest::makeHub({}, environment({})).downloadBase, home / "Documents" / "huggingface");
  EXPECT_EQ(hubtest::makeHub({}, environment({{"XDG_DOCUMENTS_DIR", "/docs"}})).downloadBase,
            std::filesystem::path("/docs/huggingface"));
  HubApi::Settings settings;
  settings.downloadBase = dir / "models";
  EXPECT_EQ(hubtest::makeHub(settings, environment({})).downloadBase, dir / "models");
  const HubApi hub = hubtest::makeHub({}, environment({}));
  EXPECT_EQ(hub.sha256Pattern, "^[0-9a-f]{64}$");
  EXPECT_EQ(hub.commitHashPattern, "^[0-9a-f]{40}$");
}

TEST_F(HubApiSetupTest, DiagnosticLineOnlyWhenTheMonitorSwitchIsExactlyOne) {
  struct Case {
    std::optional<std::string> value;
    std::optional<std::string> token;
    std::string expected;
  };
  const Case cases[] = {
      {"1", "tok", "✅ got token\n"}, {"1", std::nullopt, "🔴 NO TOKEN **\n"},
      {"true", "tok", ""},           {"01", "tok", ""},
      {std::nullopt, "tok", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.value.value_or("<unset>"));
    Variables variables;
    if (c.value) {
      variables["CI_DISABLE_NETWORK_MONITOR"] = *c.value;
    }
    if (c.token) {
      variables["HF_TOKEN"] = *c.token;
    }
    testing::internal::CaptureStdout();
    hubtest::makeHub({}, environment(variables));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.expected);
  }
}

TEST_F(HubApiSetupTest, OfflineDecision) {
  struct Case {
    std::string name;
    bool pathSatisfied;
    std::optional<std::string> monitorSwitch;
    std::optional<bool> useOfflineMode;
    bool offline;
  };
  const Case cases[] = {
      {"connected", true, std::nullopt, std::nullopt, false},
      {"disconnected", false, std::nullopt, std::nullopt, true},
      {"switch 1 forces online", false, "1", std::nullopt, false},
      {"switch true does not", false, "true", std::nullopt, true},
      {"switch 0 does not", false, "0", std::nullopt, true},
      {"preference false wins", false, std::nullopt, false, false},
      {"preference true wins", true, std::nullopt, true, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    auto record = std::make_shared<hubtest::FakePathMonitor::Record>();
    Variables variables;
    if (c.monitorSwitch) {
      variables["CI_DISABLE_NETWORK_MONITOR"] = *c.monitorSwitch;
    }
    HubApi::Settings settings;
    settings.useOfflineMode = c.useOfflineMode;
    const HubApi hub = hubtest::makeHub(settings, environment(variables), record);
    EXPECT_TRUE(hub.sharedMonitor->state().isConnected()) << "a new state starts connected";
    hubtest::FakePathMonitor::push(record, c.pathSatisfied);
    EXPECT_EQ(hub.shouldWorkOffline(), c.offline);
  }
}

TEST_F(HubApiSetupTest, EveryClientRestartsTheSharedMonitor) {
  auto record = std::make_shared<hubtest::FakePathMonitor::Record>();
  auto shared = HubApi::NetworkMonitor::make(std::make_unique<hubtest::FakePathMonitor>(record));
  EXPECT_EQ(record->starts, 1);
  HubApi::Settings settings;
  settings.sharedMonitor = shared;
  hubtest::makeHub(settings, environment({}));
  hubtest::makeHub(settings, environment({}));
  EXPECT_EQ(record->starts, 3);
  // A released monitor no longer takes updates, and its handler holds it only weakly.
  std::weak_ptr<HubApi::NetworkMonitor> weak = shared;
  shared.reset();
  settings.sharedMonitor.reset();
  EXPECT_TRUE(weak.expired());
  hubtest::FakePathMonitor::push(record, false);
}

TEST_F(HubApiSetupTest, ConfigurationReadsLocalJsonDocuments) {
  const auto good = dir.write("config.json", "{\"model_type\": \"whisper\", \"n\": 3}");
  const deduve::Config config = HubApi::configuration(good);
  EXPECT_EQ(config["modelType"].stringValue(), "whisper");
  EXPECT_EQ(config["n"].integerValue(), 3);

  const auto bom = dir.write("bom.json", "{\"t\": \"\xEF\xBB\xBFx\"}");
  EXPECT_EQ(HubApi::configuration(bom)["t"].stringValue(), "\xEF\xBB\xBFx");

  // A top level that is not an object, and damaged files, get the client's fixed texts.
  for (const auto &[name, text] : {std::pair{"list.json", "[1, 2]"}, std::pair{"null.json", "null"},
                                   std::pair{"text.json", "\"a\""}}) {
    SCOPED_TRACE(name);
    try {
      HubApi::configuration(dir.write(name, text));
      ADD_FAILURE() << "accepted";
    } catch (const HubClientError &error) {
      EXPECT_EQ(error.kind(), HubClientError::Kind::parse);
      EXPECT_EQ(std::string(error.what()), "Failed to parse server response.");
    }
  }
  const std::pair<const char *, std::string> damaged[] = {
      {"broken file.json", "{not json"},
      {"truncated.json", "{\"a\": [1, 2"},
      {"deep.json", std::string(600, '[') + std::string(600, ']')},
  };
  for (const auto &[name, text] : damaged) {
    SCOPED_TRACE(name);
    try {
      HubApi::configuration(dir.write(name, text));
      ADD_FAILURE() << "damaged JSON was accepted";
    } catch (const HubClientError &error) {
      EXPECT_EQ(error.kind(), HubClientError::Kind::jsonSerialization);
      std::string file = name;
      if (const auto space = file.find(' '); space != std::string::npos)
        file.replace(space, 1, "%20");
      const std::string url = "file://" + (dir.path() / file).string();
      EXPECT_EQ(error.fileURL(), url);
      EXPECT_EQ(std::string(error.what()),
                "JSON Serialization failed for " + url +
                    ". Please verify that you have set the HF_TOKEN environment variable.");
    }
  }
  try {
    HubApi::configuration(dir / "missing.json");
    ADD_FAILURE() << "a missing file was read";
  } catch (const HubClientError &error) {
    EXPECT_EQ(error.kind(), HubClientError::Kind::fileSystemError);
  }
}

TEST(JsonReadingTest, ByteOrderMarksInStringsAreKeptOnce) {
  const auto document =
      deduve::Config::parse("\xEF\xBB\xBF{\"a\": \"\xEF\xBB\xBF\", \"b\": \"x\xEF\xBB\xBF\"}");
  EXPECT_EQ(document["a"].stringValue(), "\xEF\xBB\xBF");
  EXPECT_EQ(document["b"].stringValue(), "x\xEF\xBB\xBF");
  EXPECT_THROW(deduve::Config::parse(""), nlohmann::json::parse_error);
}

TEST(HubErrorsTest, FixedTexts) {
  struct Case {
    std::string actual;
    std::string expected;
  };
  const Case cases[] = {
      {HubClientError::httpStatusCode(503).what(), "HTTP error with status code: 503"},
      {HubClientError::jsonSerialization("file:///a", "message text").what(), "message text"},
      {HubClientError::downloadError("x").what(), "Download failed: x"},
      {HubClientError::fileNotFound("f.bin").what(), "File not found: f.bin"},
      {HubClientError::networkError(platform::UrlError(platform::UrlError::Code::timedOut)).what(),
       "Network error: The request timed out."},
      {HubClientError::resourceNotFound("r").what(), "Resource not found: r"},
      {HubClientError::configurationMissing("c.json").what(),
       "Required configuration file missing: c.json"},
      {HubClientError::fileSystemError("disk").what(), "File system error: disk"},
      {HubClientError::parseError("p").what(), "Parse error: p"},
      {HubClientError::authorizationRequired().what(),
       "Authentication required. Please provide a valid Hugging Face token."},
      {HubClientError::parse().what(), "Failed to parse server response."},
      {HubClientError::unexpectedError().what(), "An unexpected error occurred."},
      {HubApi::EnvironmentError::invalidMetadataError("m").what(), "Invalid metadata: m"},
      {HubApi::EnvironmentError::offlineModeError("m").what(), "Offline mode error: m"},
      {HubApi::EnvironmentError::fileIntegrityError("m").what(), "File integrity check failed: m"},
      {HubApi::EnvironmentError::fileWriteError("m").what(), "Failed to write file: m"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(c.actual, c.expected);
  }
}

} // namespace
