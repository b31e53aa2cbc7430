#include "DeduveCore/Tokenizers/PreTokenizer.hpp"

#include <random>

#include <gtest/gtest.h>

#include "DeduveCore/Tokenizers/ByteEncoder.hpp"
#include "DeduveCore/Tokenizers/Normalizer.hpp"
#include "DeduveCore/Tokenizers/TokenizerError.hpp"
#include "tests/DeduveCore/Tokenizers/StageTestSupport.hpp"

namespace deduve {
namespace {

using stagetest::cfg;
using stagetest::refusal;
using stagetest::Texts;

const PreTokenizerOptions kFirst{PreTokenizerOption::firstSection};

TEST(PreTokenizerTests, FactoryBuildsEveryTypeName) {
  const auto isA = [](const char *json, auto *typeTag) {
    using Type = std::remove_pointer_t<decltype(typeTag)>;
    const auto built = makePreTokenizer(cfg(json));
    return built != nullptr && dynamic_cast<const Type *>(built.get()) != nullptr;
  };
  EXPECT_TRUE(isA(R"({"type": "Sequence", "pretokenizers": []})",
                  static_cast<PreTokenizerSequence *>(nullptr)));
  EXPECT_TRUE(isA(R"({"type": "ByteLevel"})", static_cast<ByteLevelPreTokenizer *>(nullptr)));
  EXPECT_TRUE(isA(R"({"type": "Punctuation"})", static_cast<PunctuationPreTokenizer *>(nullptr)));
  EXPECT_TRUE(isA(R"({"type": "Digits"})", static_cast<DigitsPreTokenizer *>(nullptr)));
  EXPECT_TRUE(isA(R"({"type": "Split"})", static_cast<SplitPreTokenizer *>(nullptr)));
  EXPECT_TRUE(isA(R"({"type": "Whitespace"})", static_cast<WhitespacePreTokenizer *>(nullptr)));
  EXPECT_TRUE(
      isA(R"({"type": "WhitespaceSplit"})", static_cast<WhitespacePreTokenizer *>(nullptr)));
  EXPECT_TRUE(isA(R"({"type": "Metaspace"})", static_cast<MetaspacePreTokenizer *>(nullptr)));
  EXPECT_TRUE(isA(R"({"type": "BertPreTokenizer"})", static_cast<BertPreTokenizer *>(nullptr)));

  EXPECT_EQ(makePreTokenizer(nullptr), nullptr);
  EXPECT_EQ(makePreTokenizer(cfg(R"({})")), nullptr);
  EXPECT_EQ(makePreTokenizer(cfg(R"({"type": null})")), nullptr);
  EXPECT_EQ(makePreTokenizer(cfg(R"({"type": 3})")), nullptr);
  EXPECT_EQ(makePreTokenizer(cfg(R"(null)")), nullptr);
}

TEST(PreTokenizerTests, RefusesUnknownTypesAndBrokenSequences) {
  for (const char *type : {"", "bytelevel", "ByteLevel ", "Whitespace_Split"}) {
    SCOPED_TRACE(type);
    const Config config = Config::dictionary({{"type", type}});
    EXPECT_EQ(refusal([&] { makePreTokenizer(config); }),
              std::string("Unsupported PreTokenizer type: ") + type);
  }
  EXPECT_EQ(refusal([] { makePreTokenizer(cfg(R"({"type": "Sequence"})")); }),
            "No pretokenizers in Sequence");
  EXPECT_EQ(
      refusal([] { makePreTokenizer(cfg(R"({"type": "Sequence", "pretokenizers": {"a": 1}})")); }),
      "No pretokenizers in Sequence");
  EXPECT_EQ(refusal([] {
              makePreTokenizer(cfg(R"({"type": "Sequence", "pretokenizers": [{"type": "Nope"}]})"));
            }),
            "Unsupported PreTokenizer type: Nope");
  EXPECT_EQ(
      refusal([] { makePreTokenizer(cfg(R"({"type": "Split", "pattern": {"Regex": "("}})")); }),
      "Cannot build regexp from (");
}

TEST(PreTokenizerTests, OptionsAndDefaults) {
  const auto byteLevel = [](const char *json) {
    auto built = makePreTokenizer(cfg(json));
    return *dynamic_cast<const ByteLevelPreTokenizer *>(built.get());
  };
  const auto defaults = byteLevel(R"({"type": "ByteLevel"})");
  EXPECT_FALSE(defaults.addPrefixSpace());
  EXPECT_TRUE(defaults.trimOffsets());
  EXPECT_TRUE(defaults.useRegex());
  const auto set = byteLevel(
      R"({"type": "ByteLevel", "add_prefix_space": "true", "trim_offsets": false, "use_regex": 0})");
  EXPECT_TRUE(set.addPrefixSpace());
  EXPECT_FALSE(set.trimOffsets());
  EXPECT_FALSE(set.useRegex());

  const auto metaspace = [](const char *json) {
    auto built = makePreTokenizer(cfg(json));
    const auto &m = *dynamic_cast<const MetaspacePreTokenizer *>(built.get());
    return std::tuple(m.addPrefixSpace(), m.replacement(), m.stringReplacement(),
                      m.prependScheme());
  };
  using Scheme = MetaspacePreTokenizer::PrependScheme;
  EXPECT_EQ(metaspace(R"({"type": "Metaspace"})"), std::tuple(false, " ", " ", Scheme::always));
  EXPECT_EQ(
      metaspace(
          R"({"type": "Metaspace", "replacement": "▁", "add_prefix_space": true, "prepend_scheme": "first"})"),
      std::tuple(true, "▁", "▁", Scheme::first));
  EXPECT_EQ(
      metaspace(
          R"({"type": "Metaspace", "replacement": "▁", "str_rep": "_", "prepend_scheme": "never"})"),
      std::tuple(false, "▁", "_", Scheme::never));
  EXPECT_EQ(std::get<3>(metaspace(R"({"type": "Metaspace", "prepend_scheme": "sometimes"})")),
            Scheme::always);
  for (const Scheme scheme : {Scheme::first, Scheme::never, Scheme::always}) {
    const std::string json = R"({"type": "Metaspace", "prepend_scheme": ")" +
                             std::string(MetaspacePreTokenizer::rawValue(scheme)) + "\"}";
    EXPECT_EQ(std::get<3>(metaspace(json.c_str())), scheme);
  }
  EXPECT_EQ(rawValue(PreTokenizerOption::firstSection), "firstSection");

  auto split = makePreTokenizer(cfg(R"({"type": "Split", "pattern": {"String": "-"}})"));
  const auto &s = *dynamic_cast<const SplitPreTokenizer *>(split.get());
  ASSERT_TRUE(s.pattern().has_value());
  EXPECT_FALSE(s.pattern()->isRegexp());
  EXPECT_FALSE(s.invert());
}

struct PreTokenizeCase {
  const char *name;
  const char *config;
  std::string text;
  PreTokenizerOptions options;
  Texts expected;
};

class PreTokenizeTest : public ::testing::TestWithParam<PreTokenizeCase> {};

TEST_P(PreTokenizeTest, Pieces) {
  const PreTokenizeCase &c = GetParam();
  const auto preTokenizer = makePreTokenizer(cfg(c.config));
  ASSERT_NE(preTokenizer, nullptr);
  EXPECT_EQ(preTokenizer->preTokenize(c.text, c.options), c.expected);
  EXPECT_EQ((*preTokenizer)(Texts{c.text, c.text}, c.options).size(), 2 * c.expected.size());
}

const PreTokenizeCase kPreTokenizeCases[] = {
    {"whitespace", R"({"type": "Whitespace"})", "a  b\tc", {}, {"a", "b", "c"}},
    {"whitespaceSplit", R"({"type": "WhitespaceSplit"})", "a  b\tc", {}, {"a", "b", "c"}},
    {"punctuation",
     R"({"type": "Punctuation"})",
     "Hello, world!",
     {},
     {"Hello", ",", " world", "!"}},
    {"bert", R"({"type": "BertPreTokenizer"})", "Hello, world!", {}, {"Hello", ",", "world", "!"}},
    {"bertRunOfPunctuation", R"({"type": "BertPreTokenizer"})", "ok?!", {}, {"ok", "?", "!"}},
    {"digits", R"({"type": "Digits"})", "abc123", {}, {"abc", "123"}},
    {"individualDigits",
     R"({"type": "Digits", "individual_digits": true})",
     "abc123",
     {},
     {"abc", "1", "2", "3"}},
    {"splitString", R"({"type": "Split", "pattern": {"String": "-"}})", "a-b", {}, {"a", "-", "b"}},
    {"splitStringInverted",
     R"({"type": "Split", "pattern": {"String": "-"}, "invert": true})",
     "a-b",
     {},
     {"a", "b"}},
    {"splitWithoutPattern", R"({"type": "Split", "pattern": {}})", "a-b", {}, {"a-b"}},
    {"splitRegexKeepsMatches",
     R"({"type": "Split", "pattern": {"Regex": "\\s+"}})",
     "a  b",
     {},
     {"a", "  ", "b"}},
    {"splitRegexIgnoresInvert",
     R"({"type": "Split", "pattern": {"Regex": "\\s+"}, "invert": true})",
     "a  b",
     {},
     {"a", "  ", "b"}},
    {"splitEmptyMatchingRegex",
     R"({"type": "Split", "pattern": {"Regex": "x*"}})",
     "abxxc",
     {},
     {"a", "b", "xx", "c"}},
    {"byteLevel", R"({"type": "ByteLevel"})", "Hello world", {}, {"Hello", "Ġworld"}},
    {"byteLevelPrefixesEveryPiece",
     R"({"type": "ByteLevel", "add_prefix_space": true})",
     "it's",
     {},
     {"Ġit", "Ġ's"}},
    {"byteLevelPrefixSpace",
     R"({"type": "ByteLevel", "add_prefix_space": true})",
     "Hello world",
     {},
     {"ĠHello", "Ġworld"}},
    {"byteLevelBytes", R"({"type": "ByteLevel"})", "h\xC3\xA9 a\nb", {}, {"hÃ©", "Ġa", "Ċ", "b"}},
    {"byteLevelSpaces", R"({"type": "ByteLevel"})", "a   b", {}, {"a", "ĠĠ", "Ġb"}},
    {"byteLevelEmpty", R"({"type": "ByteLevel"})", "", {}, {}},
    {"byteLevelNoRegexEmpty",
     R"({"type": "ByteLevel", "use_regex": false, "add_prefix_space": true})",
     "",
     {},
     {"Ġ"}},
    {"byteLevelNoRegex", R"({"type": "ByteLevel", "use_regex": false})", "a b", {}, {"aĠb"}},
    {"metaspaceDefaultReplacementIsSpace",
     R"({"type": "Metaspace", "add_prefix_space": true})",
     "Hey friend",
     {},
     {" Hey", " friend"}},
    {"metaspace",
     R"({"type": "Metaspace", "replacement": "▁", "add_prefix_space": true})",
     "Hey friend",
     {},
     {"▁Hey", "▁friend"}},
    {"metaspaceAlreadyMarked",
     R"({"type": "Metaspace", "replacement": "▁", "add_prefix_space": true})",
     "▁Hey",
     {},
     {"▁Hey"}},
    {"metaspaceFirstInFirstSection",
     R"({"type": "Metaspace", "replacement": "▁", "add_prefix_space": true, "prepend_scheme": "first"})",
     "Hey friend",
     kFirst,
     {"▁Hey", "▁friend"}},
    {"metaspaceFirstInLaterSection",
     R"({"type": "Metaspace", "replacement": "▁", "add_prefix_space": true, "prepend_scheme": "first"})",
     "Hey friend",
     {},
     {"Hey", "▁friend"}},
    {"metaspaceNever",
     R"({"type": "Metaspace", "replacement": "▁", "add_prefix_space": true, "prepend_scheme": "never"})",
     "Hey friend",
     kFirst,
     {"Hey", "▁friend"}},
    // Current documents carry a prepend scheme and no add_prefix_space: the scheme decides.
    {"metaspaceSchemeAlwaysWithoutAddPrefixSpace",
     R"({"type": "Metaspace", "replacement": "▁", "prepend_scheme": "always", "split": true})",
     "GNU G",
     {},
     {"▁GNU", "▁G"}},
    {"metaspaceSchemeFirstWithoutAddPrefixSpace",
     R"({"type": "Metaspace", "replacement": "▁", "prepend_scheme": "first"})",
     "GNU G",
     kFirst,
     {"▁GNU", "▁G"}},
    {"metaspaceSchemeFirstLaterSectionWithoutAddPrefixSpace",
     R"({"type": "Metaspace", "replacement": "▁", "prepend_scheme": "first"})",
     "GNU G",
     {},
     {"GNU", "▁G"}},
    {"metaspaceSchemeNeverOverridesAddPrefixSpace",
     R"({"type": "Metaspace", "replacement": "▁", "prepend_scheme": "never", "add_prefix_space": true})",
     "GNU G",
     kFirst,
     {"GNU", "▁G"}},
    {"metaspaceWithoutSplitKeepsOnePiece",
     R"({"type": "Metaspace", "replacement": "▁", "prepend_scheme": "always", "split": false})",
     "GNU G",
     {},
     {"▁GNU▁G"}},
    {"metaspaceWithoutPrefix",
     R"({"type": "Metaspace", "replacement": "▁"})",
     "Hey friend",
     {},
     {"Hey", "▁friend"}},
    {"metaspaceDotIsLiteral",
     R"({"type": "Metaspace", "replacement": ".", "add_prefix_space": true})",
     "ab cd",
     {},
     {".ab", ".cd"}},
    {"metaspaceBarIsLiteral",
     R"({"type": "Metaspace", "replacement": "|", "add_prefix_space": true})",
     "ab cd",
     {},
     {"|ab", "|cd"}},
    {"metaspaceStringReplacement",
     R"({"type": "Metaspace", "replacement": "▁", "str_rep": "▁▁"})",
     "a b",
     {},
     {"a", "▁", "▁b"}},
    {"sequence",
     R"({"type": "Sequence", "pretokenizers": [{"type": "WhitespaceSplit"}, {"type": "Digits"}]})",
     "ab12 cd",
     {},
     {"ab", "12", "cd"}},
    {"sequenceSkipsTypelessMembers",
     R"({"type": "Sequence", "pretokenizers": [{"kind": "Digits"}, {"type": null}]})",
     "a b1",
     {},
     {"a b1"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, PreTokenizeTest, ::testing::ValuesIn(kPreTokenizeCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(PreTokenizerTests, SplitWithEmptyMatchingPatternFinishesOnLongInput) {
  // Documents come from the network: a pattern that matches the empty string everywhere must
  // not stall the tokenizer.
  const auto split = makePreTokenizer(cfg(R"j({"type": "Split", "pattern": {"Regex": "(?:)"}})j"));
  const std::string text(200000, 'a');
  const Texts pieces = split->preTokenize(text);
  ASSERT_EQ(pieces.size(), text.size());
  EXPECT_EQ(pieces.front(), "a");
}

TEST(PreTokenizerTests, DocumentPatternsHaveAMatchTimeLimit) {
  // Catastrophic backtracking: without a limit one search runs for minutes.
  const char *pattern = R"((\w+)+$)";
  const auto split = makePreTokenizer(
      cfg(std::string(R"({"type": "Split", "pattern": {"Regex": ")") + R"((\\w+)+$)" + "\"}}"));
  try {
    split->preTokenize("Supercalifragilisticexpialidocious!");
    FAIL() << "the search finished";
  } catch (const TokenizerError &error) {
    EXPECT_EQ(error.kind(), TokenizerError::Kind::mismatchedConfig);
    EXPECT_NE(std::string(error.what()).find(pattern), std::string::npos) << error.what();
  }
  const auto replace =
      makeNormalizer(cfg(std::string(R"({"type": "Replace", "pattern": {"Regex": ")") +
                         R"((\\w+)+$)" + R"("}, "content": "x"})"));
  EXPECT_THROW(replace->normalize("Supercalifragilisticexpialidocious!"), TokenizerError);
}

// A Split pre-tokenizer over a regular expression given as it would be in a document.
std::unique_ptr<PreTokenizer> splitOver(const std::string &pattern) {
  return makePreTokenizer(
      cfg(R"({"type": "Split", "pattern": {"Regex": )" + nlohmann::json(pattern).dump() + "}}"));
}

TEST(PreTokenizerTests, LongTextOfALinearPatternStaysWithinTheDocumentPatternLimits) {
  // The common split pattern of recent byte-level vocabularies: on a long run of spaces one
  // search backtracks over the whole run, which is linear work, however long the run.
  const auto split = splitOver(
      R"((?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n]*|)"
      R"(\s*[\r\n]+|\s+(?!\S)|\s+)");
  struct Case {
    std::string text;
    Texts pieces;
  };
  const Case cases[] = {
      {std::string(300'000, ' ') + "x", {std::string(299'999, ' '), " x"}},
      {std::string(1'000'000, ' '), {std::string(1'000'000, ' ')}},
      {std::string(200'000, '\n') + "x", {std::string(200'000, '\n'), "x"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text.size());
    EXPECT_EQ(split->preTokenize(c.text), c.pieces);
  }
}

TEST(PreTokenizerTests, ASearchTheEngineCannotFinishIsATokenizerErrorNamingThePattern) {
  // Every repetition of a loop over forty capture groups saves them all for backtracking: far
  // more memory per character than any search may take.
  std::string pattern;
  for (int group = 0; group < 40; ++group)
    pattern += "(";
  pattern += "\\s";
  for (int group = 0; group < 40; ++group)
    pattern += ")";
  pattern += "*x";
  const auto split = splitOver(pattern);
  try {
    split->preTokenize(std::string(200'000, ' '));
    FAIL() << "the search finished";
  } catch (const TokenizerError &error) {
    EXPECT_EQ(error.kind(), TokenizerError::Kind::mismatchedConfig);
    EXPECT_NE(std::string(error.what()).find(pattern), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("could not finish"), std::string::npos);
  }
}

TEST(PreTokenizerTests, ByteLevelMatcherAgreesWithTheRegularExpression) {
  // The byte-level pieces come from a matcher written for the one pattern; on random text
  // drawn from every class the pattern tells apart (and the spots where its alternatives
  // compete) it must find exactly what the regular-expression engine finds.
  const char *const alphabet[] = {"a",
                                  "Z",
                                  "s",
                                  "t",
                                  "r",
                                  "e",
                                  "v",
                                  "m",
                                  "l",
                                  "d",
                                  "'",
                                  "''",
                                  "0",
                                  "7",
                                  " ",
                                  " ",
                                  "  ",
                                  "\t",
                                  "\n",
                                  "\r\n",
                                  "\x0B",
                                  "\x1C",
                                  ".",
                                  ",",
                                  "!",
                                  "-",
                                  "_",
                                  "$",
                                  "\xC2\xA0",
                                  "\xC2\x85",
                                  "\xE2\x80\x83",
                                  "\xE3\x80\x80",
                                  "\xE2\x80\x8B",
                                  "\xC3\xA9",
                                  "e\xCC\x81",
                                  "\xE6\x97\xA5",
                                  "\xD9\xA1",
                                  "\xE2\x85\xAB",
                                  "\xC2\xBD",
                                  "\xF0\x9F\x98\x80",
                                  "\xFF",
                                  "\xE2\x96",
                                  "\xEF\xBF\xBD",
                                  "\xCA\xB0"};
  std::mt19937 random(7);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(alphabet) - 1);
  std::uniform_int_distribution<int> length(0, 24);
  const Regex &regex = ByteLevelPreTokenizer::splitRegex();
  std::vector<TextRange> fast;
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (int n = length(random); n > 0; --n)
      text += alphabet[pick(random)];
    ByteLevelPreTokenizer::findPieces(text, fast);
    ASSERT_EQ(fast, regex.findAll(text)) << "text: " << ::testing::PrintToString(text);
  }
}

TEST(PreTokenizerTests, ByteLevelPiecesCoverEveryByte) {
  // Joined, the pieces are the byte-level form of every input byte (ill-formed input
  // included), so no text is lost before the model sees it.
  const auto byteLevel = makePreTokenizer(cfg(R"({"type": "ByteLevel"})"));
  const std::string text =
      "Don't stop\t\tme  now, 12 \xE2\x80\x94 \xFF\xE2\x96 caf\xC3\xA9 \xF0\x9F\x98\x80!\n";
  std::string joined;
  for (const std::string &piece : byteLevel->preTokenize(text))
    joined += piece;
  std::string expected;
  for (const char c : text)
    expected += byteEncoder()[static_cast<unsigned char>(c)];
  EXPECT_EQ(joined, expected);
}

} // namespace
} // namespace deduve
