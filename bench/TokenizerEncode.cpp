// Encoding throughput of the full-size English speech tokenizer (byte-level BPE with 1,608
// added tokens) over a few MB of English prose, in tokens/s and MB/s. The memory-copy run
// over the same text gives the machine's byte-moving ceiling for comparison.

#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/PreTrainedTokenizer.hpp"

namespace {

constexpr std::size_t kTextBytes = 4 << 20;

deduve::Config readDocument(const std::string &file) {
  std::ifstream in(std::string(MQ_SOURCE_DIR) + "/tests/fixtures/tokenizers/speech-en/" + file);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return deduve::Config(nlohmann::json::parse(buffer.str()));
}

const deduve::PreTrainedTokenizer &speechTokenizer() {
  static const auto tokenizer = std::make_unique<deduve::PreTrainedTokenizer>(
      readDocument("tokenizer_config.json"), readDocument("tokenizer.json"), /*strict=*/true);
  return *tokenizer;
}

// Dictation-like English: sentences drawn at random (fixed seed) into paragraphs.
const std::string &englishText() {
  static const std::string text = [] {
    const char *sentences[] = {
        "The meeting has been moved to Thursday afternoon at three o'clock.",
        "Please send the quarterly report to everyone on the finance team before Friday.",
        "I think we should revisit the budget once the new numbers come in.",
        "Remind me to call the dentist tomorrow morning and reschedule my appointment.",
        "The weather forecast says it will rain for most of the weekend, so bring an umbrella.",
        "Can you double-check whether the invoice includes the shipping costs?",
        "We shipped version 2.4.1 last night; the release notes are on the wiki.",
        "She said the train was delayed by twenty-five minutes because of a signal failure.",
        "Let's grab lunch at the new Italian place around the corner next week.",
        "The results were surprisingly good: accuracy improved from 91.2% to 94.7%.",
        "Don't forget that the office will be closed on Monday for the public holiday.",
        "Honestly, I wasn't expecting such a strong reaction from the audience.",
        "Add eggs, milk, flour, two lemons and a bag of coffee to the shopping list.",
        "The committee's decision, which surprised nobody, was announced on Tuesday.",
        "If the server goes down again, restart it and page whoever is on call.",
        "My flight lands at 6:45 p.m., so I'll probably be home by eight.",
        "He quoted the line \"to be or not to be\" and then paused for effect.",
        "According to the survey, most respondents prefer working from home twice a week.",
        "Could you summarize the main points of the article in three short paragraphs?",
        "The children built a sandcastle, but the tide washed it away within an hour.",
    };
    std::mt19937 random(2024);
    std::string out;
    out.reserve(kTextBytes + 256);
    int inParagraph = 0;
    while (out.size() < kTextBytes) {
      out += sentences[random() % std::size(sentences)];
      if (++inParagraph == 6) {
        out += "\n\n";
        inParagraph = 0;
      } else {
        out += ' ';
      }
    }
    return out;
  }();
  return text;
}

// Paragraphs, the unit a dictation hands to the tokenizer.
const std::vector<std::string> &paragraphs() {
  static const std::vector<std::string> parts = [] {
    std::vector<std::string> out;
    const std::string &text = englishText();
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find("\n\n", start);
      end = end == std::string::npos ? text.size() : end + 2;
      out.push_back(text.substr(start, end - start));
      start = end;
    }
    return out;
  }();
  return parts;
}

void BM_EncodeEnglish(benchmark::State &state) {
  const auto &tokenizer = speechTokenizer();
  const auto &parts = paragraphs();
  std::size_t tokens = 0;
  for (auto _ : state) {
    for (const auto &part : parts) {
      const auto ids = tokenizer.encode(part);
      tokens += ids.size();
      benchmark::DoNotOptimize(ids.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * englishText().size()));
  state.counters["tokens/s"] =
      benchmark::Counter(static_cast<double>(tokens), benchmark::Counter::kIsRate);
  state.counters["bytes/token"] =
      static_cast<double>(state.iterations() * englishText().size()) / static_cast<double>(tokens);
}
BENCHMARK(BM_EncodeEnglish)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_DecodeEnglish(benchmark::State &state) {
  const auto &tokenizer = speechTokenizer();
  std::vector<std::vector<deduve::TokenId>> encoded;
  for (const auto &part : paragraphs())
    encoded.push_back(tokenizer.encode(part));
  for (auto _ : state) {
    for (const auto &ids : encoded) {
      auto text = tokenizer.decode(ids);
      benchmark::DoNotOptimize(text.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * englishText().size()));
}
BENCHMARK(BM_DecodeEnglish)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The ceiling: copying the same bytes once.
void BM_CopyText(benchmark::State &state) {
  const std::string &text = englishText();
  std::string copy(text.size(), '\0');
  for (auto _ : state) {
    std::memcpy(copy.data(), text.data(), text.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CopyText)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
