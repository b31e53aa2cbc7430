#include "platform/text/Utf8.hpp"

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one scalar at `i`. On success returns true with the scalar and its length. On an
// ill-formed sequence returns false with `length` set to the maximal subpart (at least 1): the
// longest prefix that could still have begun a well-formed sequence (Unicode Table 3-7).
bool decodeAt(std::string_view s, std::size_t i, char32_t &scalar, std::size_t &length) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) {
    scalar = b0;
    length = 1;
    return true;
  }
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    scalar = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    scalar = b0 & 0x0F;
    if (b0 == 0xE0)
      lo = 0xA0;
    else if (b0 == 0xED)
      hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    scalar = b0 & 0x07;
    if (b0 == 0xF0)
      lo = 0x90;
    else if (b0 == 0xF4)
      hi = 0x8F;
  } else {
    length = 1;
    return false;
  }
  std::size_t k = 1;
  for (; k <= need; ++k) {
    if (i + k >= s.size()) {
      length = k;
      return false;
    }
    const unsigned char b = byte(i + k);
    const unsigned char low = k == 1 ? lo : 0x80;
    const unsigned char high = k == 1 ? hi : 0xBF;
    if (b < low || b > high) {
      length = k;
      return false;
    }
    scalar = (scalar << 6) | (b & 0x3F);
  }
  length = need + 1;
  return true;
}

} // namespace

void appendUtf8(std::string &out, char32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
    c = kReplacement;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void appendRepairedUtf8(std::string &out, std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    // Copy well-formed stretches in one go; only the faulty spots are rewritten.
    const std::size_t start = i;
    char32_t scalar;
    std::size_t length;
    while (i < bytes.size() && decodeAt(bytes, i, scalar, length))
      i += length;
    out.append(bytes.substr(start, i - start));
    if (i < bytes.size()) {
      appendUtf8(out, kReplacement);
      i += length;
    }
  }
}

std::string repairUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  appendRepairedUtf8(out, bytes);
  return out;
}

bool isValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  char32_t scalar;
  std::size_t length;
  while (i < bytes.size()) {
    if (!decodeAt(bytes, i, scalar, length))
      return false;
    i += length;
  }
  return true;
}

char32_t nextScalar(std::string_view text, std::size_t &offset) {
  char32_t scalar;
  std::size_t length;
  if (decodeAt(text, offset, scalar, length)) {
    offset += length;
    return scalar;
  }
  offset += 1;
  return kReplacement;
}

std::u16string toUtf16(std::string_view utf8) {
  // Never more units than bytes: sized once, written in place, then cut to length.
  std::u16string out(utf8.size(), u'\0');
  char16_t *next = out.data();
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto first = static_cast<unsigned char>(utf8[i]);
    if (first < 0x80) {
      *next++ = first;
      ++i;
      continue;
    }
    char32_t c;
    std::size_t length;
    if (!decodeAt(utf8, i, c, length))
      c = kReplacement;
    i += length;
    if (c < 0x10000) {
      *next++ = static_cast<char16_t>(c);
    } else {
      c -= 0x10000;
      *next++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *next++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
  }
  out.resize(static_cast<std::size_t>(next - out.data()));
  return out;
}

std::string toUtf8(std::u16string_view utf16) {
  // Sized exactly first (a surrogate pair's units make four bytes, any other unit at most
  // three), so the text is written in place with one allocation or none.
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    if (unit < 0x80) {
      bytes += 1;
    } else if (unit < 0x800) {
      bytes += 2;
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
               utf16[i + 1] <= 0xDFFF) {
      bytes += 4;
      ++i;
    } else {
      bytes += 3;
    }
  }
  std::string out(bytes, '\0');
  char *next = out.data();
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c < 0x80) {
      *next++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement; // a lone surrogate
    }
    if (c < 0x800) {
      *next++ = static_cast<char>(0xC0 | (c >> 6));
    } else if (c < 0x10000) {
      *next++ = static_cast<char>(0xE0 | (c >> 12));
      *next++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    } else {
      *next++ = static_cast<char>(0xF0 | (c >> 18));
      *next++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *next++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    *next++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

void scalarBoundaries(std::string_view text, std::vector<std::size_t> &boundaries) {
  boundaries.clear();
  boundaries.push_back(0);
  std::size_t offset = 0;
  while (offset < text.size()) {
    nextScalar(text, offset);
    boundaries.push_back(offset);
  }
}

} // namespace platform
