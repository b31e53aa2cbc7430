#pragma once

#include <string>
#include <string_view>

namespace murmurquill {

// The rule-based clean-up of a raw dictation ("Layer 1"): spoken punctuation words become
// marks, filler words go, spacing and doubled punctuation are repaired and the first letter is
// capitalised. Pure functions of fixed tables; thread-safe; never fail.

// applySpokenPunctuation, then removeFillerWords, then tidyPunctuation.
std::string ruleBasedCleanup(std::string_view text);

// "comma" -> ",", "new line" -> "\n", ... (whole words, any case); the spaces around stay.
std::string applySpokenPunctuation(std::string_view text);
// Removes "uh-huh", "you know", "um", "uh", "hmm", "mhm" (whole words, any case) with one
// comma right after and the white space after that.
std::string removeFillerWords(std::string_view text);
// Closes gaps before marks, collapses runs, trims, and upper-cases a lower-case first
// character.
std::string tidyPunctuation(std::string_view text);

} // namespace murmurquill
