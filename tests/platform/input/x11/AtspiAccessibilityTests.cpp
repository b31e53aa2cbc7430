#include "platform/input/x11/AtspiAccessibility.hpp"
#include "platform/input/x11/TextOffsets.hpp"

#include "tests/support/SessionBus.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace platform {
namespace {

struct OffsetCase {
  const char *name;
  const char *utf8;
  std::int64_t characters;
  std::int64_t utf16;
};

class TextOffsetsTest : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(TextOffsetsTest, CharacterAndUtf16OffsetsConvertBothWays) {
  const OffsetCase &c = GetParam();
  EXPECT_EQ(utf16OffsetOfCharacter(c.utf8, c.characters), c.utf16);
  EXPECT_EQ(characterOffsetOfUtf16(c.utf8, c.utf16), c.characters);
}

// "a😀é" holds 3 characters in 4 UTF-16 units.
INSTANTIATE_TEST_SUITE_P(
    Texts, TextOffsetsTest,
    ::testing::Values(OffsetCase{"Start", "a\xF0\x9F\x98\x80\xC3\xA9", 0, 0},
                      OffsetCase{"BeforeEmoji", "a\xF0\x9F\x98\x80\xC3\xA9", 1, 1},
                      OffsetCase{"AfterEmoji", "a\xF0\x9F\x98\x80\xC3\xA9", 2, 3},
                      OffsetCase{"End", "a\xF0\x9F\x98\x80\xC3\xA9", 3, 4},
                      OffsetCase{"Empty", "", 0, 0},
                      OffsetCase{"BadByteIsOneCharacter",
                                 "a\xFF"
                                 "b",
                                 2, 2}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TextOffsetsClampTest, OffsetsPastTheEndOrInsideAPairClamp) {
  const std::string text = "a\xF0\x9F\x98\x80";
  EXPECT_EQ(utf16OffsetOfCharacter(text, 10), 3);
  EXPECT_EQ(characterOffsetOfUtf16(text, 10), 2);
  EXPECT_EQ(characterOffsetOfUtf16(text, 2), 2); // inside the pair: after it
  EXPECT_EQ(utf16FromUtf8(text), u"a\U0001F600");
  EXPECT_EQ(utf16FromUtf8("x\xC3"), u"x\uFFFD");
}

// Sets an environment variable for the test's duration.
class ScopedEnvironment {
public:
  ScopedEnvironment(const char *name, const char *value) : name_(name) {
    if (const char *old = std::getenv(name)) {
      old_ = old;
    }
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

private:
  const char *name_;
  std::optional<std::string> old_;
};

TEST(AtspiAccessibilityTest, WithoutASessionBusItIsNotTrustedAndHasNoFocusedElement) {
  ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", nullptr);
  AtspiAccessibility accessibility;
  EXPECT_FALSE(accessibility.isProcessTrusted());
  EXPECT_FALSE(accessibility.isProcessTrustedWithOptions(true));
  const auto systemWide = accessibility.systemWideElement();
  ASSERT_NE(systemWide, nullptr);
  AccessibilityValue value;
  EXPECT_EQ(systemWide->copyAttributeValue(AccessibilityAttribute::focusedElement, value),
            AccessibilityError::apiDisabled);
  EXPECT_EQ(systemWide->copyAttributeValue(AccessibilityAttribute::value, value),
            AccessibilityError::attributeUnsupported);
}

TEST(AtspiAccessibilityTest, OnASessionBusWithNoApplicationsNothingHasTheFocus) {
  const auto address = mqtest::SessionBus::address();
  if (!address) {
    GTEST_SKIP() << "needs the dbus-daemon program for a private session bus";
  }
  ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", address->c_str());
  AtspiAccessibility accessibility;
  if (!accessibility.isProcessTrusted()) {
    GTEST_SKIP() << "the accessibility bus could not be started on the private session bus";
  }
  AccessibilityValue value;
  EXPECT_EQ(accessibility.systemWideElement()->copyAttributeValue(
                AccessibilityAttribute::focusedElement, value),
            AccessibilityError::noValue);
}

} // namespace
} // namespace platform
