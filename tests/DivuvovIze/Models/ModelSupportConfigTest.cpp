#include "DivuvovIze/Models/ModelSupportConfig.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "DeduveCore/Support/Logging.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/ModelUtilities.hpp"
#include "DivuvovIze/Models/ModelVariant.hpp"
#include "tests/support/LogCapture.hpp"

namespace divuvovize {
namespace {

DeviceSupport device(std::vector<std::string> identifiers, std::string defaultModel,
                     std::vector<std::string> supported) {
  return DeviceSupport{std::nullopt, std::move(identifiers),
                       ModelSupport{std::move(defaultModel), std::move(supported), {}}};
}

using mqtest::LogCapture;

TEST(ModelSupportConfigTest, LongestMatchingPrefixWinsAndTheEarliestAmongEquals) {
  const ModelSupportConfig config("custom-table", "1",
                                  {device({"iPad15"}, "first", {"m1"}),
                                   device({"iPad15,7", "Mac"}, "second", {"m2"}),
                                   device({"Mac"}, "third", {"m3"}), device({}, "never", {"m4"}),
                                   device({""}, "empty", {"m5"})},
                                  /*includeFallback=*/true);
  struct Case {
    std::string deviceIdentifier;
    std::string expectedDefault;
  };
  const std::vector<Case> cases = {
      {"iPad15,7", "second"}, {"iPad15,8", "first"},
      {"iPad15", "first"},    {"Mac14,2", "second"}, // same length: the earlier row wins
      {"iPhone9", "empty"},                          // only the empty identifier matches
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.deviceIdentifier);
    EXPECT_EQ(config.modelSupport(c.deviceIdentifier).defaultModel, c.expectedDefault);
  }
}

TEST(ModelSupportConfigTest, NoMatchGivesTheDefaultSupportAndLogsBothOutcomes) {
  const ModelSupportConfig config(
      "custom-table", "1",
      {device({"Mac14", "Mac15"}, "a", {"x", "y"}), device({"iPhone"}, "b", {"y", "z"})});
  LogCapture log;
  const auto fallback = config.modelSupport("Watch1");
  EXPECT_EQ(fallback, (ModelSupport{"openai_whisper-base", {"x", "y", "z"}, {}}));
  config.modelSupport("Mac15,3");
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_EQ(log.lines()[0], "No device support found for Watch1, using default");
  EXPECT_EQ(log.lines()[1], R"(Matched Mac15,3 to devices: ["Mac14", "Mac15"])");
}

TEST(ModelSupportConfigTest, DerivedFieldsIgnoreDocumentDisabledLists) {
  const auto document = Json::parse(R"({
    "name": "other-repo", "version": "2", "extra": true,
    "device_support": [
      {"identifiers": ["A"], "models": {"default": "m1", "supported": ["m1", "m2"],
                                        "disabled": ["m9"]}},
      {"chips": null, "identifiers": ["B"], "models": {"default": "m3", "supported": ["m3", "m1"]}}
    ]})");
  const auto config = ModelSupportConfig::fromJson(document);
  EXPECT_EQ(config.knownModels(), (std::vector<std::string>{"m1", "m2", "m3"}));
  ASSERT_EQ(config.deviceSupports().size(), 2u); // not merged: name is no part of the fallback's
  EXPECT_EQ(config.deviceSupports()[0].models.disabled, (std::vector<std::string>{"m3"}));
  EXPECT_EQ(config.deviceSupports()[1].models.disabled, (std::vector<std::string>{"m2"}));
  EXPECT_FALSE(config.deviceSupports()[1].chips.has_value());
  EXPECT_EQ(config.defaultSupport().models.defaultModel, "openai_whisper-base");
  EXPECT_TRUE(config.defaultSupport().identifiers.empty());

  // The written document carries only the three fields, without "chips" when absent and
  // without "disabled".
  EXPECT_EQ(config.toJson().dump(),
            R"({"name":"other-repo","version":"2","device_support":[)"
            R"({"identifiers":["A"],"models":{"default":"m1","supported":["m1","m2"]}},)"
            R"({"identifiers":["B"],"models":{"default":"m3","supported":["m3","m1"]}}]})");
}

TEST(ModelSupportConfigTest, DecodeFailuresNameTheKey) {
  struct Case {
    const char *document;
    std::string path;
  };
  const std::vector<Case> cases = {
      {R"({"version":"1","device_support":[]})", "name"},
      {R"({"name":"x","version":1,"device_support":[]})", "version"},
      {R"({"name":"x","version":"1","device_support":[{"models":{"default":"a","supported":[]}}]})",
       "device_support[0].identifiers"},
      {R"({"name":"x","version":"1","device_support":[{"identifiers":[],"models":{"supported":[]}}]})",
       "device_support[0].models.default"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.document);
    try {
      ModelSupportConfig::fromJson(Json::parse(c.document));
      ADD_FAILURE() << "decoded";
    } catch (const JsonDecodingError &e) {
      EXPECT_EQ(e.codingPath(), c.path) << e.what();
    }
  }
}

// The document's text is read in time linear in its length: 40,000 keys beside the few the
// decoder reads (in the document and in a row) are read as quickly as their bytes, which an
// ordered document's parse did in the square of their count. A repeated key keeps its later
// value; deep nesting and broken text are refused.
TEST(ModelSupportConfigTest, ParsesDocumentsOfManyKeysAndRefusesDeepOrBrokenOnes) {
  std::string extra;
  for (int i = 0; i < 20000; ++i) {
    extra += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  }
  const std::string document =
      "{" + extra + R"("name":"old","name":"other-repo","version":"2","device_support":[)" +
      R"({"identifiers":["A"],"models":{)" + extra + R"("default":"m1","supported":["m1"]}}]})";
  const auto config = ModelSupportConfig::parse(document, "config.json");
  EXPECT_EQ(config.repoName(), "other-repo");
  EXPECT_EQ(config.repoVersion(), "2");
  ASSERT_EQ(config.deviceSupports().size(), 1u);
  EXPECT_EQ(config.deviceSupports()[0].models.defaultModel, "m1");
  EXPECT_EQ(config.deviceSupports()[0].identifiers, std::vector<std::string>{"A"});

  try {
    ModelSupportConfig::parse(R"({"version":"1","device_support":[]})", "config.json");
    ADD_FAILURE() << "decoded";
  } catch (const JsonDecodingError &e) {
    EXPECT_EQ(e.codingPath(), "config.json.name");
  }
  const std::string deep = R"({"name":"x","version":"1","device_support":[],"extra":)" +
                           std::string(70, '[') + std::string(70, ']') + "}";
  try {
    ModelSupportConfig::parse(deep, "config.json");
    ADD_FAILURE() << "decoded";
  } catch (const std::runtime_error &e) {
    EXPECT_STREQ(e.what(), "config.json: nested more than 64 levels deep");
  }
  EXPECT_THROW(ModelSupportConfig::parse(R"({"name":)", "config.json"),
               nlohmann::json::parse_error);
}

TEST(ModelSupportConfigTest, MergesWithTheFallbackWhenItsNameIsPartOfTheFallbacksName) {
  const auto &fallbackRows = Constants::fallbackDeviceSupports();
  DeviceSupport mine{std::string("my chips"),
                     {"Mac14", "MyDevice"},
                     ModelSupport{"my-default", {"my-model", "openai_whisper-tiny"}, {}}};
  const ModelSupportConfig merged("divuvovize-coreml", "9", {mine});
  // The given row keeps its own default, chips and identifiers and gains the supported models
  // of the first fallback row sharing an identifier (row 4, "M2, M3, M4"), without duplicates.
  const auto &rows = merged.deviceSupports();
  ASSERT_EQ(rows.size(), fallbackRows.size()); // row 4 replaced by the given one
  EXPECT_EQ(rows[0].chips, std::optional<std::string>("my chips"));
  EXPECT_EQ(rows[0].models.defaultModel, "my-default");
  EXPECT_EQ(rows[0].identifiers, mine.identifiers);
  std::vector<std::string> expectedSupported = {"my-model", "openai_whisper-tiny"};
  for (const auto &model : fallbackRows[3].models.supported) {
    if (model != "openai_whisper-tiny") {
      expectedSupported.push_back(model);
    }
  }
  EXPECT_EQ(rows[0].models.supported, expectedSupported);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    EXPECT_NE(rows[i].chips, std::optional<std::string>("M2, M3, M4"));
  }
  EXPECT_EQ(rows[1].chips, std::optional<std::string>("A12, A13, S9, S10"));
  EXPECT_EQ(merged.modelSupport("Mac14,5").defaultModel, "my-default");
  EXPECT_EQ(merged.modelSupport("iPhone14,2").defaultModel, "openai_whisper-base");

  const ModelSupportConfig unmerged("divuvovize-coreml-other", "9", {mine});
  EXPECT_EQ(unmerged.deviceSupports().size(), 1u);
  const ModelSupportConfig optedOut("divuvovize-coreml", "9", {mine}, /*includeFallback=*/false);
  EXPECT_EQ(optedOut.deviceSupports().size(), 1u);
}

TEST(ModelSupportConfigTest, BuiltInTable) {
  const auto table = Constants::fallbackModelSupportConfig();
  EXPECT_EQ(table.repoName(), "divuvovize-coreml-fallback");
  EXPECT_EQ(table.repoVersion(), "0.4");
  ASSERT_EQ(table.deviceSupports().size(), 6u);
  struct Case {
    std::string deviceIdentifier;
    std::string chips;
    std::string defaultModel;
  };
  const std::vector<Case> cases = {
      {"iPad13,16", "M1", "openai_whisper-large-v3-v20240930_626MB"},
      {"iPad13,1", "A14", "openai_whisper-base"},
      {"iPad13,10", "M1", "openai_whisper-large-v3-v20240930_626MB"},
      {"iPhone12,8", "A12, A13, S9, S10", "openai_whisper-tiny"},
      {"Mac15,6", "M2, M3, M4", "openai_whisper-large-v3-v20240930"},
      {"iPad15,7", "A16, A17 Pro, A18", "openai_whisper-base"},
      {"iPad15,3", "M2, M3, M4", "openai_whisper-large-v3-v20240930"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.deviceIdentifier);
    const auto support = table.modelSupport(c.deviceIdentifier);
    EXPECT_EQ(support.defaultModel, c.defaultModel);
    const auto row = std::find_if(
        table.deviceSupports().begin(), table.deviceSupports().end(),
        [&](const DeviceSupport &d) { return d.chips == std::optional<std::string>(c.chips); });
    ASSERT_NE(row, table.deviceSupports().end());
    EXPECT_EQ(support, row->models);
  }
  const auto &known = Constants::knownModels();
  EXPECT_EQ(known, table.knownModels());
  // Row 1 lists base first, so first appearance starts base, base.en, tiny, tiny.en.
  ASSERT_GE(known.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(known.begin(), known.begin() + 4),
            (std::vector<std::string>{"openai_whisper-base", "openai_whisper-base.en",
                                      "openai_whisper-tiny", "openai_whisper-tiny.en"}));
  EXPECT_NE(std::find(known.begin(), known.end(), "distil-whisper_distil-large-v3_turbo"),
            known.end());
  // The A14 row supports only the six small models: every other known model is disabled.
  const auto a14 = table.modelSupport("iPhone13,1");
  EXPECT_EQ(a14.disabled.size() + a14.supported.size(), known.size());
  EXPECT_EQ(ModelUtilities::modelSupport("iPhone13,1"), a14);
  EXPECT_EQ(
      ModelUtilities::modelSupport("iPhone13,1", ModelSupportConfig("t", "1", {})).defaultModel,
      "openai_whisper-base");
}

TEST(ModelSupportConfigTest, ModelVariantsAndSizeOrdering) {
  EXPECT_EQ(description(ModelVariant::largev2), "large-v2");
  EXPECT_EQ(description(ModelVariant::tinyEn), "tiny.en");
  EXPECT_FALSE(isMultilingual(ModelVariant::tinyEn));
  EXPECT_TRUE(isMultilingual(ModelVariant::largev3));
  int english = 0;
  for (const auto variant : allModelVariants) {
    english += isMultilingual(variant) ? 0 : 1;
  }
  EXPECT_EQ(english, 4);

  EXPECT_EQ(sortModelsBySizeOrder(
                {"openai_whisper-base", "openai_whisper-tiny.en", "openai_whisper-large-v3"}),
            (std::vector<std::string>{"openai_whisper-tiny.en", "openai_whisper-base",
                                      "openai_whisper-large-v3"}));
  // Folder paths count by their first component; unknown names and duplicates drop out.
  EXPECT_EQ(ModelUtilities::formatModelFiles({"openai_whisper-small/AudioEncoder.mlmodelc",
                                              "openai_whisper-small/TextDecoder.mlmodelc",
                                              "openai_whisper-base.en", "some-other-model",
                                              "distil-whisper_distil-large-v3_594MB"}),
            (std::vector<std::string>{"openai_whisper-base.en", "openai_whisper-small",
                                      "distil-whisper_distil-large-v3_594MB"}));
  EXPECT_EQ(trimTrailingSlashes({"a//", "b", "c/"}), (std::vector<std::string>{"a/", "b", "c"}));
}

} // namespace
} // namespace divuvovize
