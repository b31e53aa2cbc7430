#include "platform/system/NLLanguageRecognizer.hpp"

#include "platform/text/Utf8.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace platform {
namespace {

bool within(char32_t c, char32_t low, char32_t high) { return c >= low && c <= high; }

// Common characters of written Cantonese that standard written Chinese does not use.
constexpr std::array<char32_t, 10> kCantoneseCharacters = {
    U'\u5605', U'\u5497', U'\u55BA', U'\u5572', U'\u5622',
    U'\u4F62', U'\u54CB', U'\u569F', U'\u5187', U'\u55F0'};

std::optional<NLLanguageRecognizer::Script> scriptOf(char32_t c) {
  using S = NLLanguageRecognizer;
  if (within(c, U'A', U'Z') || within(c, U'a', U'z') || within(c, 0x00C0, 0x024F) ||
      within(c, 0x1E00, 0x1EFF)) {
    return (c == 0x00D7 || c == 0x00F7) ? std::nullopt : std::optional(S::latin);
  }
  if (within(c, 0x0370, 0x03FF)) {
    return S::greek;
  }
  if (within(c, 0x0400, 0x04FF)) {
    return S::cyrillic;
  }
  if (within(c, 0x0590, 0x05FF)) {
    return S::hebrew;
  }
  if (within(c, 0x0600, 0x06FF) || within(c, 0x0750, 0x077F)) {
    return S::arabic;
  }
  if (within(c, 0x0900, 0x097F)) {
    return S::devanagari;
  }
  if (within(c, 0x0E00, 0x0E7F)) {
    return S::thai;
  }
  if (within(c, 0x0E80, 0x0EFF)) {
    return S::lao;
  }
  if (within(c, 0x1000, 0x109F) || within(c, 0xA9E0, 0xA9FF) || within(c, 0xAA60, 0xAA7F)) {
    return S::myanmar;
  }
  if (within(c, 0x1100, 0x11FF) || within(c, 0x3130, 0x318F) || within(c, 0xAC00, 0xD7AF)) {
    return S::hangul;
  }
  if (within(c, 0x3040, 0x30FF) || within(c, 0x31F0, 0x31FF) || within(c, 0xFF66, 0xFF9F)) {
    return S::kana;
  }
  if (within(c, 0x3400, 0x4DBF) || within(c, 0x4E00, 0x9FFF) || within(c, 0xF900, 0xFAFF) ||
      within(c, 0x20000, 0x2FA1F)) {
    return S::han;
  }
  return std::nullopt;
}

} // namespace

void NLLanguageRecognizer::processString(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    // A malformed byte reads as U+FFFD, which belongs to no script.
    const char32_t scalar = nextScalar(text, i);
    if (const auto script = scriptOf(scalar)) {
      ++counts_[*script];
      if (*script == han && std::find(kCantoneseCharacters.begin(), kCantoneseCharacters.end(),
                                      scalar) != kCantoneseCharacters.end()) {
        ++counts_[cantoneseHan];
      }
    }
  }
}

std::optional<std::string> NLLanguageRecognizer::dominantLanguage() const {
  // Han and kana count together: Japanese writes both.
  struct Candidate {
    long count;
    const char *language;
  };
  const long cjk = counts_[han] + counts_[kana];
  const char *cjkLanguage = counts_[kana] > 0 ? "ja" : counts_[cantoneseHan] > 0 ? "yue" : "zh";
  const Candidate candidates[] = {
      {counts_[latin], "en"},  {counts_[cyrillic], "ru"}, {counts_[greek], "el"},
      {counts_[arabic], "ar"}, {counts_[hebrew], "he"},   {counts_[devanagari], "hi"},
      {counts_[hangul], "ko"}, {cjk, cjkLanguage},        {counts_[thai], "th"},
      {counts_[lao], "lo"},    {counts_[myanmar], "my"},
  };
  const Candidate *best = nullptr;
  for (const auto &candidate : candidates) {
    if (candidate.count > 0 && (best == nullptr || candidate.count > best->count)) {
      best = &candidate;
    }
  }
  if (best == nullptr) {
    return std::nullopt;
  }
  return std::string(best->language);
}

void NLLanguageRecognizer::reset() { std::fill(std::begin(counts_), std::end(counts_), 0L); }

std::optional<std::string> NLLanguageRecognizer::dominantLanguage(std::string_view text) {
  NLLanguageRecognizer recognizer;
  recognizer.processString(text);
  return recognizer.dominantLanguage();
}

} // namespace platform
