#include "app/services/AICleanupService.hpp"
#include "app/services/RuleBasedCleanup.hpp"

#include "platform/services/ScriptedLanguageModel.hpp"
#include "platform/system/ManualExecutor.hpp"
#include "tests/app/AppTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace murmurquill {
namespace {

struct CleanupRow {
  std::string input;
  std::string expected;
};

class RuleBasedCleanupTable : public ::testing::TestWithParam<CleanupRow> {};

TEST_P(RuleBasedCleanupTable, CleansUp) {
  EXPECT_EQ(ruleBasedCleanup(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RuleBasedCleanupTable,
    ::testing::Values(
        CleanupRow{"um so new line hello comma world period", "So \n hello, world."},
        CleanupRow{"a new paragraph b", "A \n\n b"},
        CleanupRow{"yes Comma no COMMA maybe", "Yes, no, maybe"},
        CleanupRow{"two commas", "Two commas"}, CleanupRow{"the end. period", "The end."},
        CleanupRow{"open paren yes close paren", "( yes )"},
        CleanupRow{"open parenthesis a close parenthesis", "( a )"},
        CleanupRow{"wait dash what", "Wait \xE2\x80\x94 what"},
        CleanupRow{"really question mark", "Really?"},
        CleanupRow{"wow exclamation point and exclamation mark", "Wow! and!"},
        CleanupRow{"one full stop two semicolon three colon four", "One. two; three: four"},
        CleanupRow{"uh-huh fine", "Fine"}, CleanupRow{"Uh, okay", "Okay"},
        CleanupRow{"do you know him", "Do him"}, CleanupRow{"um uh hmm mhm", ""},
        CleanupRow{"", ""}, CleanupRow{"hello comma period", "Hello."},
        CleanupRow{"comma hello", "Hello"}, CleanupRow{"a....b,,,c", "A.b,c"},
        CleanupRow{"  spaced \t  out  ", "Spaced out"}, CleanupRow{"3 apples", "3 apples"},
        CleanupRow{"Already capital", "Already capital"},
        CleanupRow{"\xC3\xA9t\xC3\xA9", "\xC3\x89t\xC3\xA9"}, // été -> Été
        CleanupRow{"\xC3\x9F ok", "SS ok"}));                 // ß upper-cases to two letters

TEST(RuleBasedCleanupTest, StepsRunInOrder) {
  EXPECT_EQ(applySpokenPunctuation("hello comma world"), "hello , world");
  EXPECT_EQ(removeFillerWords("um, so you know it"), "so it");
  EXPECT_EQ(tidyPunctuation(" , a ; . b"), "A. b");
}

struct PreambleRow {
  std::string answer;
  std::string expected;
};

class PreambleTable : public ::testing::TestWithParam<PreambleRow> {};

TEST_P(PreambleTable, StripsOneOpener) {
  EXPECT_EQ(AICleanupService::stripAssistantPreamble(GetParam().answer), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Openers, PreambleTable,
    ::testing::Values(PreambleRow{"Sure, here it is.", "Here it is."},
                      PreambleRow{"Okay \xE2\x80\x94 the text", "The text"},
                      PreambleRow{"Okay,\nthe text", "Okay,\nthe text"},
                      PreambleRow{"Okay: fine", "Fine"}, PreambleRow{"OK. done", "Done"},
                      PreambleRow{"Sure.", "Sure."}, PreambleRow{"Surely not", "Surely not"},
                      PreambleRow{"GOT IT! next", "Next"},
                      PreambleRow{"Of course, 3 items", "3 items"},
                      PreambleRow{"Certainly: \xC3\xA9t\xC3\xA9", "\xC3\x89t\xC3\xA9"},
                      PreambleRow{"alright, ", ""}, PreambleRow{"No opener here", "No opener here"},
                      // Only one prefix goes.
                      PreambleRow{"Sure, okay, go", "Okay, go"}));

class AICleanupServiceTest : public ::testing::Test {
protected:
  AICleanupService makeService() { return AICleanupService(model, main, main, log.sink()); }

  std::string refine(AICleanupService &service, const std::string &text) {
    std::optional<std::string> result;
    service.refine(text, [&](std::string refined) { result = std::move(refined); });
    EXPECT_FALSE(result) << "the answer comes back through the main executor";
    main->runUntilIdle();
    EXPECT_TRUE(result);
    return result.value_or("<none>");
  }

  std::shared_ptr<platform::ScriptedLanguageModel> model =
      std::make_shared<platform::ScriptedLanguageModel>();
  std::shared_ptr<platform::ManualExecutor> main = std::make_shared<platform::ManualExecutor>();
  testing::LogRecorder log;
};

TEST_F(AICleanupServiceTest, InstructionTextIsFixed) {
  const auto &prompt = AICleanupService::systemPrompt();
  EXPECT_EQ(prompt.size(), 1247u);
  EXPECT_EQ(std::count(prompt.begin(), prompt.end(), '\n'), 22);
  EXPECT_EQ(prompt.rfind("You are a text editor, not an assistant.", 0), 0u);
  const std::string last =
      "Return ONLY the edited text. No preamble, no explanation, no surrounding quotation marks.";
  EXPECT_EQ(prompt.substr(prompt.size() - last.size()), last);
}

TEST_F(AICleanupServiceTest, RefineStreamsThePreparedSessionAndStripsThePreamble) {
  auto service = makeService();
  EXPECT_TRUE(service.isAvailable());
  service.prewarm();
  service.prewarm();
  EXPECT_EQ(model->sessionCount(), 1u);
  EXPECT_EQ(model->prewarmCount(), 2u);
  EXPECT_EQ(model->instructions().front(), AICleanupService::systemPrompt());
  model->addResponse({{"Sure", "Sure, it costs", "Sure, it costs fifty dollars.\n"}, {}});
  EXPECT_EQ(refine(service, "it costs forty dollars, actually fifty"), "It costs fifty dollars.");
  EXPECT_EQ(model->prompts(), (std::vector<std::string>{"it costs forty dollars, actually fifty"}));
  EXPECT_FALSE(service.hasSession());
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(AICleanupServiceTest, AStreamErrorFallsBackWithAMessage) {
  auto service = makeService();
  service.prewarm();
  model->addResponse({{"partial"}, "guardrail violation"});
  EXPECT_EQ(refine(service, "hello comma world"), "Hello, world");
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"[AICleanup] FM failed, falling back to "
                                                   "Layer 1: guardrail violation"}));
}

TEST_F(AICleanupServiceTest, AnEmptyAnswerFallsBackSilently) {
  for (const auto &snapshots : std::vector<std::vector<std::string>>{{}, {"  \n "}, {"x", "\t"}}) {
    auto service = makeService();
    service.prewarm();
    model->addResponse({snapshots, {}});
    EXPECT_EQ(refine(service, "um yes period"), "Yes.");
  }
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(AICleanupServiceTest, ASecondRefineWithoutPrewarmUsesTheRules) {
  auto service = makeService();
  service.prewarm();
  model->addResponse({{"First."}, {}});
  EXPECT_EQ(refine(service, "first"), "First.");
  EXPECT_EQ(refine(service, "second comma"), "Second,");
  EXPECT_EQ(model->sessionCount(), 1u);
  EXPECT_EQ(model->prompts().size(), 1u);
}

TEST_F(AICleanupServiceTest, AnUnavailableModelAnswersWithTheRules) {
  for (const auto availability : {platform::LanguageModelAvailability::deviceNotEligible,
                                  platform::LanguageModelAvailability::notEnabled,
                                  platform::LanguageModelAvailability::modelNotReady,
                                  platform::LanguageModelAvailability::unsupportedSystem}) {
    model->setAvailability(availability);
    auto service = makeService();
    EXPECT_FALSE(service.isAvailable());
    service.prewarm();
    EXPECT_EQ(model->sessionCount(), 0u);
    const std::string text = "um so new line hello comma world period";
    EXPECT_EQ(refine(service, text), ruleBasedCleanup(text));
  }
  AICleanupService none(nullptr, main, main, log.sink());
  EXPECT_FALSE(none.isAvailable());
  EXPECT_EQ(refine(none, "ok"), "Ok");
}

} // namespace
} // namespace murmurquill
