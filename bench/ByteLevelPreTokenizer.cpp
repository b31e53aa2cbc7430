// Throughput of the byte-level pre-tokenizer, the first stage every prompt and text encoding of
// the speech models' tokenizer goes through. Reports input megabytes per second for one large
// text and for sentence-sized calls (the size the tokenizer sees in practice).

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/PreTokenizer.hpp"

namespace {

// English-like text: common words with capitals, contractions, numbers, punctuation, the odd
// accented word and line breaks, from a fixed seed so that runs compare.
std::string makeText(std::size_t bytes) {
  static const char *const kWords[] = {
      "the",   "of",    "and",    "to",      "in",     "is",        "you",      "that",
      "it",    "he",    "was",    "for",     "on",     "are",       "as",       "with",
      "his",   "they",  "I",      "at",      "be",     "this",      "have",     "from",
      "or",    "one",   "had",    "by",      "word",   "but",       "not",      "what",
      "all",   "were",  "we",     "when",    "your",   "can",       "said",     "there",
      "use",   "an",    "each",   "which",   "she",    "do",        "how",      "their",
      "if",    "will",  "up",     "other",   "about",  "out",       "many",     "then",
      "them",  "these", "so",     "some",    "her",    "would",     "make",     "like",
      "him",   "into",  "time",   "has",     "look",   "two",       "more",     "write",
      "don't", "it's",  "we're",  "they've", "I'll",   "dictation", "speech",   "model",
      "café",  "naïve", "résumé", "Monday",  "London", "recording", "keyboard", "tokenizer"};
  static const char *const kPunctuation[] = {".", ",", "?", "!", ";", ":", " -", "\""};
  std::mt19937 random(42);
  std::uniform_int_distribution<std::size_t> word(0, std::size(kWords) - 1);
  std::uniform_int_distribution<int> percent(0, 99);
  std::string text;
  text.reserve(bytes + 64);
  bool sentenceStart = true;
  while (text.size() < bytes) {
    std::string next = kWords[word(random)];
    if (sentenceStart && next[0] >= 'a' && next[0] <= 'z')
      next[0] = static_cast<char>(next[0] - 'a' + 'A');
    text += next;
    sentenceStart = false;
    const int roll = percent(random);
    if (roll < 4) {
      text.append(" ").append(std::to_string(random() % 2000));
    } else if (roll < 12) {
      text += kPunctuation[random() % std::size(kPunctuation)];
      sentenceStart = text.back() == '.' || text.back() == '?' || text.back() == '!';
    }
    text += percent(random) < 2 ? "\n" : " ";
  }
  return text;
}

std::unique_ptr<deduve::PreTokenizer> makeByteLevel() {
  return deduve::makePreTokenizer(
      deduve::Config(nlohmann::ordered_json::parse(R"({"type": "ByteLevel"})")));
}

// The machine's copy bandwidth in MB/s over a buffer the size of the benchmark's text,
// measured once in this run: the physical limit the throughput is reported against.
double memcpyMegabytesPerSecond() {
  static const double rate = [] {
    const std::size_t size = 4 << 20;
    std::vector<char> from(size, 'a'), to(size);
    double best = 0;
    for (int round = 0; round < 20; ++round) {
      const auto start = std::chrono::steady_clock::now();
      std::memcpy(to.data(), from.data(), size);
      benchmark::DoNotOptimize(to.data());
      const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
      best = std::max(best, static_cast<double>(size) / 1e6 / seconds.count());
    }
    return best;
  }();
  return rate;
}

void reportThroughput(benchmark::State &state, std::size_t bytesPerIteration) {
  const double bytes =
      static_cast<double>(bytesPerIteration) * static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
  // The throughput as a share of the copy bandwidth.
  state.counters["ofMemcpy"] =
      benchmark::Counter(bytes / 1e6 / memcpyMegabytesPerSecond(), benchmark::Counter::kIsRate);
}

void BM_ByteLevelWholeText(benchmark::State &state) {
  const std::string text = makeText(static_cast<std::size_t>(state.range(0)) << 20);
  const auto preTokenizer = makeByteLevel();
  std::vector<std::string> pieces;
  for (auto _ : state) {
    pieces.clear();
    preTokenizer->preTokenizeInto(text, {}, pieces);
    benchmark::DoNotOptimize(pieces.data());
  }
  reportThroughput(state, text.size());
  state.counters["pieces"] = static_cast<double>(pieces.size());
}
BENCHMARK(BM_ByteLevelWholeText)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_ByteLevelSentences(benchmark::State &state) {
  const std::string text = makeText(4 << 20);
  std::vector<std::string_view> sentences;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '.' || text[i] == '?' || text[i] == '!' || text[i] == '\n') {
      sentences.emplace_back(text.data() + start, i + 1 - start);
      start = i + 1;
    }
  }
  const auto preTokenizer = makeByteLevel();
  std::vector<std::string> pieces;
  for (auto _ : state) {
    for (const std::string_view sentence : sentences) {
      pieces.clear();
      preTokenizer->preTokenizeInto(sentence, {}, pieces);
      benchmark::DoNotOptimize(pieces.data());
    }
  }
  reportThroughput(state, start);
  state.counters["calls"] = static_cast<double>(sentences.size());
}
BENCHMARK(BM_ByteLevelSentences)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
