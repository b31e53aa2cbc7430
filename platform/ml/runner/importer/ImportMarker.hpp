#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform::runner::importer {

// Names the marker file every import holds, recognising a folder the importer may replace.
inline constexpr const char *kStampName = ".checkpoint-import";

// The tokenizer files an import copies when the checkpoint has them.
inline constexpr const char *kTokenizerFiles[] = {
    "tokenizer.json",          "tokenizer_config.json", "vocab.json",     "merges.txt",
    "special_tokens_map.json", "added_tokens.json",     "normalizer.json"};

// The files every import writes, relative to its folder.
inline constexpr const char *kModelFiles[] = {
    "MelSpectrogram.mlmodelc/model.json", "MelSpectrogram.mlmodelc/weights.safetensors",
    "AudioEncoder.mlmodelc/model.json",   "AudioEncoder.mlmodelc/weights.safetensors",
    "TextDecoder.mlmodelc/model.json",    "TextDecoder.mlmodelc/weights.safetensors"};

// What an earlier import's marker says: the source files it was made from (as sourceStamp
// writes them) and the files it wrote, relative to its folder.
struct Marker {
  std::string sourceStamp;
  std::vector<std::string> wrote;
  bool current = false; // written by this version, naming its files
};

// One line per source file that decides the import: name, size and modification time.
std::string sourceStamp(const std::filesystem::path &source);

// The marker of an import in `folder`, or nothing when the folder holds none that an import
// wrote (no file, a link, an empty or foreign file). Markers of earlier versions held only the
// source stamp; they name the tokenizer files copied, and the model files are the fixed six.
std::optional<Marker> readMarker(const std::filesystem::path &folder);

// The marker that makes `folder` an import this importer may later replace: what wrote it, the
// source it was made from and the files it wrote.
void writeStamp(const std::filesystem::path &folder, const std::filesystem::path &source,
                const std::vector<std::string> &wrote);

} // namespace platform::runner::importer
