#include "DeduveCore/Tokenizers/ByteEncoder.hpp"

#include "DeduveCore/Text/Utf8.hpp"

namespace deduve {
namespace {

// The code point each byte stands for: printable Latin-1 bytes keep their own, the other 68
// take U+0100 upwards in byte order.
struct ByteTable {
  std::array<char32_t, 256> characterOf{};
  std::array<std::string, 256> utf8Of;
  static constexpr char32_t kLastCharacter = 0x143;
  std::array<int, kLastCharacter + 1> byteOf{}; // -1: not a table character

  ByteTable() {
    byteOf.fill(-1);
    char32_t next = 0x100;
    for (int byte = 0; byte < 256; ++byte) {
      const bool printable =
          (byte >= 33 && byte <= 126) || (byte >= 161 && byte <= 172) || byte >= 174;
      const char32_t character = printable ? static_cast<char32_t>(byte) : next++;
      characterOf[byte] = character;
      appendUtf8(utf8Of[byte], character);
      byteOf[character] = byte;
    }
  }
};

const ByteTable &table() {
  static const ByteTable instance; // thread-safe one-time initialisation
  return instance;
}

} // namespace

const std::array<std::string, 256> &byteEncoder() { return table().utf8Of; }

const std::unordered_map<std::string, std::uint8_t> &byteDecoder() {
  static const std::unordered_map<std::string, std::uint8_t> decoder = [] {
    std::unordered_map<std::string, std::uint8_t> map;
    const auto &encoder = byteEncoder();
    for (int byte = 0; byte < 256; ++byte)
      map.emplace(encoder[byte], static_cast<std::uint8_t>(byte));
    return map;
  }();
  return decoder;
}

std::optional<std::uint8_t> byteForCharacter(char32_t character) {
  if (character > ByteTable::kLastCharacter)
    return std::nullopt;
  const int byte = table().byteOf[character];
  if (byte < 0)
    return std::nullopt;
  return static_cast<std::uint8_t>(byte);
}

void appendByteLevel(std::string &out, std::string_view bytes) {
  const auto &encoder = table().utf8Of;
  for (const char c : bytes)
    out.append(encoder[static_cast<unsigned char>(c)]);
}

} // namespace deduve
