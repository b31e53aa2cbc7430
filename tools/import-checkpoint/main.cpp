// import-checkpoint: turns a published checkpoint folder (config.json, model.safetensors,
// generation_config.json, preprocessor_config.json, tokenizer files) into the three model folders
// the engine loads, plus the tokenizer files, so a downloaded checkpoint can be used directly.

#include "platform/ml/CheckpointImport.hpp"

#include <exception>
#include <iostream>

int main(int argc, char **argv) {
  if (argc != 3) {
    std::cerr << "usage: import-checkpoint SRC DST\n"
                 "  SRC: a checkpoint folder with config.json and model.safetensors\n"
                 "  DST: where MelSpectrogram.mlmodelc, AudioEncoder.mlmodelc,\n"
                 "       TextDecoder.mlmodelc and the tokenizer files are written\n";
    return 2;
  }
  if (!platform::isCheckpointFolder(argv[1])) {
    std::cerr << "import-checkpoint: " << argv[1]
              << " holds no checkpoint (config.json and model.safetensors)\n";
    return 1;
  }
  try {
    platform::importCheckpoint(argv[1], argv[2]);
  } catch (const std::exception &error) {
    std::cerr << "import-checkpoint: " << error.what() << "\n";
    return 1;
  }
  std::cout << "Wrote MelSpectrogram.mlmodelc, AudioEncoder.mlmodelc and TextDecoder.mlmodelc to "
            << argv[2] << "\n";
  return 0;
}
