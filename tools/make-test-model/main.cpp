// make-test-model: writes MelSpectrogram.mlmodelc, AudioEncoder.mlmodelc and TextDecoder.mlmodelc
// with seeded random weights into a folder, for tests, benchmarks and trying the engine without
// a downloaded model.

#include "tools/make-test-model/TestModelWriter.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

namespace {

int usage() {
  std::cerr << "usage: make-test-model <folder> [--shape small|tiny|base] [--seed N]\n"
               "                        [--weights float16|float32] [--mels 80|128]\n"
               "                        [--layout models|checkpoint]\n"
               "                        [--script-logit TOKEN=LOGIT]...\n";
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  using platform::runner::TestModelOptions;
  if (argc < 2) {
    return usage();
  }
  TestModelOptions options;
  std::string folder = argv[1];
  std::size_t melCount = 80; // applied after the shape, whatever the flags' order
  bool checkpoint = false;
  for (int i = 2; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) {
      return usage();
    }
    const std::string value = argv[++i];
    if (flag == "--shape") {
      if (value == "small") {
        options.dimensions = TestModelOptions::smallDimensions();
      } else if (value == "tiny") {
        options.dimensions = TestModelOptions::tinyDimensions();
      } else if (value == "base") {
        options.dimensions = TestModelOptions::baseDimensions();
      } else {
        return usage();
      }
    } else if (flag == "--seed") {
      // A seed that is not a plain decimal number would silently become another seed.
      char *end = nullptr;
      errno = 0;
      options.seed = std::strtoull(value.c_str(), &end, 10);
      if (value.empty() || value.front() == '-' || *end != '\0' || errno == ERANGE) {
        return usage();
      }
    } else if (flag == "--weights") {
      if (value != "float16" && value != "float32") {
        return usage();
      }
      options.weightType = value == "float16"
                               ? platform::runner::SafeTensorsFile::ElementType::float16
                               : platform::runner::SafeTensorsFile::ElementType::float32;
    } else if (flag == "--mels") {
      if (value != "80" && value != "128") {
        return usage();
      }
      melCount = std::stoul(value);
    } else if (flag == "--layout") {
      if (value != "models" && value != "checkpoint") {
        return usage();
      }
      checkpoint = value == "checkpoint";
    } else if (flag == "--script-logit") {
      // TOKEN=LOGIT: a scripted decoder gives TOKEN about this logit at every step.
      const auto equals = value.find('=');
      char *end = nullptr;
      errno = 0;
      const std::string token = value.substr(0, equals);
      const unsigned long long id = std::strtoull(token.c_str(), &end, 10);
      if (equals == std::string::npos || token.empty() || token.front() == '-' || *end != '\0' ||
          errno == ERANGE) {
        return usage();
      }
      const std::string logitText = value.substr(equals + 1);
      const float logit = std::strtof(logitText.c_str(), &end);
      if (logitText.empty() || *end != '\0' || !std::isfinite(logit)) {
        return usage();
      }
      options.scriptedLogits.emplace_back(static_cast<std::size_t>(id), logit);
    } else {
      return usage();
    }
  }
  options.dimensions.melCount = melCount;
  try {
    if (checkpoint) {
      platform::runner::writeCheckpoint(folder, options);
      std::cout << "Wrote a checkpoint (config.json, model.safetensors, generation_config.json, "
                   "preprocessor_config.json) to "
                << folder << "\n";
      return 0;
    }
    platform::runner::writeTestModels(folder, options);
  } catch (const std::exception &error) {
    std::cerr << "make-test-model: " << error.what() << "\n";
    return 1;
  }
  std::cout << "Wrote MelSpectrogram.mlmodelc, AudioEncoder.mlmodelc and TextDecoder.mlmodelc to "
            << folder << "\n";
  return 0;
}
