#include "DeduveCore/Support/StringUtilities.hpp"

#include "DeduveCore/Support/BinaryDistinctString.hpp"
#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Text/Utf8.hpp"

#include <pwd.h>

#include <array>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <vector>

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

namespace {} // namespace

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
    std::string fragment(trimmingWhiteSpace(text.substr(bestEnd)));
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
  for (std::size_t i = 0; i < prefixCharacters.size(); ++i) {
    if (!canonicallyEquivalent(prefixCharacters[i].bytes, textCharacters[i].bytes)) {
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
  if (path.starts_with("~")) {
    // "~" and "~/..." name the environment's home folder, "~user" and "~user/..." that user's
    // home folder; an unknown user leaves the path as it is.
    const std::size_t slash = path.find('/');
    const std::string user = path.substr(1, slash == std::string::npos ? slash : slash - 1);
    std::optional<std::string> home;
    if (user.empty()) {
      home = environment.homeDirectory().string();
    } else {
      std::vector<char> buffer(16384);
      passwd entry{};
      passwd *found = nullptr;
      if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
          found != nullptr && found->pw_dir != nullptr) {
        home = std::string(found->pw_dir);
      }
    }
    if (home) {
      while (home->size() > 1 && home->back() == '/') {
        home->pop_back();
      }
      expanded = slash == std::string::npos ? *home : *home + path.substr(slash);
    }
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
