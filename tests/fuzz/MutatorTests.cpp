#include "tests/fuzz/FuzzSupport.hpp"

#include <gtest/gtest.h>

namespace mqtest::fuzz {
namespace {

// A failure found in CI must reproduce from its seed alone.
TEST(FuzzMutatorTest, SameSeedGivesSameInputs) {
  const std::vector<std::string> corpus = {"{\"a\": [1, 2, 3]}", "RIFF\x24\0\0\0WAVE"};
  Random first(42);
  Random second(42);
  for (int i = 0; i < 500; ++i) {
    ASSERT_EQ(mutate(corpus[0], corpus, first), mutate(corpus[0], corpus, second)) << i;
  }
}

TEST(FuzzMutatorTest, OutputNeverExceedsTheCap) {
  const std::vector<std::string> corpus = {std::string(1000, 'x')};
  Random rng(7);
  std::string input = corpus[0];
  for (int i = 0; i < 200; ++i) {
    input = mutate(input, corpus, rng, /*maxSize=*/2048);
    ASSERT_LE(input.size(), 2048u) << i;
  }
}

} // namespace
} // namespace mqtest::fuzz
