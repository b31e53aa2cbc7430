#include "platform/services/JsonFileSettings.hpp"

#include "platform/system/ManualExecutor.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace platform {
namespace {

TEST(JsonFileSettingsTest, ValuesSurviveAReopen) {
  mqtest::TempDir temp;
  const auto file = temp / "Murmurquill" / "settings.json";
  {
    JsonFileSettings settings(file);
    EXPECT_FALSE(settings.contains("refineEnabled"));
    settings.setBool("refineEnabled", false);
    settings.setString("selectedHotkeyKey", "leftOption");
    settings.setBool("gone", true);
    settings.remove("gone");
  }
  JsonFileSettings reopened(file);
  EXPECT_EQ(reopened.boolValue("refineEnabled"), false);
  EXPECT_EQ(reopened.stringValue("selectedHotkeyKey"), "leftOption");
  EXPECT_FALSE(reopened.contains("gone"));
  EXPECT_FALSE(reopened.boolValue("selectedHotkeyKey")) << "a string is no Boolean";
  EXPECT_FALSE(std::filesystem::exists(file.string() + ".tmp"));
}

TEST(JsonFileSettingsTest, IntegersAreReadOnlyFromIntegers) {
  mqtest::TempDir temp;
  const auto file =
      temp.write("settings.json", R"({"half": 1.5, "text": "3", "huge": 18446744073709551615})");
  {
    JsonFileSettings settings(file);
    EXPECT_FALSE(settings.intValue("half"));
    EXPECT_FALSE(settings.intValue("text"));
    EXPECT_FALSE(settings.intValue("huge")) << "beyond the signed 64-bit range";
    EXPECT_FALSE(settings.intValue("absent"));
    settings.setInt("onboardingResumePage", -3);
  }
  EXPECT_EQ(JsonFileSettings(file).intValue("onboardingResumePage"), -3);
}

TEST(JsonFileSettingsTest, OtherValuesAreKeptAndAnUnreadableFileIsSetAside) {
  mqtest::TempDir temp;
  const auto file = temp.write("settings.json", R"({"count": 3, "onboardingComplete": true})");
  {
    JsonFileSettings settings(file);
    EXPECT_TRUE(settings.boolOrFalse("onboardingComplete"));
    EXPECT_TRUE(settings.contains("count"));
    settings.setBool("refineEnabled", true);
  }
  EXPECT_NE(mqtest::TempDir::read(file).find("\"count\":3"), std::string::npos);

  const auto broken = temp.write("broken.json", "{not json");
  JsonFileSettings settings(broken);
  EXPECT_FALSE(settings.contains("anything"));
  EXPECT_EQ(mqtest::TempDir::read(broken.string() + ".unreadable"), "{not json");
  settings.setBool("refineEnabled", true);
  EXPECT_EQ(JsonFileSettings(broken).boolValue("refineEnabled"), true);
}

// Files that cost the reader out of proportion are set aside like any other damage, and the
// store starts empty and saves again.
TEST(JsonFileSettingsTest, AFileTooDeepOrTooLargeIsSetAside) {
  struct Case {
    const char *what;
    std::string text;
  };
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const Case cases[] = {
      {"nested 100,000 deep", "{\"refineEnabled\": true, \"x\": " + deep + "}"},
      {"nested just past the bound",
       "{\"x\": " + std::string(16, '[') + std::string(16, ']') + "}"},
      {"larger than the bound", "{\"refineEnabled\": true, \"x\": \"" +
                                    std::string(JsonFileSettings::kMaxFileBytes, 'x') + "\"}"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    mqtest::TempDir temp;
    const auto file = temp.write("settings.json", c.text);
    {
      JsonFileSettings settings(file);
      EXPECT_FALSE(settings.contains("refineEnabled"));
      settings.setBool("refineEnabled", false);
    }
    EXPECT_EQ(mqtest::TempDir::read(file.string() + ".unreadable"), c.text);
    EXPECT_EQ(mqtest::TempDir::read(file), "{\"refineEnabled\":false}\n");
  }
}

// A flood of changes (a program clicking the refine toggle thousands of times over the bus)
// costs one write per half second, not one per change; what is left is written at the end.
TEST(JsonFileSettingsTest, ChangesOnAnExecutorAreWrittenTogether) {
  mqtest::TempDir temp;
  const auto file = temp / "settings.json";
  auto main = std::make_shared<ManualExecutor>();
  {
    JsonFileSettings settings(file, {}, main);
    for (int click = 0; click < 1001; ++click) {
      settings.setBool("refineEnabled", click % 2 == 0);
    }
    EXPECT_FALSE(std::filesystem::exists(file));
    main->advance(JsonFileSettings::kSaveDelay - std::chrono::milliseconds(1));
    EXPECT_FALSE(std::filesystem::exists(file));
    main->advance(std::chrono::milliseconds(1));
    EXPECT_EQ(mqtest::TempDir::read(file), "{\"refineEnabled\":true}\n");
    settings.setString("selectedHotkeyKey", "leftOption");
    EXPECT_EQ(settings.stringValue("selectedHotkeyKey"), "leftOption");
  }
  EXPECT_EQ(mqtest::TempDir::read(file),
            "{\"refineEnabled\":true,\"selectedHotkeyKey\":\"leftOption\"}\n");
  main->advance(JsonFileSettings::kSaveDelay); // the store is gone: its timer does nothing
}

// Each damaged file is somebody's data: a second one must not overwrite the first.
TEST(JsonFileSettingsTest, EachDamagedFileIsKeptUnderItsOwnName) {
  mqtest::TempDir temp;
  const auto file = temp / "settings.json";
  for (const char *text : {"{first", "{second", "{third"}) {
    temp.write("settings.json", text);
    JsonFileSettings settings(file);
    settings.setBool("refineEnabled", true);
  }
  EXPECT_EQ(mqtest::TempDir::read(file.string() + ".unreadable"), "{first");
  EXPECT_EQ(mqtest::TempDir::read(file.string() + ".unreadable.2"), "{second");
  EXPECT_EQ(mqtest::TempDir::read(file.string() + ".unreadable.3"), "{third");
}

// A FIFO in the file's place would block start-up for good while nobody writes to it.
TEST(JsonFileSettingsTest, AFifoInTheFilesPlaceIsSetAsideUnread) {
  mqtest::TempDir temp;
  const auto file = temp / "settings.json";
  ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
  JsonFileSettings settings(file);
  EXPECT_FALSE(settings.contains("refineEnabled"));
  EXPECT_TRUE(std::filesystem::is_fifo(file.string() + ".unreadable"));
  settings.setBool("refineEnabled", true);
  EXPECT_EQ(mqtest::TempDir::read(file), "{\"refineEnabled\":true}\n");
}

TEST(JsonFileSettingsTest, KeepsOnlyTheOwnedKeysWithPlainValuesAndWritesCompactly) {
  mqtest::TempDir temp;
  const auto file = temp.write("settings.json", R"({
    "refineEnabled": {"a": {"b": {"c": [[[[1]]]]}}},
    "selectedHotkeyKey": ["leftOption", {"nested": [1, 2, 3]}],
    "onboardingResumePage": 2,
    "stranger": "kept by nobody"
  })");
  {
    JsonFileSettings settings(file, {"refineEnabled", "selectedHotkeyKey", "onboardingResumePage"});
    EXPECT_EQ(settings.intValue("onboardingResumePage"), 2);
    // A key holding something else still holds something: no Boolean, no string.
    EXPECT_TRUE(settings.contains("refineEnabled"));
    EXPECT_EQ(settings.boolValue("refineEnabled"), std::nullopt);
    EXPECT_EQ(settings.stringValue("selectedHotkeyKey"), std::nullopt);
    EXPECT_FALSE(settings.contains("stranger"));
    settings.setString("selectedHotkeyKey", "rightOption");
  }
  EXPECT_EQ(mqtest::TempDir::read(file),
            "{\"onboardingResumePage\":2,\"refineEnabled\":null,\"selectedHotkeyKey\":"
            "\"rightOption\"}\n");
  EXPECT_FALSE(std::filesystem::exists(file.string() + ".unreadable"));

  // Without a list of keys every top-level key is kept, with its plain value only.
  JsonFileSettings any(temp.write("any.json", R"({"stranger": "x", "padding": {"a": 1}})"));
  EXPECT_EQ(any.stringValue("stranger"), "x");
  EXPECT_TRUE(any.contains("padding"));
  any.setBool("refineEnabled", true);
  EXPECT_EQ(mqtest::TempDir::read(temp / "any.json"),
            "{\"padding\":null,\"refineEnabled\":true,\"stranger\":\"x\"}\n");
}

} // namespace
} // namespace platform
