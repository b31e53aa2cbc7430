// Excerpts of outside data in messages: short, whole characters, no control characters.

#include "platform/text/Excerpt.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ExcerptTest, KeepsShortTextAndCutsLongTextAtACharacter) {
  struct Case {
    const char *name;
    std::string text;
    std::string excerpt;
  };
  const Case cases[] = {
      {"short", "model.bin", "model.bin"},
      {"control characters", "a\nb\x1b[2Jc", "a?b?[2Jc"},
      {"exactly the bound", std::string(64, 'x'), std::string(64, 'x')},
      {"one byte over", std::string(65, 'x'), std::string(64, 'x') + "... (65 bytes)"},
      // "é" is two bytes: a cut through it comes before it.
      {"a character split by the bound", std::string(63, 'x') + "\xc3\xa9",
       std::string(63, 'x') + "... (65 bytes)"},
      {"a character just within the bound", std::string(62, 'x') + "\xc3\xa9y",
       std::string(62, 'x') + "\xc3\xa9... (65 bytes)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(platform::excerpt(c.text), c.excerpt);
  }
}

TEST(ExcerptTest, BoundsMessagesKeepingTheirStartAndEnd) {
  EXPECT_EQ(platform::boundedMessage("short"), "short");
  const std::string message = "parse error: last read: '" + std::string(1 << 20, '7') + "e'";
  const std::string bounded = platform::boundedMessage(message);
  EXPECT_LE(bounded.size(), platform::kMessageBytes);
  EXPECT_TRUE(bounded.starts_with("parse error: last read: '777")) << bounded;
  EXPECT_TRUE(bounded.ends_with("777e'")) << bounded;
  EXPECT_NE(bounded.find("(1048603 bytes)"), std::string::npos) << bounded;
}

} // namespace
