#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace deduve {

class BinaryDistinctCharacter;

// Text held as its UTF-16 code units and compared, ordered and hashed by those units alone:
// no Unicode normalisation, so a precomposed "é" and "e" + combining accent are different
// keys. Key type of configuration dictionaries and vocabularies.
//
// Positions in index(), substring() are counted in characters (extended grapheme clusters);
// a position outside 0 ... count() throws std::out_of_range("Index out of bounds").
struct BinaryDistinctString {
  std::u16string value; // code units in text order

  BinaryDistinctString() = default;
  BinaryDistinctString(std::u16string units) : value(std::move(units)) {}
  BinaryDistinctString(const std::vector<std::uint16_t> &units);
  // The UTF-16 units of UTF-8 text; malformed sequences become U+FFFD.
  BinaryDistinctString(std::string_view utf8);
  BinaryDistinctString(const std::string &utf8) : BinaryDistinctString(std::string_view(utf8)) {}
  BinaryDistinctString(const char *utf8) : BinaryDistinctString(std::string_view(utf8)) {}
  explicit BinaryDistinctString(const BinaryDistinctCharacter &character);
  explicit BinaryDistinctString(const std::vector<BinaryDistinctCharacter> &characters);

  // The text as UTF-8 (unpaired surrogates become U+FFFD).
  std::string string() const;
  std::string description() const { return string(); }
  // Number of code units.
  std::size_t unitCount() const { return value.size(); }
  bool empty() const { return value.empty(); }
  // Number of characters (extended grapheme clusters), not of code units.
  int count() const;

  friend bool operator==(const BinaryDistinctString &, const BinaryDistinctString &) = default;
  // Lexicographic on the unsigned unit values; a prefix sorts first.
  friend std::strong_ordering operator<=>(const BinaryDistinctString &a,
                                          const BinaryDistinctString &b) {
    return a.value.compare(b.value) <=> 0;
  }
  friend BinaryDistinctString operator+(const BinaryDistinctString &a,
                                        const BinaryDistinctString &b) {
    return BinaryDistinctString(a.value + b.value);
  }

  std::size_t hash() const { return std::hash<std::u16string>{}(value); }

  bool hasPrefix(const BinaryDistinctString &prefix) const;
  bool hasSuffix(const BinaryDistinctString &suffix) const;

  // Full Unicode lower-casing (locale-independent).
  BinaryDistinctString lowercased() const;
  // Every occurrence of `target` replaced by `replacement`, searched as text is: whole
  // characters (grapheme clusters) compared by canonical equivalence, so "e" is not found
  // inside "e" + U+0301 and a decomposed "é" finds a precomposed one. An empty target changes
  // nothing.
  BinaryDistinctString replacingOccurrences(const BinaryDistinctString &target,
                                            const BinaryDistinctString &replacement) const;

  // i + n when 0 <= i + n <= count(); otherwise throws std::out_of_range("Index out of
  // bounds") (also on overflow).
  int index(int i, int offsetBy) const;
  // Absent when limit < i + n, else i + n.
  std::optional<int> index(int i, int offsetBy, int limitedBy) const;

  // The characters at positions lower ..< upper. Throws std::out_of_range("Index out of
  // bounds") when lower < 0, upper > count() or lower > upper.
  BinaryDistinctString substring(int lower, int upper) const;
  // The characters from position lower to the end.
  BinaryDistinctString substring(int lower) const;

  // The characters in order, each with its code units.
  std::vector<BinaryDistinctCharacter> characters() const;
};

// One character of a BinaryDistinctString, held as its UTF-16 code units.
class BinaryDistinctCharacter {
public:
  std::u16string bytes;

  BinaryDistinctCharacter() = default;
  explicit BinaryDistinctCharacter(std::u16string units) : bytes(std::move(units)) {}
  explicit BinaryDistinctCharacter(std::string_view utf8);

  std::string string() const;
  // BinaryDistinctCharacter('a', bytes: ["0x61"])
  std::string description() const;

  friend bool operator==(const BinaryDistinctCharacter &,
                         const BinaryDistinctCharacter &) = default;
};

// Merges `other`, a dictionary keyed by platform strings (UTF-8), into `dictionary`: each key
// becomes its code units; for a key present in both, `combine(current, incoming)` gives the
// value kept.
template <typename Value, typename Other, typename Combine>
void merge(std::unordered_map<BinaryDistinctString, Value> &dictionary, const Other &other,
           Combine &&combine) {
  for (const auto &[key, value] : other) {
    const auto [entry, inserted] = dictionary.try_emplace(BinaryDistinctString(key), value);
    if (!inserted)
      entry->second = combine(entry->second, value);
  }
}

// The merged copy of `dictionary` and `other`, as merge() does it.
template <typename Value, typename Other, typename Combine>
std::unordered_map<BinaryDistinctString, Value>
merging(std::unordered_map<BinaryDistinctString, Value> dictionary, const Other &other,
        Combine &&combine) {
  merge(dictionary, other, std::forward<Combine>(combine));
  return dictionary;
}

// UTF-8 <-> UTF-16 conversions used throughout the support library; malformed input becomes
// U+FFFD.
std::u16string utf16(std::string_view utf8);
std::string utf8(std::u16string_view utf16);

} // namespace deduve

template <> struct std::hash<deduve::BinaryDistinctString> {
  std::size_t operator()(const deduve::BinaryDistinctString &s) const noexcept { return s.hash(); }
};
