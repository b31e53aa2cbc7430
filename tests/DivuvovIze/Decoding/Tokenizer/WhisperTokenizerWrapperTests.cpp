#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizerWrapper.hpp"
#include "platform/system/NLLanguageRecognizer.hpp"
#include "tests/DivuvovIze/Decoding/SpeechTokenizerFixture.hpp"

namespace divuvovize {
namespace {

using mqtest::makeSpeechTokenizer;
using mqtest::SpeechVocabulary;
using Ids = std::vector<int>;

TEST(SpecialTokens, MultilingualVocabularyResolvesEveryTokenAtItsId) {
  const auto tokenizer = makeSpeechTokenizer(SpeechVocabulary::multilingual);
  EXPECT_EQ(tokenizer->specialTokens(), SpecialTokens{});
}

TEST(SpecialTokens, EnglishVocabularyResolvesItsOwnIdsAndDefaultsTheMissingNoSpeechToken) {
  const auto tokenizer = makeSpeechTokenizer(SpeechVocabulary::englishOnly);
  const SpecialTokens &s = tokenizer->specialTokens();
  EXPECT_EQ(s.endToken, 50256);
  EXPECT_EQ(s.englishToken, 50258);
  EXPECT_EQ(s.noSpeechToken, 50362) << "absent from the vocabulary: the default id";
  EXPECT_EQ(s.noTimestampsToken, 50362);
  EXPECT_EQ(s.specialTokenBegin, 50256);
  EXPECT_EQ(s.startOfPreviousToken, 50360);
  EXPECT_EQ(s.startOfTranscriptToken, 50257);
  EXPECT_EQ(s.timeTokenBegin, 50363);
  EXPECT_EQ(s.transcribeToken, 50358);
  EXPECT_EQ(s.translateToken, 50357);
  EXPECT_EQ(s.whitespaceToken, 220);
}

// The vocabulary answers text it lacks with its unknown token, "<|endoftext|>". A special token
// missing from the vocabulary must take its default id, never end-of-text's.
TEST(SpecialTokens, MissingTokensTakeTheirDefaultsNotTheUnknownTokensId) {
  struct Case {
    const char *token;
    int SpecialTokens::*field;
    int expected;
  };
  const Case cases[] = {
      {"<|nospeech|>", &SpecialTokens::noSpeechToken, 50362},
      {"<|notimestamps|>", &SpecialTokens::noTimestampsToken, 50363},
      {"<|startofprev|>", &SpecialTokens::startOfPreviousToken, 50361},
      {"<|translate|>", &SpecialTokens::translateToken, 50358},
      {"<|transcribe|>", &SpecialTokens::transcribeToken, 50359},
      {"<|en|>", &SpecialTokens::englishToken, 50259},
      {"<|0.00|>", &SpecialTokens::timeTokenBegin, 50364},
  };
  std::set<std::string> omitted;
  for (const auto &c : cases) {
    omitted.insert(c.token);
  }
  const auto tokenizer = makeSpeechTokenizer(SpeechVocabulary::multilingual, omitted);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.token);
    ASSERT_EQ(tokenizer->convertTokenToId(c.token), 50257) << "the lookup trap this guards";
    EXPECT_EQ(tokenizer->vocabularyId(c.token), std::nullopt);
    EXPECT_EQ(tokenizer->specialTokens().*c.field, c.expected);
  }
}

TEST(LanguageTokens, AreTheLanguageTagsAboveTheFirstSpecialId) {
  const auto multilingual = makeSpeechTokenizer(SpeechVocabulary::multilingual);
  std::set<int> expected;
  for (int id = 50259; id <= 50357; ++id) {
    expected.insert(id);
  }
  EXPECT_EQ(multilingual->allLanguageTokens(), expected);

  const auto english = makeSpeechTokenizer(SpeechVocabulary::englishOnly, {"<|fr|>"});
  EXPECT_EQ(english->allLanguageTokens().size(), 98u);
  EXPECT_EQ(english->allLanguageTokens().count(50258), 1u) << "<|en|>";
  EXPECT_EQ(english->allLanguageTokens().count(50264), 0u) << "<|fr|> is missing";
  EXPECT_EQ(english->allLanguageTokens().count(50256), 0u) << "never the unknown token";
}

TEST(WhisperTokenizerWrapper, ForwardsTextAndIdConversions) {
  const auto tokenizer = makeSpeechTokenizer();
  const Ids ids = tokenizer->encode(" Hello world");
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(tokenizer->decode(ids), " Hello world");
  EXPECT_EQ(tokenizer->convertIdToToken(ids[0]), "\xC4\xA0Hello");
  EXPECT_EQ(tokenizer->convertTokenToId("<|fr|>"), 50265);
  EXPECT_EQ(tokenizer->decode({50258, 50259, 50364, ids[0], 50257}),
            "<|startoftranscript|><|en|><|0.00|> Hello<|endoftext|>");
}

// --- word splitting

class SplitTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { tokenizer_ = makeSpeechTokenizer(); }
  static void TearDownTestSuite() { tokenizer_.reset(); }
  static const WhisperTokenizerWrapper &tokenizer() { return *tokenizer_; }
  static int id(const std::string &text) { return tokenizer().encode(text).at(0); }

  static std::shared_ptr<WhisperTokenizerWrapper> tokenizer_;
};
std::shared_ptr<WhisperTokenizerWrapper> SplitTest::tokenizer_;

TEST_F(SplitTest, EnglishWordsKeepTheirSpaceAndPunctuationStandsAlone) {
  const Ids ids = tokenizer().encode(" Hello, world.");
  const WordTokens split = tokenizer().splitToWordTokens(ids);
  EXPECT_EQ(split.words, (std::vector<std::string>{" Hello", ",", " world", "."}));
  EXPECT_EQ(split.wordTokens, (std::vector<Ids>{{ids[0]}, {ids[1]}, {ids[2]}, {ids[3]}}));
}

TEST_F(SplitTest, PiecesWithoutSpaceJoinTheWordBefore) {
  const Ids ids = tokenizer().encode(" Helloish");
  const WordTokens split = tokenizer().splitToWordTokens(ids);
  EXPECT_EQ(split.words, (std::vector<std::string>{" Helloish"}));
  EXPECT_EQ(split.wordTokens, (std::vector<Ids>{ids}));
}

TEST_F(SplitTest, SpecialAndTimestampTokensStartWords) {
  const int hello = id(" Hello");
  const int x = id("x");
  const Ids ids = {50258, 50364, x, hello, 50257};
  const WordTokens split = tokenizer().splitToWordTokens(ids);
  EXPECT_EQ(split.words, (std::vector<std::string>{"<|startoftranscript|>", "<|0.00|>x", " Hello",
                                                   "<|endoftext|>"}));
  EXPECT_EQ(split.wordTokens, (std::vector<Ids>{{50258}, {50364, x}, {hello}, {50257}}));
}

TEST_F(SplitTest, ScriptsWithoutSpacesSplitIntoCharacters) {
  struct Case {
    const char *text;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"\u4F60\u597D\u4E16\u754C", {"\u4F60", "\u597D", "\u4E16", "\u754C"}}, // Chinese
      {"\u3053\u3093\u306B\u3061\u306F", {"\u3053", "\u3093", "\u306B", "\u3061", "\u306F"}},
      {"\u0E2A\u0E27\u0E31", {"\u0E2A", "\u0E27", "\u0E31"}}, // Thai
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    const Ids ids = tokenizer().encode(c.text);
    const WordTokens split = tokenizer().splitToWordTokens(ids);
    EXPECT_EQ(split.words, c.words);
    for (const auto &word : split.wordTokens) {
      EXPECT_EQ(word.size(), 3u) << "three byte tokens per character";
    }
  }
}

TEST_F(SplitTest, EmptyListGivesEmptyLists) {
  EXPECT_EQ(tokenizer().splitToWordTokens({}), WordTokens{});
}

// A recognizer answer with a region or script suffix is not one of the unspaced languages.
TEST_F(SplitTest, OnlyAnExactLanguageCodeSelectsTheCharacterSplit) {
  class Recognizing : public WhisperTokenizerWrapper {
  public:
    Recognizing(const WhisperTokenizerWrapper &base, std::string code)
        : WhisperTokenizerWrapper(base.tokenizer()), code_(std::move(code)) {}

  protected:
    std::optional<std::string> dominantLanguage(std::string_view) const override { return code_; }

  private:
    std::string code_;
  };
  const Ids ids = tokenizer().encode("\u4F60\u597D");
  EXPECT_EQ(Recognizing(tokenizer(), "zh").splitToWordTokens(ids).words.size(), 2u);
  EXPECT_EQ(Recognizing(tokenizer(), "zh-Hans").splitToWordTokens(ids).words,
            (std::vector<std::string>{"\u4F60\u597D"}));
}

// A byte the vocabulary cannot complete decodes to U+FFFD in the whole text too; it ends its own
// word instead of swallowing every word after it.
TEST_F(SplitTest, AnIncompleteByteEndsItsOwnWord) {
  const int hello = id(" Hello");
  const int world = id(" world");
  const int stray = tokenizer().convertTokenToId(deduve::byteEncoder()[0x80]).value();
  const WordTokens split = tokenizer().splitTokensOnUnicode({hello, stray, world});
  EXPECT_EQ(split.words, (std::vector<std::string>{" Hello", "\uFFFD", " world"}));
  EXPECT_EQ(split.wordTokens, (std::vector<Ids>{{hello}, {stray}, {world}}));
}

TEST(NLLanguageRecognizer, NamesTheDominantScriptsLanguage) {
  struct Case {
    const char *text;
    std::optional<std::string> language;
  };
  const Case cases[] = {
      {"Hello there, world", "en"},
      {"\u4F60\u597D\u4E16\u754C", "zh"},
      {"\u65E5\u672C\u8A9E\u306E\u30C6\u30AD\u30B9\u30C8", "ja"},
      {"\u4F62\u54CB\u5497\u5605", "yue"},
      {"\u0E2A\u0E27\u0E31\u0E2A\u0E14\u0E35", "th"},
      {"\u0EAA\u0EB0\u0E9A\u0EB2\u0E8D\u0e94\u0eb5", "lo"},
      {"\u1019\u1004\u103A\u1039\u1002\u101C\u102C", "my"},
      {"\u041F\u0440\u0438\u0432\u0435\u0442", "ru"},
      {"\uC548\uB155\uD558\uC138\uC694", "ko"},
      {"Hi \u4F60\u597D\u4E16\u754C\u4F60\u597D", "zh"},
      {"1234 ... !?", std::nullopt},
      {"", std::nullopt},
      {"\xFF\xFE broken", "en"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(platform::NLLanguageRecognizer::dominantLanguage(c.text), c.language);
  }
}

TEST(NLLanguageRecognizer, AccumulatesUntilReset) {
  platform::NLLanguageRecognizer recognizer;
  recognizer.processString("abc");
  recognizer.processString("\u0E2A\u0E27\u0E31\u0E2A");
  EXPECT_EQ(recognizer.dominantLanguage(), "th");
  recognizer.reset();
  EXPECT_EQ(recognizer.dominantLanguage(), std::nullopt);
}

} // namespace
} // namespace divuvovize
