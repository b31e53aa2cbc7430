#include "platform/text/Utf8.hpp"

#include <gtest/gtest.h>

namespace platform {
namespace {

struct RepairCase {
  const char *name;
  std::string input;
  std::string expected;
};

TEST(Utf8Tests, RepairReplacesEachMaximalIllFormedSubpartWithOneReplacementCharacter) {
  const std::string fffd = "\xEF\xBF\xBD";
  const RepairCase cases[] = {
      {"well-formed text is kept", "a\xC3\xA9\xE2\x96\x81\xF0\x9F\x98\x80",
       "a\xC3\xA9\xE2\x96\x81\xF0\x9F\x98\x80"},
      {"lone continuation byte",
       "a\x80"
       "b",
       "a" + fffd + "b"},
      {"truncated three-byte sequence at the end", "a\xE2\x96", "a" + fffd},
      {"truncated sequence followed by ASCII", "\xE2\x96z", fffd + "z"},
      {"overlong two-byte form", "\xC0\xAF", fffd + fffd},
      {"encoded surrogate", "\xED\xA0\x80", fffd + fffd + fffd},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},
      {"invalid lead byte", "\xFF", fffd},
      {"two truncated sequences in a row", "\xF0\x9F\xE2\x96", fffd + fffd},
      {"empty", "", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(repairUtf8(c.input), c.expected);
    EXPECT_EQ(isValidUtf8(c.input), c.input == c.expected);
    EXPECT_TRUE(isValidUtf8(repairUtf8(c.input)));
  }
}

TEST(Utf8Tests, ConvertsBetweenUtf8AndUtf16BothWays) {
  const std::string text = "a\xC3\xA9\xE2\x96\x81\xF0\x9F\x98\x80";
  const std::u16string utf16 = toUtf16(text);
  EXPECT_EQ(utf16, (std::u16string{u'a', 0x00E9, 0x2581, 0xD83D, 0xDE00}));
  EXPECT_EQ(toUtf8(utf16), text);
  EXPECT_EQ(toUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
  EXPECT_EQ(toUtf16("\xFFx"), (std::u16string{0xFFFD, u'x'}));
}

// Each width of encoding at its edges, and unpaired surrogates anywhere in the text.
TEST(Utf8Tests, Utf16ToUtf8Table) {
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    std::u16string utf16;
    std::string utf8;
  };
  const Case cases[] = {
      {u"", ""},
      {{0x7F, 0x80}, "\x7F\xC2\x80"},
      {{0x7FF, 0x800}, "\xDF\xBF\xE0\xA0\x80"},
      {{0xFFFF}, "\xEF\xBF\xBF"},
      {{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
      {{u'a', 0xD83D}, "a" + fffd}, // a lead unit at the end
      {{0xDE00, u'b'}, fffd + "b"}, // a trail unit first
      {{0xD83D, 0xD83D, 0xDE00}, fffd + "\xF0\x9F\x98\x80"},
      {u"sixteen letters!", "sixteen letters!"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(toUtf8(c.utf16), c.utf8);
    if (c.utf8.find(fffd) == std::string::npos) {
      EXPECT_EQ(toUtf16(c.utf8), c.utf16);
    }
  }
}

TEST(Utf8Tests, NextScalarAdvancesOverEveryInput) {
  const std::string text = "\xF0\x9F\x98\x80\x80"
                           "a";
  std::size_t offset = 0;
  EXPECT_EQ(nextScalar(text, offset), U'\U0001F600');
  EXPECT_EQ(offset, 4u);
  EXPECT_EQ(nextScalar(text, offset), U'\uFFFD');
  EXPECT_EQ(offset, 5u);
  EXPECT_EQ(nextScalar(text, offset), U'a');
  EXPECT_EQ(offset, 6u);
}

} // namespace
} // namespace platform
