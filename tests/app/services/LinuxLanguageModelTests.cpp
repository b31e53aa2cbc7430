#include "app/services/AICleanupService.hpp"
#include "app/services/RuleBasedCleanup.hpp"

#include "platform/services/UnavailableLanguageModel.hpp"
#include "platform/system/ManualExecutor.hpp"
#include "tests/app/AppTestSupport.hpp"

#include <gtest/gtest.h>

namespace murmurquill {
namespace {

// Linux has no on-device language model: the refine road answers with the rules.
TEST(LinuxLanguageModel, RefineTakesTheRuleBasedRoad) {
  auto model = std::make_shared<platform::UnavailableLanguageModel>();
  EXPECT_EQ(model->availability(), platform::LanguageModelAvailability::unsupportedSystem);
  EXPECT_THROW(model->makeSession("instructions"), platform::LanguageModelError);

  auto main = std::make_shared<platform::ManualExecutor>();
  testing::LogRecorder log;
  AICleanupService service(model, main, main, log.sink());
  EXPECT_FALSE(service.isAvailable());
  service.prewarm();
  const std::string text = "um so new line hello comma world period";
  std::optional<std::string> refined;
  service.refine(text, [&](std::string result) { refined = std::move(result); });
  main->runUntilIdle();
  EXPECT_EQ(refined, ruleBasedCleanup(text));
}

} // namespace
} // namespace murmurquill
