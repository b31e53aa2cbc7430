#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Names the dominant language of a text from the writing systems of its letters. It stands in
// for the platform's statistical recognizer where only the script-defined languages matter:
// Chinese "zh" (Han ideographs), Japanese "ja" (Han with kana, or kana alone), Thai "th", Lao
// "lo", Burmese "my" and Cantonese "yue" (Han text holding characters written only in
// Cantonese). Text whose letters are mostly of another script is named by that script's most
// common language ("en" for Latin, "ru" for Cyrillic, "ko" for Hangul, ...); text without
// letters has no dominant language.
//
// Not thread-safe: one recognizer per thread, or one text at a time.
class NLLanguageRecognizer {
public:
  NLLanguageRecognizer() = default;

  // Adds `text` (UTF-8; malformed bytes are skipped) to what the recognizer has seen.
  void processString(std::string_view text);
  // The code of the dominant language of everything processed since the last reset; absent
  // when no letter was seen.
  std::optional<std::string> dominantLanguage() const;
  // Forgets everything processed.
  void reset();

  // The dominant language of one text.
  static std::optional<std::string> dominantLanguage(std::string_view text);

  // Letter counts per script; exposed for the recognizer's own use.
  enum Script {
    latin,
    cyrillic,
    greek,
    arabic,
    hebrew,
    devanagari,
    hangul,
    han,
    kana,
    thai,
    lao,
    myanmar,
    cantoneseHan, // Han characters written only in Cantonese (counted in han as well)
    scriptCount
  };

private:
  long counts_[scriptCount] = {};
};

} // namespace platform
