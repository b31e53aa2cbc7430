#pragma once
// The facade tests' shared pieces: a scripted model folder the engine loads without any network,
// the short options of a dictation and a tone.

#include "DivuvovIze/Pipeline/DivuvovIze.hpp"

#include "tests/DivuvovIze/Decoding/SpeechTokenizerFixture.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace facadetest {

namespace fs = std::filesystem;
using divuvovize::DecodingOptions;
using divuvovize::DivuvovIzeConfig;
using mqtest::TempDir;
using platform::runner::TestModelOptions;


constexpr std::size_t kHello = 18435; // " Hello" in the speech vocabulary
constexpr std::size_t kEndOfText = 50256;

// A small English-only model whose decoder always prefers " Hello", then end of text, with
// the speech tokenizer beside it: a folder the engine loads without any network.
inline fs::path writeModelFolder(const TempDir &temp, const std::string &name = "model",
                          bool checkpoint = false) {
  TestModelOptions options;
  options.scriptedLogits = {{kHello, 30.0f}, {kEndOfText, 20.0f}};
  const fs::path folder = temp / name;
  if (checkpoint) {
    platform::runner::writeCheckpoint(folder, options);
  } else {
    platform::runner::writeTestModels(folder, options);
  }
  for (const char *file : {"tokenizer.json", "tokenizer_config.json"}) {
    fs::copy_file(mqtest::fixturePath(std::string("tokenizers/speech-en/") + file), folder / file);
  }
  return folder;
}

inline DivuvovIzeConfig configFor(const fs::path &folder, std::optional<bool> load = false) {
  DivuvovIzeConfig config;
  config.modelFolder = folder.string();
  config.load = load;
  // Keep the tokenizer search away from the user's own hub folder.
  config.tokenizerFolder = folder.parent_path() / "hub";
  return config;
}

// What the scripted decoder emits within the short options' token bound.
inline const std::string kScriptedText = "Hello Hello";

// A few tokens, no timestamps: the dictation's shape of options.
inline DecodingOptions shortOptions() {
  DecodingOptions options;
  options.language = "en";
  options.temperatureFallbackCount = 0;
  options.withoutTimestamps = true;
  options.skipSpecialTokens = true;
  options.sampleLength = 3;
  return options;
}

inline std::vector<float> tone(double seconds) {
  std::vector<float> samples(static_cast<std::size_t>(seconds * 16000));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = 0.3f * static_cast<float>(std::sin(2 * M_PI * 440.0 * i / 16000.0));
  }
  return samples;
}

class FacadeTest : public testing::Test {
protected:
  void SetUp() override { setenv("CI_DISABLE_NETWORK_MONITOR", "1", 1); }
  TempDir temp;
};

} // namespace facadetest
