// make-test-model: writes MelSpectrogram.mlmodelc, AudioEncoder.mlmodelc and TextDecoder.mlmodelc
// with seeded random weights into a folder, for tests, benchmarks and trying the engine without
// a downloaded model.

#include "tools/arguments/ArgumentParser.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <functional>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using murmurquill::ArgumentParser;
using platform::runner::TestModelOptions;

// "TOKEN=LOGIT": a scripted decoder gives TOKEN about this logit at every step.
std::optional<std::pair<std::size_t, float>> scriptedLogit(const std::string &value) {
  const auto equals = value.find('=');
  if (equals == std::string::npos) {
    return std::nullopt;
  }
  const auto id = murmurquill::parseWholeNumber(value.substr(0, equals), 0,
                                                std::numeric_limits<std::size_t>::max());
  const std::string logitText = value.substr(equals + 1);
  char *end = nullptr;
  const float logit = std::strtof(logitText.c_str(), &end);
  if (!id || logitText.empty() || *end != '\0' || !std::isfinite(logit)) {
    return std::nullopt;
  }
  return std::make_pair(static_cast<std::size_t>(*id), logit);
}

// Accepts `value` when it is one of `choices`, handing it to `set`.
ArgumentParser::Setter oneOf(std::vector<std::string> choices,
                             std::function<void(const std::string &)> set) {
  return [choices = std::move(choices),
          set = std::move(set)](const std::string &value) -> std::optional<std::string> {
    if (std::find(choices.begin(), choices.end(), value) == choices.end()) {
      std::string known;
      for (const auto &choice : choices) {
        known += (known.empty() ? "" : ", ") + choice;
      }
      return "not one of " + known;
    }
    set(value);
    return std::nullopt;
  };
}

struct Arguments {
  TestModelOptions options;
  std::size_t melCount = 80; // applied after the shape, whatever the options' order
  bool checkpoint = false;
  std::vector<std::string> folders;
};

ArgumentParser makeParser(Arguments &arguments) {
  ArgumentParser parser(
      "make-test-model",
      {"make-test-model FOLDER [--shape small|tiny|base] [--seed N]",
       "                [--weights float16|float32] [--mels 80|128]",
       "                [--layout models|checkpoint] [--script-logit TOKEN=LOGIT]..."},
      "Writes a speech model with seeded random weights, for tests, benchmarks and trying\n"
      "the engine without a downloaded model.");
  parser.positional("FOLDER", "where the model goes (created when missing)");
  auto &options = arguments.options;
  parser.option("--shape", "S",
                "the network's size: small (the default: width 64, 2 layers), tiny or\n"
                "base (the published models' dimensions)",
                oneOf({"small", "tiny", "base"}, [&options](const std::string &value) {
                  options.dimensions = value == "tiny"   ? TestModelOptions::tinyDimensions()
                                       : value == "base" ? TestModelOptions::baseDimensions()
                                                         : TestModelOptions::smallDimensions();
                }));
  parser.option("--seed", "N", "the random weights' seed, a whole number (default 1)",
                [&options](const std::string &value) -> std::optional<std::string> {
                  // A seed that is not a plain decimal number would silently become another.
                  const auto seed = murmurquill::parseWholeNumber(
                      value, 0, std::numeric_limits<unsigned long long>::max());
                  if (!seed) {
                    return "not a whole number";
                  }
                  options.seed = *seed;
                  return std::nullopt;
                });
  parser.option("--weights", "T", "the weights' type: float16 (the default) or float32",
                oneOf({"float16", "float32"}, [&options](const std::string &value) {
                  options.weightType =
                      value == "float16" ? platform::runner::SafeTensorsFile::ElementType::float16
                                         : platform::runner::SafeTensorsFile::ElementType::float32;
                }));
  parser.option("--mels", "M", "mel bins of the front end: 80 (the default) or 128",
                oneOf({"80", "128"}, [&arguments](const std::string &value) {
                  arguments.melCount = std::stoul(value);
                }));
  parser.option("--layout", "L",
                "models (the three .mlmodelc folders, the default) or checkpoint (a\n"
                "published checkpoint's files, for the importer)",
                oneOf({"models", "checkpoint"}, [&arguments](const std::string &value) {
                  arguments.checkpoint = value == "checkpoint";
                }));
  parser.option("--script-logit", "TOKEN=LOGIT",
                "make the decoder give TOKEN about LOGIT at every step, so it emits\n"
                "known text; may be repeated",
                [&options](const std::string &value) -> std::optional<std::string> {
                  const auto scripted = scriptedLogit(value);
                  if (!scripted) {
                    return "not TOKEN=LOGIT (a token id and a finite number)";
                  }
                  options.scriptedLogits.push_back(*scripted);
                  return std::nullopt;
                });
  return parser;
}

} // namespace

int main(int argc, char **argv) {
  Arguments arguments;
  const ArgumentParser parser = makeParser(arguments);
  const auto outcome = parser.parse(argc, argv, arguments.folders, std::cout, std::cerr);
  if (outcome != ArgumentParser::Outcome::run) {
    return murmurquill::exitStatus(outcome);
  }
  if (arguments.folders.size() != 1) {
    parser.refuse(arguments.folders.empty() ? "no folder given" : "more than one folder given",
                  std::cerr);
    return 2;
  }
  const std::string folder = arguments.folders.front();
  if (folder.empty()) {
    // An empty path would put the models in the working folder.
    parser.refuse("the folder is an empty path", std::cerr);
    return 2;
  }
  const bool checkpoint = arguments.checkpoint;
  auto &options = arguments.options;
  const std::size_t melCount = arguments.melCount;
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
