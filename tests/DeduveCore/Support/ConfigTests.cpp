#include "DeduveCore/Support/Config.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include <string>
#include <unordered_set>
#include <vector>

#include "DeduveCore/Support/Description.hpp"

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

namespace deduve {
namespace {

TEST(ConfigTest, EqualityCrossesCasesAndHashAgrees) {
  struct Case {
    Config left;
    Config right;
    bool equal;
  };
  const std::vector<Case> cases = {
      {Config(1), Config(1.0f), true},
      {Config(16777217), Config(16777216.0f), true},
      {Config(2), Config(2.5f), false},
      {Config(1), Config(true), true},
      {Config(0), Config(false), true},
      {Config(2), Config(false), true},
      {Config(-5), Config(false), true},
      {Config(2), Config(true), false},
      {Config(true), Config("True"), true},
      {Config(true), Config("t"), true},
      {Config(false), Config("0"), true},
      {Config(true), Config("yes"), false},
      {Config(1.0f), Config(true), false},
      {Config(1), Config("1"), false},
      {Config(2), Config(0), false},
      {Config(NAN), Config(NAN), false},
      {Config("é"), Config("e\u0301"), false},
      {Config::token(5, "abc"), Config::token(5, "abc"), true},
      {Config::token(5, "abc"), Config::token(6, "abc"), false},
      {Config(), Config(), true},
      {Config(), Config(0), false},
      {Config::array({1, "a"}), Config::array({1.0f, "a"}), true},
      {Config::array({1, "a"}), Config::array({1}), false},
      {Config::dictionary({{"a", 1}, {"b", true}}),
       Config::dictionary({{"b", "true"}, {"a", 1.0f}}), true},
      {Config::dictionary({{"a", 1}}), Config::dictionary({{"a", 1}, {"b", 2}}), false},
      {Config::dictionary({{"a", 1}}), Config::dictionary({{"A", 1}}), false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.left.description() + " vs " + c.right.description());
    EXPECT_EQ(c.left == c.right, c.equal);
    EXPECT_EQ(c.right == c.left, c.equal);
    if (c.equal) {
      EXPECT_EQ(c.left.hash(), c.right.hash());
    }
  }
  // Distinct texts spread over hashes, so sets of configuration values stay usable.
  EXPECT_NE(Config("abc").hash(), Config("abd").hash());
  EXPECT_NE(Config("é").hash(), Config("e\u0301").hash());

  std::unordered_set<Config> set{Config(1), Config(true), Config(1.0f), Config("x")};
  EXPECT_EQ(set.size(), 2u);
  EXPECT_TRUE(set.contains(Config(true)));
  EXPECT_TRUE(set.contains(Config("x")));
  EXPECT_FALSE(set.contains(Config("y")));
}

TEST(ConfigTest, Printing) {
  const std::vector<std::pair<Config, std::string>> cases = {
      {Config::dictionary({{"a", 1}}), "{[a: 1]}"},
      {Config::dictionary({}), "{[:]}"},
      {Config("abc"), "\"abc\""},
      {Config(1.0f), "1.0"},
      {Config(0.5f), "0.5"},
      {Config(-3), "-3"},
      {Config(false), "false"},
      {Config::array({1, "x"}), "[[1, \"x\"]]"},
      {Config::token(5, "abc"), "(5, abc)"},
      {Config(), "null"},
      {Config::dictionary({{"k", Config::dictionary({{"n", Config()}})}}), "{[k: {[n: null]}]}"},
  };
  for (const auto &[value, text] : cases) {
    EXPECT_EQ(value.description(), text);
  }
}

TEST(ConfigTest, NumberTextsUsePlainNotationWhileWholeNumbersAreExact) {
  const std::vector<std::pair<float, std::string>> floats = {
      {1.0f, "1.0"},
      {0.1f, "0.1"},
      {100000.0f, "100000.0"}, // shorter as "1e+05", still printed plainly
      {16777216.0f, "16777216.0"},
      {16777218.0f, "1.6777218e+07"},
      {1e16f, "1e+16"},
      {0.0001f, "0.0001"},
      {0.00001f, "1e-05"},
      {-0.0f, "-0.0"},
      {-2.5f, "-2.5"},
      {NAN, "nan"},
      {-INFINITY, "-inf"},
  };
  for (const auto &[value, text] : floats) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Config(value).description(), text);
  }
  const std::vector<std::pair<double, std::string>> doubles = {
      {100000.0, "100000.0"},
      {123456.789, "123456.789"},
      {9007199254740992.0, "9007199254740992.0"},
      {1e16, "1e+16"},
      {0.00012, "0.00012"},
      {1e-05, "1e-05"},
  };
  for (const auto &[value, text] : doubles) {
    SCOPED_TRACE(text);
    EXPECT_EQ(formatDouble(value), text);
  }
}

TEST(ConfigTest, DecodingTellsTokensFromArrays) {
  const Config token = Config::decode(nlohmann::ordered_json::parse(R"([5, "abc"])"));
  EXPECT_EQ(token.kind(), Config::Kind::token);
  EXPECT_EQ(token.tokenValue(), std::make_pair(std::uint64_t{5}, std::string("abc")));

  const Config reversed = Config::decode(nlohmann::ordered_json::parse(R"(["abc", 5])"));
  EXPECT_EQ(reversed.kind(), Config::Kind::array);
  EXPECT_EQ(reversed.tokenValue(), std::make_pair(std::uint64_t{5}, std::string("abc")));

  for (const char *text : {R"([-5, "abc"])", R"([5, "abc", 1])", R"([5.5, "abc"])"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Config::decode(nlohmann::ordered_json::parse(text)).kind(), Config::Kind::array);
  }
  EXPECT_FALSE(Config::decode(nlohmann::ordered_json::parse(R"(["abc", -5])")).tokenValue());
  EXPECT_FALSE(Config(7).tokenValue());

  // The document constructor never makes tokens.
  EXPECT_EQ(parse(R"([5, "abc"])").kind(), Config::Kind::array);
}

TEST(ConfigTest, DocumentNumbersAndRoundTrip) {
  const Config document =
      parse(R"({"i": 3, "big": 18446744073709551615, "f": 0.1, "t": true, "n": null,
                "s": "x", "list": ["a", 2, "b"]})");
  EXPECT_EQ(document["i"].kind(), Config::Kind::integer);
  EXPECT_EQ(document["big"].kind(), Config::Kind::floating);
  EXPECT_EQ(document["f"].floatValue(), 0.1f); // single precision, not the double 0.1
  EXPECT_EQ(document["t"].kind(), Config::Kind::boolean);
  EXPECT_TRUE(document["n"].isNull());
  EXPECT_EQ(document["list"].stringArray(), (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(document["s"].stringArray());

  const auto encoded = Config::dictionary({{"tok", Config::token(3, "x")}, {"f", 1.5f}}).encode();
  EXPECT_EQ(encoded.dump(), R"({"tok":[3,"x"],"f":1.5})");
  // A single-precision value is written as the float it is, not as its double expansion.
  EXPECT_EQ(Config::array({Config(0.1f), Config(-3.4e38f), Config(1e-45f), Config(16777216.0f)})
                .encode()
                .dump(),
            "[0.1,-3.4e+38,1e-45,16777216.0]");
  EXPECT_EQ(Config::decode(encoded),
            Config::dictionary({{"f", 1.5f}, {"tok", Config::token(3, "x")}}));
  // Keys keep the document's order for iteration.
  std::vector<std::string> keys;
  for (const auto &[key, value] : *document.dictionaryValue()) {
    keys.push_back(key.string());
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"i", "big", "f", "t", "n", "s", "list"}));
}

TEST(ConfigTest, ParsingTextAgreesWithParsingADocument) {
  const std::vector<std::string> documents = {
      R"({"i": 3, "big": 18446744073709551615, "neg": -7, "f": 0.1, "t": true, "n": null})",
      R"({"b": 1, "a": 2, "b": 3})",
      R"([[], {}, [1, [2, [3]]], {"x": {"y": ["z"]}}])",
      "{\"caf\\u00e9\": \"\xF0\x9F\x98\x80\", \"\": \"empty key\"}",
      R"("just a string")",
      R"(1e40)",
      R"([5, "abc"])",
  };
  for (const auto &text : documents) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Config::parse(text).encode().dump(), parse(text).encode().dump());
  }
}

TEST(ConfigTest, ParsingKeepsOrderOfManyKeysAndRefusesBadText) {
  std::string text = "{";
  constexpr int kKeys = 60000;
  for (int i = kKeys - 1; i >= 0; --i) {
    text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + (i > 0 ? "," : "}");
  }
  const Config document = Config::parse(text);
  ASSERT_NE(document.dictionaryValue(), nullptr);
  ASSERT_EQ(document.dictionaryValue()->size(), static_cast<std::size_t>(kKeys));
  EXPECT_EQ(document.dictionaryValue()->entries().front().first.string(), "k59999");
  EXPECT_EQ(document["k123"].integerValue(), 123);

  for (const std::string bad : {"", "{", "[1,]", "nul", "{\"a\" 1}", "[1] 2"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(Config::parse(bad), nlohmann::json::parse_error);
  }
}

TEST(ConfigTest, ParsingRefusesNestingDeeperThan512Levels) {
  const auto arrays = [](int depth) {
    return std::string(static_cast<std::size_t>(depth), '[') +
           std::string(static_cast<std::size_t>(depth), ']');
  };
  const auto objects = [](int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) {
      text += "{\"a\":";
    }
    return text + "1" + std::string(static_cast<std::size_t>(depth), '}');
  };
  const Config deepest = Config::parse(arrays(512));
  EXPECT_EQ(deepest.arrayValue()->size(), 1u);
  EXPECT_EQ(Config::parse(objects(511))["a"]["a"].kind(), Config::Kind::dictionary);
  // 200 KB of brackets once overflowed the stack; now they are a parse error like bad text.
  for (const std::string &text :
       {arrays(513), objects(513), arrays(100000), "[" + arrays(100000)}) {
    SCOPED_TRACE(text.size());
    EXPECT_THROW(Config::parse(text), nlohmann::json::parse_error);
  }
}

TEST(ConfigTest, DictionaryLiteralKeepsLaterDuplicateAndKeysAreCodeUnits) {
  const Config literal = Config::dictionary({{"a", 1}, {"b", 2}, {"a", 3}});
  EXPECT_EQ(literal.dictionaryValue()->size(), 2u);
  EXPECT_EQ(literal["a"].integerValue(), 3);

  const Config accents = parse(R"({"é": "precomposed", "e\u0301": "combining"})");
  EXPECT_EQ(accents["é"].stringValue(), "precomposed");
  EXPECT_EQ(accents["e\u0301"].stringValue(), "combining");
}

TEST(ConfigTest, ParsedLargeDictionaryFindsEveryKeyOnceInOrder) {
  constexpr int kKeys = 5000;
  std::string text = "{";
  for (int i = 0; i < kKeys; ++i) {
    text += "\"k" + std::to_string(i) + "\": " + std::to_string(i) + ", ";
  }
  text += R"("k17": -1, "": 7})";
  const Config document = parse(text);
  const auto &dictionary = *document.dictionaryValue();
  ASSERT_EQ(dictionary.size(), static_cast<std::size_t>(kKeys) + 1);
  int wrong = 0;
  for (int i = 0; i < kKeys; ++i) {
    const Config *found = dictionary.find(BinaryDistinctString("k" + std::to_string(i)));
    wrong += found == nullptr || found->integerValue() != (i == 17 ? -1 : i);
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(dictionary.entries()[17].first, BinaryDistinctString("k17"));
  EXPECT_EQ(dictionary.entries().back().first, BinaryDistinctString(""));
  EXPECT_EQ(dictionary.find(BinaryDistinctString(""))->integerValue(), 7);
  EXPECT_EQ(dictionary.find(BinaryDistinctString("k5000")), nullptr);
  EXPECT_EQ(Config::parse("{}").dictionaryValue()->find(BinaryDistinctString("k")), nullptr);
}

// Keys whose standard-library hash lands in the first four slots of a table of `slots`: crafted
// once, offline, such keys would collide on every machine under a fixed hash.
std::vector<std::string> keysCollidingUnderTheStandardHash(std::size_t count, std::size_t slots) {
  std::vector<std::string> keys;
  for (std::uint64_t n = 0; keys.size() < count; ++n) {
    const std::string key = "k" + std::to_string(n);
    const std::u16string units(key.begin(), key.end());
    if ((std::hash<std::u16string_view>{}(units) & (slots - 1)) < 4) {
      keys.push_back(key);
    }
  }
  return keys;
}

TEST(ConfigTest, KeysCraftedToCollideSpreadOverTheTable) {
  constexpr std::size_t kKeys = 2000; // a table of 4096 slots
  const std::vector<std::string> keys = keysCollidingUnderTheStandardHash(kKeys, 4096);
  std::string text = "{";
  for (std::size_t i = 0; i < kKeys; ++i) {
    text += (i == 0 ? "\"" : ", \"") + keys[i] + "\": " + std::to_string(i);
  }
  const Config document = Config::parse(text + "}");
  const auto &dictionary = *document.dictionaryValue();
  ASSERT_EQ(dictionary.size(), kKeys);
  // Under the fixed hash these keys share one run of 2000 slots, which every insert walks.
  EXPECT_LT(dictionary.longestProbe(), 64u);
  int wrong = 0;
  for (std::size_t i = 0; i < kKeys; ++i) {
    wrong += document[keys[i]].integerValue() != static_cast<std::int64_t>(i);
  }
  EXPECT_EQ(wrong, 0);
}

TEST(ConfigTest, CopiesShareLargeContainers) {
  std::vector<std::pair<BinaryDistinctString, Config>> vocabulary;
  for (int i = 0; i < 1000; ++i) {
    vocabulary.emplace_back("token" + std::to_string(i), i);
  }
  const Config document = Config::dictionary(
      {{"model", Config::dictionary({{"vocab", Config::dictionary(std::move(vocabulary))}})}});
  const Config vocab = document["model"]["vocab"];
  EXPECT_EQ(&vocab.dictionaryValue()->entries(),
            &document["model"]["vocab"].dictionaryValue()->entries());
  EXPECT_EQ(vocab["token999"].integerValue(), 999);
}

} // namespace
} // namespace deduve
