#include "app/support/TextTrimming.hpp"

#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Text/Utf8.hpp"

namespace murmurquill {

std::string trimmingWhitespaceAndNewlines(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t next = begin;
    if (!deduve::isWhiteSpace(deduve::nextScalar(text, next))) {
      break;
    }
    begin = next;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = end - 1;
    while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
      --start;
    }
    std::size_t probe = start;
    if (!deduve::isWhiteSpace(deduve::nextScalar(text, probe))) {
      break;
    }
    end = start;
  }
  return std::string(text.substr(begin, end - begin));
}

} // namespace murmurquill
