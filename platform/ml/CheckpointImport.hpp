#pragma once

#include <filesystem>

namespace platform {

// Published checkpoints of the encoder-decoder speech models come as one folder: "config.json"
// (dimensions), "model.safetensors" (every tensor, named as the runner reads them),
// "generation_config.json" (the alignment heads), "preprocessor_config.json" (the front end) and
// the tokenizer files. The runner loads three model folders instead; these calls turn the one
// into the other, the way a model is compiled before it is loaded elsewhere.

// True when `folder` holds "config.json" and "model.safetensors".
bool isCheckpointFolder(const std::filesystem::path &folder);

// Writes MelSpectrogram.mlmodelc, AudioEncoder.mlmodelc and TextDecoder.mlmodelc (with the mel
// filterbank the front end needs) and copies of the tokenizer files into `destination`, creating
// it. Float16 and float32 tensors keep their element type. Throws MLModelError naming the file,
// and for a tensor that is missing or disagrees with the configuration, the tensor and both
// shapes; nothing is left half-written in `destination` on failure. Blocking; checks the current
// task's cancellation (CancellationScope) between tensors and throws CancellationError, leaving
// nothing behind, once it is cancelled.
void importCheckpoint(const std::filesystem::path &source,
                      const std::filesystem::path &destination);

// importCheckpoint into `destination` unless that folder already holds an import of the same
// source files (same names, sizes and modification times). Returns `destination`.
std::filesystem::path importCheckpointIfNeeded(const std::filesystem::path &source,
                                               const std::filesystem::path &destination);

} // namespace platform
