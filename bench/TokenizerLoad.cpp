// Load time of a large byte-level tokenizer of a vocabulary unlike the speech one: about 200,000
// tokens and 200,000 merges grown from the 256 byte symbols over text in several scripts and
// source code, the size (about 9 MB) of current large language-model tokenizers, with the
// split pattern, added tokens and post-processor such files carry. The files are written to a
// temporary folder and loaded from it as a model folder is, documents read and parsed and the
// tokenizer built. Goal: under 500 ms.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <unistd.h>
#include <unordered_set>
#include <vector>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include "DeduveCore/Hub/HubApiWrapper.hpp"
#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/AutoTokenizerWrapper.hpp"

namespace {

namespace fs = std::filesystem;
using nlohmann::ordered_json;

constexpr std::size_t kTokens = 200000;
// Bytes of a token's text at most, which sets the file size.
constexpr std::size_t kLongestToken = 18;
constexpr double kGoalMs = 500;

// The byte-level alphabet: each byte as the printable character that stands for it.
std::vector<std::string> byteSymbols() {
  std::vector<std::string> symbols(256);
  int shifted = 0;
  for (int byte = 0; byte < 256; ++byte) {
    const bool printable =
        (byte >= '!' && byte <= '~') || (byte >= 0xA1 && byte <= 0xAC) || byte >= 0xAE;
    const int code = printable ? byte : 256 + shifted++;
    std::string text;
    if (code < 0x80) {
      text.push_back(static_cast<char>(code));
    } else {
      text.push_back(static_cast<char>(0xC0 | (code >> 6)));
      text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
    symbols[static_cast<std::size_t>(byte)] = text;
  }
  return symbols;
}

// Words of several scripts and of source code, as the byte-level symbols of their UTF-8 bytes.
std::vector<std::vector<std::string>> seedWords(const std::vector<std::string> &symbols) {
  const char *words[] = {
      " the",     " and",    " function", " return", " const",      " struct",   "()",
      " import",  " Москва", " привет",   " данные", " 東京",       " 日本語",   " 数据",
      " مرحبا",   " ברוכים", " Ελλάδα",   " नमस्ते",   " 안녕하세요", " ÜberFlug", " café",
      "::",       "->",      " std",      " vector", " int",        "\n\n",      "    ",
      " définir", " García", " İstanbul", " Kraków", " Þór",        " ﬁle",      " 🙂",
  };
  std::vector<std::vector<std::string>> seeds;
  for (const char *word : words) {
    std::vector<std::string> split;
    for (const char *c = word; *c != '\0'; ++c) {
      split.push_back(symbols[static_cast<unsigned char>(*c)]);
    }
    seeds.push_back(split);
  }
  return seeds;
}

// tokenizer.json: the byte symbols, then merges of two earlier tokens at a time (the seed
// words' own pieces first, then random pairs) until the vocabulary holds kTokens.
std::string tokenizerDocument() {
  const auto symbols = byteSymbols();
  ordered_json merges = ordered_json::array();
  std::vector<std::string> tokens = symbols;
  std::unordered_set<std::string> known(tokens.begin(), tokens.end());
  const auto add = [&](const std::string &a, const std::string &b) {
    std::string joined = a + b;
    if (joined.size() > kLongestToken || !known.insert(joined).second) {
      return;
    }
    merges.push_back(a + " " + b);
    tokens.push_back(std::move(joined));
  };
  for (auto pieces : seedWords(symbols)) {
    while (pieces.size() > 1) {
      add(pieces[0], pieces[1]);
      pieces[1] = pieces[0] + pieces[1];
      pieces.erase(pieces.begin());
    }
  }
  std::mt19937 random(11);
  while (tokens.size() < kTokens) {
    // Short tokens pair more often, as in trained vocabularies.
    const std::size_t reach = std::min<std::size_t>(tokens.size(), 2000 + tokens.size() / 4);
    add(tokens[random() % reach], tokens[random() % tokens.size()]);
  }
  // The vocabulary in id order, as files list it (an ordered object would insert slowly).
  std::string vocab = "{";
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    vocab += (i > 0 ? "," : "") + ordered_json(tokens[i]).dump() + ":" + std::to_string(i);
  }
  vocab += "}";
  const char *specials[] = {"<|endoftext|>",  "<|im_start|>",   "<|im_end|>",
                            "<|fim_prefix|>", "<|fim_middle|>", "<|fim_suffix|>"};
  ordered_json added = ordered_json::array();
  for (const char *special : specials) {
    added.push_back({{"id", tokens.size()},
                     {"content", special},
                     {"single_word", false},
                     {"lstrip", false},
                     {"rstrip", false},
                     {"normalized", false},
                     {"special", true}});
    tokens.emplace_back(special);
  }
  const ordered_json split = {
      {"type", "Split"},
      {"pattern",
       {{"Regex", "(?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\\r\\n\\p{L}\\p{N}]?\\p{L}+|\\p{N}{1,3}| "
                  "?[^\\s\\p{L}\\p{N}]+[\\r\\n]*|\\s*[\\r\\n]+|\\s+(?!\\S)|\\s+"}}},
      {"behavior", "Isolated"},
      {"invert", false}};
  const ordered_json byteLevel = {{"type", "ByteLevel"},
                                  {"add_prefix_space", false},
                                  {"trim_offsets", true},
                                  {"use_regex", false}};
  const ordered_json document = {
      {"version", "1.0"},
      {"truncation", nullptr},
      {"padding", nullptr},
      {"added_tokens", added},
      {"normalizer", {{"type", "NFC"}}},
      {"pre_tokenizer", {{"type", "Sequence"}, {"pretokenizers", {split, byteLevel}}}},
      {"post_processor", byteLevel},
      {"decoder", byteLevel},
      {"model",
       {{"type", "BPE"},
        {"dropout", nullptr},
        {"unk_token", nullptr},
        {"continuing_subword_prefix", ""},
        {"end_of_word_suffix", ""},
        {"fuse_unk", false},
        {"byte_fallback", false},
        {"vocab", "VOCABULARY"},
        {"merges", merges}}}};
  std::string text = document.dump();
  const std::string placeholder = "\"VOCABULARY\"";
  return text.replace(text.find(placeholder), placeholder.size(), vocab);
}

// The model folder with both documents, written once.
const fs::path &folder() {
  static const fs::path path = [] {
    const fs::path made =
        fs::temp_directory_path() / ("mq-tokenizer-load-" + std::to_string(::getpid()));
    fs::create_directories(made);
    std::ofstream(made / "tokenizer.json") << tokenizerDocument();
    std::ofstream(made / "tokenizer_config.json")
        << R"({"tokenizer_class": "PreTrainedTokenizer", "bos_token": null,)"
        << R"( "eos_token": "<|endoftext|>", "unk_token": null, "model_max_length": 131072})";
    return made;
  }();
  return path;
}

// The whole load, as a model's tokenizer is loaded; freeing it is not counted.
void BM_LoadLargeByteLevelTokenizer(benchmark::State &state) {
  const fs::path &path = folder();
  const deduve::HubApiWrapper hubApi(path / "unused-hub");
  for (auto _ : state) {
    std::optional<deduve::TokenizerWrapper> tokenizer =
        deduve::AutoTokenizerWrapper::fromModelFolder(path, hubApi, true);
    benchmark::DoNotOptimize(&tokenizer);
    state.PauseTiming();
    tokenizer.reset();
    state.ResumeTiming();
  }
  state.counters["file MB"] = static_cast<double>(fs::file_size(path / "tokenizer.json")) / 1e6;
  state.counters["goal ms"] = kGoalMs;
}
BENCHMARK(BM_LoadLargeByteLevelTokenizer)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// Its first part: the document's text parsed into a configuration (from memory).
void BM_ParseLargeByteLevelDocument(benchmark::State &state) {
  std::ifstream in(folder() / "tokenizer.json");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (auto _ : state) {
    std::optional<deduve::Config> parsed = deduve::Config::parse(text);
    benchmark::DoNotOptimize(&parsed);
    state.PauseTiming();
    parsed.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ParseLargeByteLevelDocument)->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  fs::remove_all(folder(), ignored);
  return 0;
}
