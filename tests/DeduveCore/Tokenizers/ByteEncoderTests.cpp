#include "DeduveCore/Tokenizers/ByteEncoder.hpp"

#include <set>

#include <gtest/gtest.h>

#include "DeduveCore/Text/Utf8.hpp"

namespace deduve {
namespace {

std::string character(char32_t scalar) {
  std::string out;
  appendUtf8(out, scalar);
  return out;
}

TEST(ByteEncoderTests, TableEndPoints) {
  const struct {
    int byte;
    char32_t character;
  } cases[] = {{0, 0x100},   {10, 0x10A},  {32, 0x120},  {33, U'!'},  {65, U'A'},
               {126, U'~'},  {127, 0x121}, {160, 0x142}, {161, 0xA1}, {172, 0xAC},
               {173, 0x143}, {174, 0xAE},  {255, 0xFF}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.byte);
    EXPECT_EQ(byteEncoder()[c.byte], character(c.character));
    EXPECT_EQ(byteForCharacter(c.character), static_cast<std::uint8_t>(c.byte));
  }
}

TEST(ByteEncoderTests, DecoderInvertsEveryByteAndNothingElse) {
  std::set<std::string> seen;
  for (int byte = 0; byte < 256; ++byte) {
    const std::string &text = byteEncoder()[byte];
    EXPECT_TRUE(seen.insert(text).second) << byte;
    ASSERT_TRUE(byteDecoder().contains(text)) << byte;
    EXPECT_EQ(byteDecoder().at(text), byte);
  }
  EXPECT_EQ(byteDecoder().size(), 256u);
  for (const char32_t outside :
       {char32_t{0x20}, char32_t{0x7F}, char32_t{0xAD}, char32_t{0x144}, char32_t{0x20AC}})
    EXPECT_FALSE(byteForCharacter(outside).has_value()) << static_cast<uint32_t>(outside);
}

TEST(ByteEncoderTests, AppendByteLevelMapsEachUtf8Byte) {
  std::string out;
  appendByteLevel(out, "a \xC3\xA9\n");
  EXPECT_EQ(out, "a\xC4\xA0\xC3\x83\xC2\xA9\xC4\x8A"); // a Ġ Ã © Ċ
}

} // namespace
} // namespace deduve
