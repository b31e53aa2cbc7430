#include "platform/system/JsonFileSettings.hpp"

#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

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
  EXPECT_NE(mqtest::TempDir::read(file).find("\"count\": 3"), std::string::npos);

  const auto broken = temp.write("broken.json", "{not json");
  JsonFileSettings settings(broken);
  EXPECT_FALSE(settings.contains("anything"));
  EXPECT_EQ(mqtest::TempDir::read(broken.string() + ".unreadable"), "{not json");
  settings.setBool("refineEnabled", true);
  EXPECT_EQ(JsonFileSettings(broken).boolValue("refineEnabled"), true);
}

} // namespace
} // namespace platform
