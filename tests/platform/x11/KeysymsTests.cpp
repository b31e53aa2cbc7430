#include "platform/x11/Keysyms.hpp"

#include <gtest/gtest.h>

namespace platform {
namespace {

struct KeysymCase {
  const char *name;
  unsigned long keysym;
  std::optional<std::string> typed;
};

class KeysymTable : public ::testing::TestWithParam<KeysymCase> {};

TEST_P(KeysymTable, TypesItsCharacterInUtf8OrNothing) {
  const auto &c = GetParam();
  const auto character = characterOfKeysym(c.keysym);
  ASSERT_EQ(character.has_value(), c.typed.has_value());
  if (character) {
    EXPECT_EQ(utf8OfCharacter(*character), *c.typed);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keysyms, KeysymTable,
    ::testing::Values(
        KeysymCase{"space", 0x20, " "}, KeysymCase{"tilde", 0x7E, "~"},
        KeysymCase{"delete", 0x7F, std::nullopt}, KeysymCase{"unassigned", 0x9F, std::nullopt},
        KeysymCase{"nobreakspace", 0xA0, "\xC2\xA0"}, KeysymCase{"ydiaeresis", 0xFF, "\xC3\xBF"},
        KeysymCase{"legacyOE", 0x13BC, std::nullopt}, KeysymCase{"returnKey", 0xFF0D, std::nullopt},
        KeysymCase{"unicodeEuro", 0x010020AC, "\xE2\x82\xAC"},
        KeysymCase{"unicodeEmoji", 0x0101F600, "\xF0\x9F\x98\x80"},
        KeysymCase{"unicodeLast", 0x0110FFFF, "\xF4\x8F\xBF\xBF"},
        KeysymCase{"pastUnicode", 0x01110000, std::nullopt}),
    [](const ::testing::TestParamInfo<KeysymCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace platform
