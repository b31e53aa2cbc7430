#include "DeduveCore/Support/StringUtilities.hpp"

#include "DeduveCore/Support/BinaryDistinctString.hpp"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <array>
#include <cmath>
#include <stdexcept>

namespace deduve {

std::string trimmingFromEnd(std::string_view text, std::string_view character, int upto) {
  if (upto <= 0 || character.empty() || text.empty()) {
    return std::string(text);
  }
  // Whole characters are compared, so a trailing accent that belongs to a letter is not taken
  // for a lone accent.
  const BinaryDistinctString target(character);
  auto characters = BinaryDistinctString(text).characters();
  int removed = 0;
  while (removed < upto && !characters.empty() && characters.back().bytes == target.value) {
    characters.pop_back();
    ++removed;
  }
  if (removed == 0) {
    return std::string(text);
  }
  return BinaryDistinctString(characters).string();
}

namespace {

std::string trimWhitespace(std::string_view text) {
  const auto isSpace = [](UChar32 c) { return u_isUWhiteSpace(c) || c == 0x85; };
  int32_t begin = 0;
  const auto length = static_cast<int32_t>(text.size());
  while (begin < length) {
    int32_t next = begin;
    UChar32 c;
    U8_NEXT(text.data(), next, length, c);
    if (!isSpace(c)) {
      break;
    }
    begin = next;
  }
  int32_t end = length;
  while (end > begin) {
    int32_t previous = end;
    UChar32 c;
    U8_PREV(text.data(), begin, previous, c);
    if (!isSpace(c)) {
      break;
    }
    end = previous;
  }
  return std::string(
      text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
}

} // namespace

std::optional<std::string>
trailingFragment(std::string_view text, std::size_t minimumLength,
                 const std::function<std::size_t(std::string_view)> &measure) {
  const std::array<std::vector<std::string_view>, 3> delimiterSets{{
      {".", "!", "?", "\n"},
      {",", ";", ":", "-", "\xE2\x80\x93"},
      {" "},
  }};
  for (const auto &delimiters : delimiterSets) {
    std::size_t bestEnd = std::string_view::npos;
    for (auto delimiter : delimiters) {
      const auto found = text.rfind(delimiter);
      if (found != std::string_view::npos &&
          (bestEnd == std::string_view::npos || found + delimiter.size() > bestEnd)) {
        bestEnd = found + delimiter.size();
      }
    }
    if (bestEnd == std::string_view::npos) {
      continue;
    }
    std::string fragment = trimWhitespace(text.substr(bestEnd));
    if (measure(fragment) >= minimumLength) {
      return fragment;
    }
  }
  return std::nullopt;
}

bool stringStartsWith(std::string_view prefix, std::string_view text) {
  const auto prefixCharacters = BinaryDistinctString(prefix).characters();
  const auto textCharacters = BinaryDistinctString(text).characters();
  if (prefixCharacters.size() > textCharacters.size()) {
    return false;
  }
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2 *nfc = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status)) {
    throw std::runtime_error("stringStartsWith: ICU normalisation is unavailable");
  }
  for (std::size_t i = 0; i < prefixCharacters.size(); ++i) {
    const auto &a = prefixCharacters[i].bytes;
    const auto &b = textCharacters[i].bytes;
    if (a == b) {
      continue;
    }
    icu::UnicodeString left(a.data(), static_cast<int32_t>(a.size()));
    icu::UnicodeString right(b.data(), static_cast<int32_t>(b.size()));
    if (nfc->normalize(left, status) != nfc->normalize(right, status) || U_FAILURE(status)) {
      return false;
    }
  }
  return true;
}

float rounded(float x, int decimals) {
  const float scale = std::pow(10.0f, static_cast<float>(decimals));
  return std::round(x * scale) / scale;
}

std::string resolveAbsolutePath(const std::string &path, const platform::Environment &environment) {
  std::string expanded = path;
  if (path == "~" || path.starts_with("~/")) {
    std::string home = environment.homeDirectory().string();
    while (home.size() > 1 && home.back() == '/') {
      home.pop_back();
    }
    expanded = path == "~" ? home : home + path.substr(1);
  }
  if (expanded.starts_with("/")) {
    return expanded;
  }
  return (environment.currentDirectory() / expanded).string();
}

std::string resolveAbsolutePath(const std::string &path) {
  return resolveAbsolutePath(path, platform::Environment::process());
}

} // namespace deduve
