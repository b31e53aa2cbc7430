// import-checkpoint: turns a published checkpoint folder (config.json, model.safetensors,
// generation_config.json, preprocessor_config.json, tokenizer files) into the three model folders
// the engine loads, plus the tokenizer files, so a downloaded checkpoint can be used directly.

#include "platform/ml/CheckpointImport.hpp"
#include "tools/arguments/ArgumentParser.hpp"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  using murmurquill::ArgumentParser;
  ArgumentParser parser("import-checkpoint", {"import-checkpoint SRC DST"},
                        "Turns a published checkpoint into the three model folders the engine\n"
                        "loads, plus the tokenizer files.");
  parser.positional("SRC", "a checkpoint folder with config.json and model.safetensors");
  parser.positional("DST", "where MelSpectrogram.mlmodelc, AudioEncoder.mlmodelc,\n"
                           "TextDecoder.mlmodelc and the tokenizer files are written");
  parser.note("Exit status: 0 imported; 1 the checkpoint could not be imported; 2 wrong\n"
              "command line.");
  std::vector<std::string> folders;
  const auto outcome = parser.parse(argc, argv, folders, std::cout, std::cerr);
  if (outcome != ArgumentParser::Outcome::run) {
    return murmurquill::exitStatus(outcome);
  }
  if (folders.size() != 2) {
    parser.refuse("SRC and DST are both needed", std::cerr);
    return 2;
  }
  const std::string &source = folders[0];
  const std::string &destination = folders[1];
  if (!platform::isCheckpointFolder(source)) {
    std::cerr << "import-checkpoint: " << source
              << " holds no checkpoint (config.json and model.safetensors)\n";
    return 1;
  }
  try {
    platform::importCheckpoint(source, destination);
  } catch (const std::exception &error) {
    std::cerr << "import-checkpoint: " << error.what() << "\n";
    return 1;
  }
  std::cout << "Wrote MelSpectrogram.mlmodelc, AudioEncoder.mlmodelc and TextDecoder.mlmodelc to "
            << destination << "\n";
  return 0;
}
