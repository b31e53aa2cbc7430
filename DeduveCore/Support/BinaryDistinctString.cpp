#include "DeduveCore/Support/BinaryDistinctString.hpp"

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Text/Utf8.hpp"

namespace deduve {

namespace {

// Unit offsets of every character boundary, 0 and value.size() included.
std::vector<int> characterBoundaries(const std::u16string &text) {
  std::vector<std::size_t> offsets;
  graphemeBoundaries(std::u16string_view(text), offsets);
  return std::vector<int>(offsets.begin(), offsets.end());
}

[[noreturn]] void outOfBounds() { throw std::out_of_range("Index out of bounds"); }

} // namespace

std::u16string utf16(std::string_view utf8Text) { return toUtf16(utf8Text); }

std::string utf8(std::u16string_view utf16Text) { return toUtf8(utf16Text); }

BinaryDistinctString::BinaryDistinctString(const std::vector<std::uint16_t> &units)
    : value(units.begin(), units.end()) {}

BinaryDistinctString::BinaryDistinctString(std::string_view utf8Text) : value(utf16(utf8Text)) {}

BinaryDistinctString::BinaryDistinctString(const BinaryDistinctCharacter &character)
    : value(character.bytes) {}

BinaryDistinctString::BinaryDistinctString(const std::vector<BinaryDistinctCharacter> &characters) {
  for (const auto &character : characters) {
    value += character.bytes;
  }
}

std::string BinaryDistinctString::string() const { return utf8(value); }

int BinaryDistinctString::count() const {
  return static_cast<int>(characterBoundaries(value).size()) - 1;
}

bool BinaryDistinctString::hasPrefix(const BinaryDistinctString &prefix) const {
  return prefix.value.size() <= value.size() &&
         value.compare(0, prefix.value.size(), prefix.value) == 0;
}

bool BinaryDistinctString::hasSuffix(const BinaryDistinctString &suffix) const {
  return suffix.value.size() <= value.size() &&
         value.compare(value.size() - suffix.value.size(), suffix.value.size(), suffix.value) == 0;
}

BinaryDistinctString BinaryDistinctString::lowercased() const {
  return BinaryDistinctString(lowercase(std::u16string_view(value)));
}

BinaryDistinctString
BinaryDistinctString::replacingOccurrences(const BinaryDistinctString &target,
                                           const BinaryDistinctString &replacement) const {
  if (target.value.empty()) {
    return *this;
  }
  const std::vector<int> text = characterBoundaries(value);
  const std::vector<int> wanted = characterBoundaries(target.value);
  const std::size_t textCount = text.size() - 1;
  const std::size_t wantedCount = wanted.size() - 1;
  const auto characterOf = [](const std::u16string &units, const std::vector<int> &bounds,
                              std::size_t i) {
    return std::u16string_view(units).substr(static_cast<std::size_t>(bounds[i]),
                                             static_cast<std::size_t>(bounds[i + 1] - bounds[i]));
  };
  const auto matchesAt = [&](std::size_t at) {
    for (std::size_t k = 0; k < wantedCount; ++k) {
      if (!canonicallyEquivalent(characterOf(value, text, at + k),
                                 characterOf(target.value, wanted, k))) {
        return false;
      }
    }
    return true;
  };
  std::u16string result;
  std::size_t copied = 0; // characters already copied or replaced
  std::size_t at = 0;
  while (at + wantedCount <= textCount) {
    if (matchesAt(at)) {
      result.append(value, static_cast<std::size_t>(text[copied]),
                    static_cast<std::size_t>(text[at] - text[copied]));
      result += replacement.value;
      at += wantedCount;
      copied = at;
    } else {
      ++at;
    }
  }
  result.append(value, static_cast<std::size_t>(text[copied]), std::u16string::npos);
  return BinaryDistinctString(std::move(result));
}

int BinaryDistinctString::index(int i, int offsetBy) const {
  int moved = 0;
  if (__builtin_add_overflow(i, offsetBy, &moved) || moved < 0 || moved > count()) {
    outOfBounds();
  }
  return moved;
}

std::optional<int> BinaryDistinctString::index(int i, int offsetBy, int limitedBy) const {
  int moved = 0;
  if (__builtin_add_overflow(i, offsetBy, &moved)) {
    outOfBounds();
  }
  if (limitedBy < moved) {
    return std::nullopt;
  }
  return moved;
}

BinaryDistinctString BinaryDistinctString::substring(int lower, int upper) const {
  const auto boundaries = characterBoundaries(value);
  const int characters = static_cast<int>(boundaries.size()) - 1;
  if (lower < 0 || upper > characters || lower > upper) {
    outOfBounds();
  }
  const auto begin = static_cast<std::size_t>(boundaries[static_cast<std::size_t>(lower)]);
  const auto end = static_cast<std::size_t>(boundaries[static_cast<std::size_t>(upper)]);
  return BinaryDistinctString(value.substr(begin, end - begin));
}

BinaryDistinctString BinaryDistinctString::substring(int lower) const {
  // The end is the character count: a code-unit count would overshoot whenever a character
  // takes several units.
  return substring(lower, count());
}

std::vector<BinaryDistinctCharacter> BinaryDistinctString::characters() const {
  const auto boundaries = characterBoundaries(value);
  std::vector<BinaryDistinctCharacter> result;
  result.reserve(boundaries.size() - 1);
  for (std::size_t i = 0; i + 1 < boundaries.size(); ++i) {
    const auto begin = static_cast<std::size_t>(boundaries[i]);
    const auto end = static_cast<std::size_t>(boundaries[i + 1]);
    result.emplace_back();
    result.back().bytes.assign(value, begin, end - begin);
  }
  return result;
}

BinaryDistinctCharacter::BinaryDistinctCharacter(std::string_view utf8Text)
    : bytes(utf16(utf8Text)) {}

std::string BinaryDistinctCharacter::string() const { return utf8(bytes); }

std::string BinaryDistinctCharacter::description() const {
  std::string text = "BinaryDistinctCharacter('" + string() + "', bytes: [";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char unit[16];
    std::snprintf(unit, sizeof unit, "\"0x%02X\"", static_cast<unsigned>(bytes[i]));
    text += (i ? ", " : "");
    text += unit;
  }
  return text + "])";
}

} // namespace deduve
