// Model-support documents from a model repository: read from their text and asked for the
// models of a few devices. The seed corpus holds the built-in table, a document of many keys and
// one nested far past the reader's depth limit, so that a regression to a parse that costs the
// square of the key count, or a stack overflow, fails here.

#include <string>

#include <gtest/gtest.h>

#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/ModelSupportConfig.hpp"
#include "tests/fuzz/FuzzSupport.hpp"

namespace divuvovize {
namespace {

void parseAndUse(const std::string &input) {
  const ModelSupportConfig config = ModelSupportConfig::parse(input, "config.json");
  for (const char *device : {"Mac14,2", "iPhone17,1", "unknown"}) {
    (void)config.modelSupport(device);
  }
  (void)config.toJson().dump();
}

TEST(ModelSupportFuzz, SeedsAreAcceptedOrRefusedCleanly) {
  const auto corpus = mqtest::fuzz::loadCorpus("model-support");
  ASSERT_FALSE(corpus.empty());
  for (const std::string &seed : corpus) {
    try {
      parseAndUse(seed);
    } catch (const std::exception &) {
    }
  }
  // The built-in table, written out, reads back as itself.
  const std::string builtIn = Constants::fallbackModelSupportConfig().toJson().dump();
  EXPECT_EQ(ModelSupportConfig::parse(builtIn, "config.json").toJson().dump(), builtIn);
}

TEST(ModelSupportFuzz, MutantsAreAcceptedOrRefusedCleanly) {
  mqtest::fuzz::run("model-support", /*seed=*/4407, /*count=*/600, parseAndUse);
}

} // namespace
} // namespace divuvovize
