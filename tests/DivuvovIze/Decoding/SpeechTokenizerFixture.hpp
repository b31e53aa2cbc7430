#pragma once

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/ByteEncoder.hpp"
#include "DeduveCore/Tokenizers/PreTrainedTokenizer.hpp"
#include "DeduveCore/Tokenizers/TokenizerWrapper.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizerWrapper.hpp"

namespace mqtest {

// The two layouts of the speech vocabularies' special-token block.
enum class SpeechVocabulary {
  multilingual, // "<|endoftext|>" 50257, languages from 50259, "<|0.00|>" 50364
  englishOnly,  // "<|endoftext|>" 50256, languages from 50258, "<|0.00|>" 50363
};

// The 99 language codes of the speech vocabularies, in vocabulary order.
inline const std::vector<std::string> &speechLanguageCodes() {
  static const std::vector<std::string> codes = {
      "en", "zh", "de", "es",  "ru", "ko", "fr", "ja", "pt", "tr", "pl", "ca", "nl", "ar", "sv",
      "it", "id", "hi", "fi",  "vi", "he", "uk", "el", "ms", "cs", "ro", "da", "hu", "ta", "no",
      "th", "ur", "hr", "bg",  "lt", "la", "mi", "ml", "cy", "sk", "te", "fa", "lv", "bn", "sr",
      "az", "sl", "kn", "et",  "mk", "br", "eu", "is", "hy", "ne", "mn", "bs", "kk", "sq", "sw",
      "gl", "mr", "pa", "si",  "km", "sn", "yo", "so", "af", "oc", "ka", "be", "tg", "sd", "gu",
      "am", "yi", "lo", "uz",  "fo", "ht", "ps", "tk", "nn", "mt", "sa", "lb", "my", "bo", "tl",
      "mg", "as", "tt", "haw", "ln", "ha", "ba", "jw", "su"};
  return codes;
}

// A small byte-level speech tokenizer: the 256 byte tokens at the ids the published vocabulary
// gives them (so "Ġ", the space, is 220), the whole words " Hello" and " world", and the full
// special-token block of `layout` at its real ids, with "<|endoftext|>" as the unknown token.
// Tokens named in `omit` are left out of the vocabulary. The timestamps stop at
// `lastTimestampStep` x 0.02 s (the full block reaches 30.00 s, step 1500), which keeps the
// tokenizer quick to build.
struct SpeechTokenizerDocuments {
  nlohmann::ordered_json tokenizer; // "tokenizer.json"
  nlohmann::ordered_json config;    // "tokenizer_config.json"
};

// The documents of that tokenizer, as a model folder holds them.
inline SpeechTokenizerDocuments
speechTokenizerDocuments(SpeechVocabulary layout = SpeechVocabulary::multilingual,
                         const std::set<std::string> &omit = {}, int lastTimestampStep = 300) {
  using nlohmann::ordered_json;
  ordered_json vocab = ordered_json::object();
  const auto &bytes = deduve::byteEncoder();
  int next = 0;
  auto addBytes = [&](int low, int high) {
    for (int b = low; b <= high; ++b) {
      vocab[bytes[static_cast<std::size_t>(b)]] = next++;
    }
  };
  addBytes(33, 126);
  addBytes(161, 172);
  addBytes(174, 255);
  addBytes(0, 32);
  addBytes(127, 160);
  addBytes(173, 173);
  ordered_json merges = ordered_json::array();
  for (const std::string word : {"Hello", "world"}) {
    std::string left = "\xC4\xA0"; // "Ġ"
    for (const char c : word) {
      const std::string right(1, c);
      merges.push_back(left + " " + right);
      left += right;
      vocab[left] = next++;
    }
  }
  const bool multilingual = layout == SpeechVocabulary::multilingual;
  int id = multilingual ? 50256 : 50255;
  if (multilingual) {
    vocab["\xC4\xA0the_end"] = id; // a text token where the English vocabulary starts its block
  }
  ordered_json added = ordered_json::array();
  auto special = [&](const std::string &content, bool isSpecial = true) {
    ++id;
    if (omit.count(content) != 0) {
      return;
    }
    vocab[content] = id;
    added.push_back({{"id", id},
                     {"content", content},
                     {"single_word", false},
                     {"lstrip", false},
                     {"rstrip", false},
                     {"normalized", false},
                     {"special", isSpecial}});
  };
  special("<|endoftext|>");
  special("<|startoftranscript|>");
  for (const auto &code : speechLanguageCodes()) {
    special("<|" + code + "|>");
  }
  special("<|translate|>");
  special("<|transcribe|>");
  special("<|startoflm|>");
  special("<|startofprev|>");
  special(multilingual ? "<|nospeech|>" : "<|nocaptions|>");
  special("<|notimestamps|>");
  for (int step = 0; step <= lastTimestampStep; ++step) {
    char text[16];
    std::snprintf(text, sizeof text, "<|%.2f|>", step * 0.02);
    special(text, /*isSpecial=*/false);
  }
  const ordered_json byteLevel = {{"type", "ByteLevel"},
                                  {"add_prefix_space", false},
                                  {"trim_offsets", true},
                                  {"use_regex", true}};
  const ordered_json data = {{"version", "1.0"},
                             {"added_tokens", added},
                             {"normalizer", nullptr},
                             {"pre_tokenizer", byteLevel},
                             {"post_processor", nullptr},
                             {"decoder", byteLevel},
                             {"model",
                              {{"type", "BPE"},
                               {"dropout", nullptr},
                               {"unk_token", nullptr},
                               {"fuse_unk", false},
                               {"byte_fallback", false},
                               {"vocab", vocab},
                               {"merges", merges}}}};
  const ordered_json config = {{"bos_token", "<|endoftext|>"},
                               {"clean_up_tokenization_spaces", true},
                               {"eos_token", "<|endoftext|>"},
                               {"tokenizer_class", "WhisperTokenizer"},
                               {"unk_token", "<|endoftext|>"}};
  return {data, config};
}

// The tokenizer itself, built in memory.
inline std::shared_ptr<divuvovize::WhisperTokenizerWrapper>
makeSpeechTokenizer(SpeechVocabulary layout = SpeechVocabulary::multilingual,
                    const std::set<std::string> &omit = {}, int lastTimestampStep = 300) {
  const auto documents = speechTokenizerDocuments(layout, omit, lastTimestampStep);
  auto tokenizer = std::make_shared<deduve::PreTrainedTokenizer>(
      deduve::Config::parse(documents.config.dump()),
      deduve::Config::parse(documents.tokenizer.dump()), /*strict=*/true);
  return std::make_shared<divuvovize::WhisperTokenizerWrapper>(
      deduve::TokenizerWrapper(std::move(tokenizer)));
}

// Writes the two documents into `folder` (which must exist), where the engine's tokenizer search
// finds them without any network.
inline void writeSpeechTokenizer(const std::filesystem::path &folder,
                                 SpeechVocabulary layout = SpeechVocabulary::multilingual) {
  const auto documents = speechTokenizerDocuments(layout);
  std::ofstream(folder / "tokenizer.json") << documents.tokenizer.dump();
  std::ofstream(folder / "tokenizer_config.json") << documents.config.dump();
}

} // namespace mqtest
