#include "DivuvovIze/Models/TranscriptionSegment.hpp"

#include <functional>

namespace divuvovize {

namespace {

void combine(std::size_t &seed, std::size_t value) {
  seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

// +0.0 and -0.0 are equal and must hash alike.
std::size_t hashFloat(float value) { return std::hash<float>{}(value == 0.0f ? 0.0f : value); }

void combineInts(std::size_t &seed, const std::vector<int> &values) {
  combine(seed, values.size());
  for (int v : values) {
    combine(seed, std::hash<int>{}(v));
  }
}

} // namespace

Json WordTiming::toJson(std::string_view path) const {
  Json d = Json::object();
  d["word"] = word;
  d["tokens"] = json::writeInts(tokens);
  d["start"] = json::writeFloat(start, json::joinPath(path, "start"));
  d["end"] = json::writeFloat(end, json::joinPath(path, "end"));
  d["probability"] = json::writeFloat(probability, json::joinPath(path, "probability"));
  return d;
}

WordTiming WordTiming::fromJson(const Json &document, const std::string &path) {
  const json::ObjectReader r(document, path);
  WordTiming w;
  w.word = r.required<std::string>("word");
  w.tokens = r.required<std::vector<int>>("tokens");
  w.start = r.required<float>("start");
  w.end = r.required<float>("end");
  w.probability = r.required<float>("probability");
  return w;
}

std::size_t hashValue(const WordTiming &word) {
  std::size_t seed = 0;
  combine(seed, std::hash<std::string>{}(word.word));
  combineInts(seed, word.tokens);
  combine(seed, hashFloat(word.start));
  combine(seed, hashFloat(word.end));
  combine(seed, hashFloat(word.probability));
  return seed;
}

Json TranscriptionSegment::toJson(std::string_view path) const {
  Json d = Json::object();
  d["id"] = id;
  d["seek"] = seek;
  d["start"] = json::writeFloat(start, json::joinPath(path, "start"));
  d["end"] = json::writeFloat(end, json::joinPath(path, "end"));
  d["text"] = text;
  d["tokens"] = json::writeInts(tokens);
  Json logProbs = Json::array();
  const auto logProbsPath = json::joinPath(path, "tokenLogProbs");
  for (std::size_t i = 0; i < tokenLogProbs.size(); ++i) {
    Json entry = Json::object();
    const auto entryPath = json::indexPath(logProbsPath, i);
    for (const auto &[token, logProb] : tokenLogProbs[i]) {
      const auto key = std::to_string(token);
      entry[key] = json::writeFloat(logProb, json::joinPath(entryPath, key));
    }
    logProbs.push_back(std::move(entry));
  }
  d["tokenLogProbs"] = std::move(logProbs);
  d["temperature"] = json::writeFloat(temperature, json::joinPath(path, "temperature"));
  d["avgLogprob"] = json::writeFloat(avgLogprob, json::joinPath(path, "avgLogprob"));
  d["compressionRatio"] =
      json::writeFloat(compressionRatio, json::joinPath(path, "compressionRatio"));
  d["noSpeechProb"] = json::writeFloat(noSpeechProb, json::joinPath(path, "noSpeechProb"));
  if (words) {
    Json list = Json::array();
    const auto wordsPath = json::joinPath(path, "words");
    for (std::size_t i = 0; i < words->size(); ++i) {
      list.push_back((*words)[i].toJson(json::indexPath(wordsPath, i)));
    }
    d["words"] = std::move(list);
  }
  return d;
}

TranscriptionSegment TranscriptionSegment::fromJson(const Json &document, const std::string &path) {
  const json::ObjectReader r(document, path);
  TranscriptionSegment s;
  s.id = r.required<int>("id");
  s.seek = r.required<int>("seek");
  s.start = r.required<float>("start");
  s.end = r.required<float>("end");
  s.text = r.required<std::string>("text");
  s.tokens = r.required<std::vector<int>>("tokens");
  s.tokenLogProbs = r.required<std::vector<TokenLogProbs>>("tokenLogProbs");
  s.temperature = r.required<float>("temperature");
  s.avgLogprob = r.required<float>("avgLogprob");
  s.compressionRatio = r.required<float>("compressionRatio");
  s.noSpeechProb = r.required<float>("noSpeechProb");
  s.words = r.optional<std::vector<WordTiming>>("words");
  return s;
}

std::size_t hashValue(const TranscriptionSegment &segment) {
  std::size_t seed = 0;
  combine(seed, std::hash<int>{}(segment.id));
  combine(seed, std::hash<int>{}(segment.seek));
  combine(seed, hashFloat(segment.start));
  combine(seed, hashFloat(segment.end));
  combine(seed, std::hash<std::string>{}(segment.text));
  combineInts(seed, segment.tokens);
  combine(seed, segment.tokenLogProbs.size());
  for (const auto &entry : segment.tokenLogProbs) {
    combine(seed, entry.size());
    for (const auto &[token, logProb] : entry) {
      combine(seed, std::hash<int>{}(token));
      combine(seed, hashFloat(logProb));
    }
  }
  combine(seed, hashFloat(segment.temperature));
  combine(seed, hashFloat(segment.avgLogprob));
  combine(seed, hashFloat(segment.compressionRatio));
  combine(seed, hashFloat(segment.noSpeechProb));
  combine(seed, segment.words ? 1 : 0);
  if (segment.words) {
    combine(seed, segment.words->size());
    for (const auto &word : *segment.words) {
      combine(seed, hashValue(word));
    }
  }
  return seed;
}

} // namespace divuvovize
