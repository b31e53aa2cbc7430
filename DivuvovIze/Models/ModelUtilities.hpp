#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "DivuvovIze/Models/ModelSupportConfig.hpp"
#include "DivuvovIze/Models/ModelVariant.hpp"

namespace divuvovize {

class WhisperTokenizer;

// Model-list helpers of the speech engine.
struct ModelUtilities {
  // `config`'s (else the built-in fallback table's) models for the device.
  static ModelSupport modelSupport(const std::string &deviceName,
                                   const std::optional<ModelSupportConfig> &config = std::nullopt);
  // The names ordered by model size; see sortModelsBySizeOrder.
  static std::vector<std::string> formatModelFiles(const std::vector<std::string> &modelFiles);

  // The variant a model set is, from the decoder's vocabulary size and the encoder's width. An
  // unknown vocabulary size is logged and read as base.
  static ModelVariant modelVariant(int logitsSize, int encoderEmbedSize);
  // "openai/whisper-<variant description>": the hub repository of the variant's tokenizer.
  static std::string tokenizerRepositoryID(ModelVariant variant);
  // The first of `hubLocation`, `tokenizerFolder` and `additionalSearchPaths` (in that order)
  // holding a "tokenizer.json"; absent when none does.
  static std::optional<std::filesystem::path>
  findLocalTokenizerFolder(const std::filesystem::path &hubLocation,
                           const std::optional<std::filesystem::path> &tokenizerFolder,
                           const std::vector<std::filesystem::path> &additionalSearchPaths);
  // Whether folder/"tokenizer.json" exists (any kind of entry).
  static bool hasTokenizerFile(const std::filesystem::path &folder);
  // The variant's tokenizer from the first local folder holding one (the hub client's folder of
  // the variant's tokenizer repository under `tokenizerFolder`, `tokenizerFolder`, then
  // `additionalSearchPaths`), else downloaded from the default hub (or HF_ENDPOINT) into that
  // hub folder; a failed download is WhisperError::tokenizerUnavailable naming the hub. Built with the speech pipeline, which links the tokenizers.
  static std::shared_ptr<WhisperTokenizer>
  loadTokenizer(ModelVariant variant, const std::optional<std::filesystem::path> &tokenizerFolder,
                const std::vector<std::filesystem::path> &additionalSearchPaths,
                bool useBackgroundSession);
};

// Orders model names by variant size (tiny, tiny.en, base, ..., large-v3). Only the part of a
// name before its first "/" counts; a name survives when that part followed by "/" contains
// a non-large variant name followed by "/" or contains "large" anywhere; duplicates are
// dropped. Names are ranked by the first variant name (in size order) they contain, those
// with none last, ties by ascending text.
std::vector<std::string> sortModelsBySizeOrder(const std::vector<std::string> &names);

// Each prefix with one trailing "/" removed (at most one), in the set's order.
std::vector<std::string> trimTrailingSlashes(const std::set<std::string> &prefixes);

} // namespace divuvovize
