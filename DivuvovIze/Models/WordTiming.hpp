#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "DivuvovIze/Models/JsonCoding.hpp"

namespace divuvovize {

// One word with its time span (seconds) and probability. `word` usually keeps its leading
// blank.
struct WordTiming {
  std::string word;
  std::vector<int> tokens;
  float start = 0;
  float end = 0;
  float probability = 0;

  float duration() const { return end - start; }

  // Every field equal; floats compare numerically (a NaN is unequal to itself).
  bool operator==(const WordTiming &) const = default;

  // Keys "word", "tokens", "start", "end", "probability", all required when read.
  Json toJson(std::string_view path = "") const;
  static WordTiming fromJson(const Json &document, const std::string &path = "");
};

std::size_t hashValue(const WordTiming &word);

} // namespace divuvovize

template <> struct std::hash<divuvovize::WordTiming> {
  std::size_t operator()(const divuvovize::WordTiming &word) const {
    return divuvovize::hashValue(word);
  }
};
