#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "DivuvovIze/Models/JsonCoding.hpp"
#include "DivuvovIze/Models/TokenLogProbs.hpp"
#include "DivuvovIze/Models/WordTiming.hpp"

namespace divuvovize {

// One stretch of decoded text between two timestamps.
struct TranscriptionSegment {
  int id = 0;
  int seek = 0;    // the window's seek position, samples
  float start = 0; // seconds
  float end = 0;   // seconds
  std::string text;
  std::vector<int> tokens;
  std::vector<TokenLogProbs> tokenLogProbs; // one map per token: id -> log-probability
  float temperature = 0;
  float avgLogprob = 0;
  float compressionRatio = 0;
  float noSpeechProb = 0;
  std::optional<std::vector<WordTiming>> words; // present when word timings were computed

  float duration() const { return end - start; }

  // All twelve fields equal; absent words differ from an empty list.
  bool operator==(const TranscriptionSegment &) const = default;

  // Keys in field order; "words" left out when absent. tokenLogProbs is a list of objects keyed
  // by the token id as text. Throws JsonEncodingError for a non-finite float.
  Json toJson(std::string_view path = "") const;
  // Every key but "words" required.
  static TranscriptionSegment fromJson(const Json &document, const std::string &path = "");
};

std::size_t hashValue(const TranscriptionSegment &segment);

} // namespace divuvovize

template <> struct std::hash<divuvovize::TranscriptionSegment> {
  std::size_t operator()(const divuvovize::TranscriptionSegment &segment) const {
    return divuvovize::hashValue(segment);
  }
};
