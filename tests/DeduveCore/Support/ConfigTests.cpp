#include "DeduveCore/Support/Config.hpp"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

namespace deduve {
namespace {

Config parse(const std::string &text) { return Config(nlohmann::ordered_json::parse(text)); }

TEST(ConfigTest, LooksUpKeysAsWrittenThenInSnakeCase) {
  const Config document = parse(R"({"tokenizer_class": "X", "addBosToken": 1, "add_bos_token": 2,
                                   "nested": {"eos_token": "</s>"}})");
  EXPECT_EQ(document["tokenizerClass"].stringValue(), "X");
  EXPECT_EQ(document["tokenizer_class"].stringValue(), "X");
  EXPECT_EQ(document["addBosToken"].integerValue(), 1);
  EXPECT_EQ(document["nested"]["eosToken"].stringValue(), "</s>");
  EXPECT_TRUE(document["missing"]["deeper"].isNull());
}

TEST(ConfigTest, LookupInNonDictionaryIsNullOrAbsent) {
  for (const Config &value : {parse("[1, 2]"), Config("text"), Config()}) {
    SCOPED_TRACE(value.description());
    EXPECT_TRUE(value["key"].isNull());
    EXPECT_FALSE(value.subscriptIfDictionary("key").has_value());
  }
  const auto inDictionary = parse(R"({"a": 1})").subscriptIfDictionary("b");
  ASSERT_TRUE(inDictionary.has_value());
  EXPECT_TRUE(inDictionary->isNull());
}

TEST(ConfigTest, CamelCaseToSnakeCase) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"tokenizerClass", "tokenizer_class"},
      {"addBosToken", "add_bos_token"},
      {"URLPath", "urlpath"},
      {"eos_token", "eos_token"},
      {"a1B", "a1_b"},
      {"_X", "__x"},
      {"String", "string"},
      {"addedTokens", "added_tokens"},
      {"addPrefixSpace", "add_prefix_space"},
      {"", ""},
      {"caféÉtat", "café_état"},
      {"xǅy", "x_ǆy"}, // title-case letter (Lt)
  };
  for (const auto &[key, expected] : cases) {
    SCOPED_TRACE(key);
    EXPECT_EQ(Config::camelCaseToSnakeCase(key), expected);
  }
}

TEST(ConfigTest, BoolValueCoercion) {
  const std::vector<std::pair<Config, std::optional<bool>>> cases = {
      {Config("TRUE"), true},      {Config("T"), true},
      {Config("1"), true},         {Config("true"), true},
      {Config("False"), false},    {Config("F"), false},
      {Config("0"), false},        {Config("yes"), std::nullopt},
      {Config(""), std::nullopt},  {Config(1), true},
      {Config(2), false},          {Config(0), false},
      {Config(-1), false},         {Config(1.0f), std::nullopt},
      {Config(true), true},        {Config(false), false},
      {Config(), std::nullopt},    {parse("[true]"), std::nullopt},
      {parse("{}"), std::nullopt},
  };
  for (const auto &[value, expected] : cases) {
    SCOPED_TRACE(value.description());
    EXPECT_EQ(value.boolValue(), expected);
  }
}

} // namespace
} // namespace deduve
