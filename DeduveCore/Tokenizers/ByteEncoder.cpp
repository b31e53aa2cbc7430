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
  // The UTF-8 form of each byte's character (one or two bytes, as every table character is
  // below U+0800), for appending without a string per byte.
  std::array<std::array<char, 2>, 256> packed{};
  std::array<unsigned char, 256> packedSize{};

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
      packedSize[byte] = static_cast<unsigned char>(utf8Of[byte].size());
      for (std::size_t i = 0; i < utf8Of[byte].size(); ++i)
        packed[byte][i] = utf8Of[byte][i];
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
  const ByteTable &encoder = table();
  const std::size_t start = out.size();
  out.resize(start + 2 * bytes.size());
  char *write = out.data() + start;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    // Two bytes are always written and the cursor moves by the character's size: the buffer
    // has room for two per input byte.
    write[0] = encoder.packed[byte][0];
    write[1] = encoder.packed[byte][1];
    write += encoder.packedSize[byte];
  }
  out.resize(static_cast<std::size_t>(write - out.data()));
}

} // namespace deduve
