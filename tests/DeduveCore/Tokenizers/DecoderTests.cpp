#include "DeduveCore/Tokenizers/Decoder.hpp"

#include <gtest/gtest.h>

#include "tests/DeduveCore/Tokenizers/StageTestSupport.hpp"

namespace deduve {
namespace {

using stagetest::cfg;
using stagetest::refusal;
using stagetest::Texts;

const std::string kReplacementCharacter = "\xEF\xBF\xBD";

TEST(DecoderTests, FactoryBuildsEveryTypeName) {
  const struct {
    const char *json;
    bool (*check)(const Decoder *);
  } cases[] = {
      {R"({"type": "Sequence", "decoders": []})",
       [](const Decoder *d) { return dynamic_cast<const DecoderSequence *>(d) != nullptr; }},
      {R"({"type": "WordPiece", "prefix": "##"})",
       [](const Decoder *d) { return dynamic_cast<const WordPieceDecoder *>(d) != nullptr; }},
      {R"({"type": "ByteLevel"})",
       [](const Decoder *d) { return dynamic_cast<const ByteLevelDecoder *>(d) != nullptr; }},
      {R"({"type": "Replace"})",
       [](const Decoder *d) { return dynamic_cast<const ReplaceDecoder *>(d) != nullptr; }},
      {R"({"type": "ByteFallback"})",
       [](const Decoder *d) { return dynamic_cast<const ByteFallbackDecoder *>(d) != nullptr; }},
      {R"({"type": "Fuse"})",
       [](const Decoder *d) { return dynamic_cast<const FuseDecoder *>(d) != nullptr; }},
      {R"({"type": "Strip", "content": " ", "start": 1, "stop": 0})",
       [](const Decoder *d) { return dynamic_cast<const StripDecoder *>(d) != nullptr; }},
      {R"({"type": "Metaspace"})",
       [](const Decoder *d) { return dynamic_cast<const MetaspaceDecoder *>(d) != nullptr; }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_TRUE(c.check(makeDecoder(cfg(c.json)).get()));
  }
  EXPECT_EQ(makeDecoder(nullptr), nullptr);
  EXPECT_EQ(makeDecoder(cfg(R"({"decoders": []})")), nullptr);
  EXPECT_EQ(makeDecoder(cfg(R"({"type": true})")), nullptr);

  auto wordPiece = makeDecoder(cfg(R"({"type": "WordPiece", "prefix": "##"})"));
  EXPECT_FALSE(dynamic_cast<const WordPieceDecoder &>(*wordPiece).cleanup());
  auto metaspace = makeDecoder(cfg(R"({"type": "Metaspace"})"));
  EXPECT_EQ(dynamic_cast<const MetaspaceDecoder &>(*metaspace).replacement(), "_");
  EXPECT_FALSE(dynamic_cast<const MetaspaceDecoder &>(*metaspace).addPrefixSpace());
  auto byteLevel = makeDecoder(cfg(R"({"type": "ByteLevel"})"), {"<s>"});
  EXPECT_EQ(dynamic_cast<const ByteLevelDecoder &>(*byteLevel).addedTokens(),
            std::unordered_set<std::string>{"<s>"});
}

TEST(DecoderTests, RefusesUnknownTypesAndMissingMembers) {
  for (const char *type : {"ByteLevel ", "bytelevel", "", "Bert"}) {
    SCOPED_TRACE(type);
    const Config config = Config::dictionary({{"type", type}});
    EXPECT_EQ(refusal([&] { makeDecoder(config); }),
              std::string("Unsupported Decoder type: ") + type);
  }
  const struct {
    const char *json;
    const char *message;
  } cases[] = {
      {R"({"type": "Sequence"})", "No decoders in Sequence"},
      {R"({"type": "Sequence", "decoders": [{"type": "Foo"}]})", "Unsupported Decoder type: Foo"},
      {R"({"type": "WordPiece"})", "Missing `prefix` configuration for WordPieceDecoder."},
      {R"({"type": "WordPiece", "prefix": 2})",
       "Missing `prefix` configuration for WordPieceDecoder."},
      {R"({"type": "Strip", "start": 1, "stop": 0})",
       "Incorrect StripDecoder configuration: can't parse `content`."},
      {R"({"type": "Strip", "content": " ", "start": "1", "stop": 0})",
       "Incorrect StripDecoder configuration: can't parse `start`."},
      {R"({"type": "Strip", "content": " ", "start": 1})",
       "Incorrect StripDecoder configuration: can't parse `stop`."},
      {R"j({"type": "Replace", "pattern": {"Regex": "(a"}, "content": "b"})j",
       "Cannot build regexp from (a"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(refusal([&] { makeDecoder(cfg(c.json)); }), c.message);
  }
}

struct DecodeCase {
  const char *name;
  const char *config;
  Texts tokens;
  Texts expected;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, Tokens) {
  const DecodeCase &c = GetParam();
  const auto decoder = makeDecoder(cfg(c.config), {"<|endoftext|>"});
  ASSERT_NE(decoder, nullptr);
  EXPECT_EQ((*decoder)(c.tokens), c.expected);
}

const DecodeCase kDecodeCases[] = {
    {"byteLevel", R"({"type": "ByteLevel"})", {"Hello", "Ġworld"}, {"Hello world"}},
    {"byteLevelLineFeed", R"({"type": "ByteLevel"})", {"Ċ"}, {"\n"}},
    {"byteLevelMultiByteAcrossTokens",
     R"({"type": "ByteLevel"})",
     {"caf", "Ã", "©"},
     {"caf\xC3\xA9"}},
    {"byteLevelTruncatedSequence",
     R"({"type": "ByteLevel"})",
     {"Hi", "Ġâ", "ĸ"},
     {"Hi " + kReplacementCharacter}},
    {"byteLevelIllFormedInside",
     R"({"type": "ByteLevel"})",
     {"a", "ÿ", "b"},
     {"a" + kReplacementCharacter + "b"}},
    {"byteLevelAddedTokensSplitRuns",
     R"({"type": "ByteLevel"})",
     {"Hi", "<|endoftext|>", "Ġthere"},
     {"Hi", "<|endoftext|>", " there"}},
    {"byteLevelOnlyAddedToken", R"({"type": "ByteLevel"})", {"<|endoftext|>"}, {"<|endoftext|>"}},
    {"byteLevelCharacterOutsideTable",
     R"({"type": "ByteLevel"})",
     {"a\xE2\x82\xAC", "Ġb"},
     {"a\xE2\x82\xAC b"}},
    {"byteLevelEmpty", R"({"type": "ByteLevel"})", {}, {}},
    {"wordPieceCleanup",
     R"({"type": "WordPiece", "prefix": "##", "cleanup": true})",
     {"I", "do", "not", "like", "it", "##s", "."},
     {"I", " do", " not", " like", " it", "s", "."}},
    {"wordPieceCleanupInsideOneText",
     R"({"type": "WordPiece", "prefix": "##", "cleanup": true})",
     {"I do not know , it 's fine ."},
     {"I don't know, it's fine."}},
    {"wordPieceNoCleanup",
     R"({"type": "WordPiece", "prefix": "##"})",
     {"un", "##able", "?"},
     {"un", "able", " ?"}},
    {"wordPieceNoTokens", R"({"type": "WordPiece", "prefix": "##"})", {}, {}},
    {"wordPieceEmptyPrefix", R"({"type": "WordPiece", "prefix": ""})", {"a", "b"}, {"a", "b"}},
    {"byteFallback",
     R"({"type": "ByteFallback"})",
     {"<0xE2>", "<0x96>", "<0x81>", "a"},
     {"▁", "a"}},
    {"byteFallbackNotBytes",
     R"({"type": "ByteFallback"})",
     {"<0x4G>", "<0x414>", "<0x41"},
     {"<0x4G>", "<0x414>", "<0x41"}},
    {"byteFallbackTrailingBytes",
     R"({"type": "ByteFallback"})",
     {"a", "<0x62>", "<0x63>"},
     {"a", "bc"}},
    {"byteFallbackLowerCaseHex", R"({"type": "ByteFallback"})", {"<0xc3>", "<0xa9>"}, {"\xC3\xA9"}},
    {"byteFallbackRepairs",
     R"({"type": "ByteFallback"})",
     {"<0xE2>", "<0x96>", "x", "<0xFF>"},
     {kReplacementCharacter, "x", kReplacementCharacter}},
    {"fuse", R"({"type": "Fuse"})", {"a", "b", "c"}, {"abc"}},
    {"fuseEmpty", R"({"type": "Fuse"})", {}, {""}},
    {"strip",
     R"({"type": "Strip", "content": " ", "start": 1, "stop": 0})",
     {"  a ", "b"},
     {" a ", "b"}},
    {"stripBothEnds",
     R"({"type": "Strip", "content": "_", "start": 5, "stop": 2})",
     {"__a___", "_"},
     {"a_", ""}},
    {"stripNegative",
     R"({"type": "Strip", "content": " ", "start": -1, "stop": -3})",
     {" a "},
     {" a "}},
    {"metaspace",
     R"({"type": "Metaspace", "replacement": "▁", "add_prefix_space": true})",
     {"▁Hello", "▁world"},
     {"Hello", " world"}},
    {"metaspaceDefaultUnderscore",
     R"({"type": "Metaspace"})",
     {"▁Hello", "_world"},
     {"▁Hello", " world"}},
    {"metaspaceSchemeAlwaysRemovesPrefix",
     R"({"type": "Metaspace", "replacement": "▁", "prepend_scheme": "always", "split": true})",
     {"▁GNU", "▁G"},
     {"GNU", " G"}},
    {"metaspaceSchemeFirstRemovesPrefix",
     R"({"type": "Metaspace", "replacement": "▁", "prepend_scheme": "first"})",
     {"▁GNU", "▁G"},
     {"GNU", " G"}},
    {"metaspaceSchemeNeverKeepsPrefix",
     R"({"type": "Metaspace", "replacement": "▁", "prepend_scheme": "never", "add_prefix_space": true})",
     {"▁GNU", "▁G"},
     {" GNU", " G"}},
    {"metaspaceEmpty", R"({"type": "Metaspace", "add_prefix_space": true})", {}, {}},
    {"replaceString",
     R"({"type": "Replace", "pattern": {"String": "▁"}, "content": " "})",
     {"▁a", "b▁▁"},
     {" a", "b  "}},
    {"replaceRegex",
     R"j({"type": "Replace", "pattern": {"Regex": "(a)(b)"}, "content": "$2$1"})j",
     {"abab", "x"},
     {"baba", "x"}},
    {"replaceWithoutPattern", R"({"type": "Replace", "content": " "})", {"▁a"}, {"▁a"}},
    {"sequenceOfSentencePieceStyle",
     R"({"type": "Sequence", "decoders": [
          {"type": "Replace", "pattern": {"String": "▁"}, "content": " "},
          {"type": "ByteFallback"}, {"type": "Fuse"},
          {"type": "Strip", "content": " ", "start": 1, "stop": 0}, {"kind": "none"}]})",
     {"▁Hello", "▁w", "<0xC3>", "<0xB6>", "rld"},
     {"Hello wörld"}},
    {"sequenceMembersGetNoAddedTokens",
     R"({"type": "Sequence", "decoders": [{"type": "ByteLevel"}]})",
     {"Hi", "<|endoftext|>"},
     {"Hi<|endoftext|>"}},
    {"emptySequence", R"({"type": "Sequence", "decoders": []})", {"a", "b"}, {"a", "b"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, DecodeTest, ::testing::ValuesIn(kDecodeCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace deduve
