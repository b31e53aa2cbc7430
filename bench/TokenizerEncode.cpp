// Encoding throughput and load time of three tokenizer files, single thread:
// - "speech": the full-size English speech tokenizer (byte-level BPE with 1,608 added tokens);
// - "metaspace": the same vocabulary as a SentencePiece-style BPE (Metaspace pre-tokenizer and
//   decoder, "▁" for the word marker), as current tools write such files;
// - "bytelevel": a ~9 MB byte-level file (the speech vocabulary grown with synthetic merges to
//   the size of current large vocabularies), for the load time.
// Encoding runs over a few MB of English prose, one line per call (the dictation case) and in
// 64 KB documents, in MB/s and tokens/s. The memory-copy run over the same text gives the
// machine's byte-moving ceiling for comparison.

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/PreTrainedTokenizer.hpp"

namespace {

constexpr std::size_t kTextBytes = 4 << 20;

std::string readFixture(const std::string &file) {
  std::ifstream in(std::string(MQ_SOURCE_DIR) + "/tests/fixtures/tokenizers/speech-en/" + file);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// A tokenizer's two documents as file text.
struct TokenizerFiles {
  std::string config;
  std::string data;
};

const TokenizerFiles &speechFiles() {
  static const TokenizerFiles files{readFixture("tokenizer_config.json"),
                                    readFixture("tokenizer.json")};
  return files;
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

const TokenizerFiles &metaspaceFiles() {
  static const TokenizerFiles files = [] {
    auto data = nlohmann::ordered_json::parse(speechFiles().data);
    nlohmann::ordered_json vocab = nlohmann::ordered_json::object();
    for (const auto &[token, id] : data["model"]["vocab"].items())
      vocab[replaceAll(token, "Ġ", "▁")] = id;
    data["model"]["vocab"] = std::move(vocab);
    for (auto &merge : data["model"]["merges"])
      merge = replaceAll(merge.get<std::string>(), "Ġ", "▁");
    const nlohmann::ordered_json metaspace = {
        {"type", "Metaspace"}, {"replacement", "▁"}, {"prepend_scheme", "first"}, {"split", true}};
    data["pre_tokenizer"] = metaspace;
    data["decoder"] = metaspace;
    data["added_tokens"] = nlohmann::ordered_json::array({data["added_tokens"][0]});
    return TokenizerFiles{
        R"({"tokenizer_class": "PreTrainedTokenizer", "unk_token": "<|endoftext|>"})", data.dump()};
  }();
  return files;
}

const TokenizerFiles &byteLevelFiles() {
  static const TokenizerFiles files = [] {
    constexpr std::size_t kTargetBytes = 9 << 20;
    auto data = nlohmann::ordered_json::parse(speechFiles().data);
    auto &vocab = data["model"]["vocab"];
    auto &merges = data["model"]["merges"];
    std::vector<std::string> tokens;
    std::unordered_set<std::string> known;
    for (const auto &[token, id] : vocab.items()) {
      known.insert(token);
      if (token.size() > 1 && token.front() != '<')
        tokens.push_back(token);
    }
    std::int64_t nextId = 0;
    for (const auto &[token, id] : vocab.items())
      nextId = std::max(nextId, id.get<std::int64_t>() + 1);
    // New tokens are appended to the object's entries directly: its own insertion searches
    // every key, which made building the file take minutes.
    auto &entries = static_cast<nlohmann::ordered_json::object_t::Container &>(
        vocab.get_ref<nlohmann::ordered_json::object_t &>());
    std::size_t size = speechFiles().data.size();
    std::mt19937 random(9);
    while (size < kTargetBytes) {
      const std::string &a = tokens[random() % tokens.size()];
      const std::string &b = tokens[random() % tokens.size()];
      std::string joined = a + b;
      if (joined.size() > 24 || known.contains(joined))
        continue;
      size += 2 * joined.size() + 16;
      merges.push_back(a + " " + b);
      known.insert(joined);
      entries.emplace_back(std::move(joined), nextId++);
    }
    return TokenizerFiles{speechFiles().config, data.dump()};
  }();
  return files;
}

std::unique_ptr<deduve::PreTrainedTokenizer> load(const TokenizerFiles &files) {
  return std::make_unique<deduve::PreTrainedTokenizer>(deduve::Config::parse(files.config),
                                                       deduve::Config::parse(files.data),
                                                       /*strict=*/true);
}

const deduve::PreTrainedTokenizer &speechTokenizer() {
  static const auto tokenizer = load(speechFiles());
  return *tokenizer;
}

const deduve::PreTrainedTokenizer &metaspaceTokenizer() {
  static const auto tokenizer = load(metaspaceFiles());
  return *tokenizer;
}

const deduve::PreTrainedTokenizer &byteLevelTokenizer() {
  static const auto tokenizer = load(byteLevelFiles());
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

// Lines (one sentence each), the unit a dictation hands to the tokenizer.
const std::vector<std::string> &lines() {
  static const std::vector<std::string> parts = [] {
    std::vector<std::string> out;
    const std::string &text = englishText();
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find_first_of(".?!\n", start);
      end = end == std::string::npos ? text.size() : end + 1;
      while (end < text.size() && (text[end] == ' ' || text[end] == '\n'))
        ++end;
      out.push_back(text.substr(start, end - start));
      start = end;
    }
    return out;
  }();
  return parts;
}

// 64 KB documents, cut at a space.
const std::vector<std::string> &documents() {
  static const std::vector<std::string> parts = [] {
    std::vector<std::string> out;
    const std::string &text = englishText();
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = std::min(text.size(), start + (64 << 10));
      if (end < text.size())
        end = text.rfind(' ', end) + 1;
      out.push_back(text.substr(start, end - start));
      start = end;
    }
    return out;
  }();
  return parts;
}

void encodeAll(benchmark::State &state, const deduve::PreTrainedTokenizer &tokenizer,
               const std::vector<std::string> &parts) {
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

void BM_EncodeSpeechPerLine(benchmark::State &state) {
  encodeAll(state, speechTokenizer(), lines());
}
BENCHMARK(BM_EncodeSpeechPerLine)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_EncodeSpeechPerDocument(benchmark::State &state) {
  encodeAll(state, speechTokenizer(), documents());
}
BENCHMARK(BM_EncodeSpeechPerDocument)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_EncodeMetaspacePerLine(benchmark::State &state) {
  encodeAll(state, metaspaceTokenizer(), lines());
}
BENCHMARK(BM_EncodeMetaspacePerLine)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_EncodeMetaspacePerDocument(benchmark::State &state) {
  encodeAll(state, metaspaceTokenizer(), documents());
}
BENCHMARK(BM_EncodeMetaspacePerDocument)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_EncodeByteLevelPerLine(benchmark::State &state) {
  encodeAll(state, byteLevelTokenizer(), lines());
}
BENCHMARK(BM_EncodeByteLevelPerLine)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_EncodeByteLevelPerDocument(benchmark::State &state) {
  encodeAll(state, byteLevelTokenizer(), documents());
}
BENCHMARK(BM_EncodeByteLevelPerDocument)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Load time: both documents parsed from their text and the tokenizer built.
void loadFiles(benchmark::State &state, const TokenizerFiles &files) {
  for (auto _ : state) {
    auto tokenizer = load(files);
    benchmark::DoNotOptimize(tokenizer.get());
  }
  state.counters["file MB"] = static_cast<double>(files.data.size()) / 1e6;
}

void BM_LoadSpeech(benchmark::State &state) { loadFiles(state, speechFiles()); }
BENCHMARK(BM_LoadSpeech)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_LoadMetaspace(benchmark::State &state) { loadFiles(state, metaspaceFiles()); }
BENCHMARK(BM_LoadMetaspace)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_LoadByteLevel(benchmark::State &state) { loadFiles(state, byteLevelFiles()); }
BENCHMARK(BM_LoadByteLevel)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_DecodeEnglish(benchmark::State &state) {
  const auto &tokenizer = speechTokenizer();
  std::vector<std::vector<deduve::TokenId>> encoded;
  for (const auto &part : lines())
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
