#include "DeduveCore/Tokenizers/Normalizer.hpp"

#include <gtest/gtest.h>

#include "tests/DeduveCore/Tokenizers/StageTestSupport.hpp"

namespace deduve {
namespace {

using stagetest::cfg;
using stagetest::refusal;

TEST(NormalizerTests, FactoryBuildsEveryTypeName) {
  const struct {
    const char *json;
    bool (*check)(const Normalizer *);
  } cases[] = {
      {R"({"type": "Sequence", "normalizers": []})",
       [](const Normalizer *n) { return dynamic_cast<const NormalizerSequence *>(n) != nullptr; }},
      {R"({"type": "Prepend"})",
       [](const Normalizer *n) { return dynamic_cast<const PrependNormalizer *>(n) != nullptr; }},
      {R"({"type": "Replace"})",
       [](const Normalizer *n) { return dynamic_cast<const ReplaceNormalizer *>(n) != nullptr; }},
      {R"({"type": "Lowercase"})",
       [](const Normalizer *n) { return dynamic_cast<const LowercaseNormalizer *>(n) != nullptr; }},
      {R"({"type": "NFD"})",
       [](const Normalizer *n) { return dynamic_cast<const NFDNormalizer *>(n) != nullptr; }},
      {R"({"type": "NFC"})",
       [](const Normalizer *n) { return dynamic_cast<const NFCNormalizer *>(n) != nullptr; }},
      {R"({"type": "NFKD"})",
       [](const Normalizer *n) { return dynamic_cast<const NFKDNormalizer *>(n) != nullptr; }},
      {R"({"type": "NFKC"})",
       [](const Normalizer *n) { return dynamic_cast<const NFKCNormalizer *>(n) != nullptr; }},
      {R"({"type": "Bert"})",
       [](const Normalizer *n) { return dynamic_cast<const BertNormalizer *>(n) != nullptr; }},
      {R"({"type": "BertNormalizer"})",
       [](const Normalizer *n) { return dynamic_cast<const BertNormalizer *>(n) != nullptr; }},
      {R"({"type": "Precompiled", "precompiled_charsmap": "AAAA"})",
       [](const Normalizer *n) {
         return dynamic_cast<const PrecompiledNormalizer *>(n) != nullptr;
       }},
      {R"({"type": "StripAccents"})",
       [](const Normalizer *n) {
         return dynamic_cast<const StripAccentsNormalizer *>(n) != nullptr;
       }},
      {R"({"type": "Strip"})",
       [](const Normalizer *n) { return dynamic_cast<const StripNormalizer *>(n) != nullptr; }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.json);
    const auto normalizer = makeNormalizer(cfg(c.json));
    EXPECT_TRUE(c.check(normalizer.get()));
  }
  EXPECT_EQ(makeNormalizer(nullptr), nullptr);
  EXPECT_EQ(makeNormalizer(cfg(R"({"lowercase": true})")), nullptr);
  EXPECT_EQ(makeNormalizer(cfg(R"({"type": ["NFC"]})")), nullptr);
}

TEST(NormalizerTests, RefusesUnknownTypesBrokenSequencesAndBadPatterns) {
  for (const char *type : {"nfkc", "Bert ", "", "Sequences"}) {
    SCOPED_TRACE(type);
    const Config config = Config::dictionary({{"type", type}});
    EXPECT_EQ(refusal([&] { makeNormalizer(config); }),
              std::string("Unsupported Normalizer type: ") + type);
  }
  EXPECT_EQ(refusal([] { makeNormalizer(cfg(R"({"type": "Sequence"})")); }),
            "No normalizers in Sequence");
  EXPECT_EQ(refusal([] {
              makeNormalizer(cfg(R"({"type": "Sequence", "normalizers": [{"type": "nfc"}]})"));
            }),
            "Unsupported Normalizer type: nfc");
  EXPECT_EQ(refusal([] {
              makeNormalizer(
                  cfg(R"({"type": "Replace", "pattern": {"Regex": "[a-"}, "content": ""})"));
            }),
            "Cannot build regexp from [a-");
}

TEST(NormalizerTests, BertOptionsAndDefaults) {
  const auto bert = [](const char *json) {
    auto built = makeNormalizer(cfg(json));
    const auto &b = *dynamic_cast<const BertNormalizer *>(built.get());
    return std::vector<bool>{b.shouldCleanText(), b.shouldHandleChineseChars(),
                             b.shouldStripAccents(), b.shouldLowercase()};
  };
  using Flags = std::vector<bool>;
  EXPECT_EQ(bert(R"({"type": "Bert"})"), Flags({true, true, true, true}));
  EXPECT_EQ(bert(R"({"type": "Bert", "lowercase": false})"), Flags({true, true, false, false}));
  EXPECT_EQ(bert(R"({"type": "Bert", "lowercase": false, "strip_accents": true})"),
            Flags({true, true, true, false}));
  EXPECT_EQ(bert(R"({"type": "Bert", "strip_accents": null, "lowercase": "f"})"),
            Flags({true, true, false, false}));
  EXPECT_EQ(bert(R"({"type": "Bert", "clean_text": 0, "handle_chinese_chars": "false"})"),
            Flags({false, false, true, true}));
  EXPECT_EQ(bert(R"({"type": "Bert", "cleanText": "yes"})"), Flags({true, true, true, true}));
}

struct NormalizeCase {
  const char *name;
  const char *config;
  std::string text;
  std::string expected;
};

class NormalizeTest : public ::testing::TestWithParam<NormalizeCase> {};

TEST_P(NormalizeTest, Text) {
  const NormalizeCase &c = GetParam();
  const auto normalizer = makeNormalizer(cfg(c.config));
  ASSERT_NE(normalizer, nullptr);
  EXPECT_EQ((*normalizer)(c.text), c.expected);
}

const NormalizeCase kNormalizeCases[] = {
    {"bertDefaults", R"({"type": "BertNormalizer"})", "H\xC3\xA9llo\tWORLD", "hello world"},
    {"bertChinese", R"({"type": "Bert"})", "日本", " 日  本 "},
    {"bertChineseExtensionB", R"({"type": "Bert"})", "a\xF0\xA0\x80\x80", "a \xF0\xA0\x80\x80 "},
    {"bertKeepsCaseAndAccents", R"({"type": "Bert", "lowercase": false})", "H\xC3\xA9llo",
     "H\xC3\xA9llo"},
    {"bertStripsOnlyCombiningDiacriticsBlock",
     R"({"type": "Bert", "lowercase": false, "strip_accents": true})",
     "H\xC3\xA9llo \xE0\xA4\x95\xE0\xA4\xBF", "Hello \xE0\xA4\x95\xE0\xA4\xBF"},
    {"bertCleanTextCrLfIsOneSpace", R"({"type": "Bert"})", "a\r\nb\rc\nd", "a b c d"},
    {"bertCleanTextRemovesControls", R"({"type": "Bert"})",
     std::string("a\x07") + "b\xE2\x80\x8B" + "c\xEF\xBF\xBD" + std::string(1, '\0') + "d", "abcd"},
    {"bertWithoutCleanText", R"({"type": "Bert", "clean_text": false})", "a\tb", "a\tb"},
    {"precompiledSpaces", R"({"type": "Precompiled"})",
     "a\xE2\x80\x8B"
     "b\nc\xE2\x96\x81"
     "d",
     "a b c d"},
    {"precompiledRemovesControls", R"({"type": "Precompiled"})",
     "a\x07"
     "b\x1F"
     "c\x7F"
     "d\xC2\x8F"
     "e",
     "abcde"},
    {"precompiledKeepsNulAndOtherC1", R"({"type": "Precompiled"})",
     std::string("a") + std::string(1, '\0') +
         "\xC2\x80"
         "b",
     std::string("a") + std::string(1, '\0') +
         "\xC2\x80"
         "b"},
    {"precompiledNfkc", R"({"type": "Precompiled"})", "\xEF\xBC\xA1\xEF\xAC\x81", "Afi"},
    {"precompiledKeepsFullwidthTilde", R"({"type": "Precompiled"})",
     "a\xEF\xBD\x9E\xEF\xBD\x9E"
     "b",
     "a\xEF\xBD\x9E"
     "b"},
    {"precompiledDropsOuterTildes", R"({"type": "Precompiled"})",
     "\xEF\xBD\x9E\xEF\xBC\xA1\xEF\xBD\x9E", "A"},
    {"stripAccentsIsNfkc", R"({"type": "StripAccents"})", "\xEF\xAC\x81 e\xCC\x81 \xC3\xA9",
     "fi \xC3\xA9 \xC3\xA9"},
    {"prependToEmpty", R"({"type": "Prepend", "prepend": "▁"})", "", "▁"},
    {"prependWithoutValue", R"({"type": "Prepend"})", "abc", "abc"},
    {"replaceString", R"({"type": "Replace", "pattern": {"String": " "}, "content": "▁"})",
     "a b  c", "a▁b▁▁c"},
    {"replaceWithoutContent", R"({"type": "Replace", "pattern": {"String": " "}})", "a b", "a b"},
    {"replaceWithoutPattern", R"({"type": "Replace", "content": "x"})", "a b", "a b"},
    {"replaceRegex", R"({"type": "Replace", "pattern": {"Regex": " {2,}"}, "content": " "})",
     "a   b  c", "a b c"},
    {"replaceRegexTemplate",
     R"j({"type": "Replace", "pattern": {"Regex": "(\\d+)"}, "content": "<$1>"})j", "a12b3",
     "a<12>b<3>"},
    {"lowercase", R"({"type": "Lowercase"})",
     "\xC3\x80"
     "BC \xCE\xA3",
     "\xC3\xA0"
     "bc \xCF\x83"},
    {"nfd", R"({"type": "NFD"})", "\xC3\xA9", "e\xCC\x81"},
    {"nfc", R"({"type": "NFC"})", "e\xCC\x81", "\xC3\xA9"},
    {"nfkd", R"({"type": "NFKD"})", "\xEF\xAC\x81\xC3\xA9", "fie\xCC\x81"},
    {"nfkc", R"({"type": "NFKC"})",
     "\xEF\xAC\x81"
     "e\xCC\x81",
     "fi\xC3\xA9"},
    {"stripBoth", R"({"type": "Strip"})", " \t a b \xE3\x80\x80\n", "a b"},
    {"stripRightOnly", R"({"type": "Strip", "strip_left": false})", "  a  ", "  a"},
    {"stripLeftOnly", R"({"type": "Strip", "strip_right": false})", "  a  ", "a  "},
    {"stripAllSpace", R"({"type": "Strip"})", " \r\n ", ""},
    {"sequence",
     R"({"type": "Sequence", "normalizers": [{"type": "Prepend", "prepend": "▁"}, {"type": "Replace", "pattern": {"String": " "}, "content": "▁"}, {"no": "type"}]})",
     "a b", "▁a▁b"},
    {"emptySequence", R"({"type": "Sequence", "normalizers": []})", "A b", "A b"},
};

INSTANTIATE_TEST_SUITE_P(Cases, NormalizeTest, ::testing::ValuesIn(kNormalizeCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace deduve
