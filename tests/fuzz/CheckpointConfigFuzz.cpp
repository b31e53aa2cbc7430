// Mutated checkpoint configuration documents (config.json, generation_config.json,
// preprocessor_config.json) through the checkpoint importer. An import may refuse a checkpoint
// with an exception; it must not crash, size a buffer from a hostile dimension (every allocation
// above 256 MiB is refused and counted as a failure), or write models the loader then refuses.

#include "platform/ml/CheckpointImport.hpp"
#include "platform/ml/LoadMLModel.hpp"
#include "tests/fuzz/FuzzSupport.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/allocation-counter/AllocationCounter.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace mqtest::fuzz {
namespace {

namespace fs = std::filesystem;
using mqtest::TempDir;
using mqtools::AllocationLimit;
using platform::runner::TestModelOptions;

constexpr std::size_t kLargestAllocation = std::size_t{256} << 20;

// The checkpoint the seed documents describe: small enough that a whole import takes
// milliseconds.
TestModelOptions tinyCheckpoint() {
  TestModelOptions options;
  auto &d = options.dimensions;
  d.vocabularySize = 100;
  d.audioContext = 8;
  d.windowSamples = 2 * 8 * 160;
  d.textContext = 16;
  d.cacheLength = 16;
  return options;
}

// Which document a (mutated) text most likely is, by the keys it still holds.
const char *documentFor(const std::string &text) {
  if (text.find("d_model") != std::string::npos) {
    return "config.json";
  }
  if (text.find("n_fft") != std::string::npos || text.find("feature_size") != std::string::npos) {
    return "preprocessor_config.json";
  }
  return "generation_config.json";
}

void writeFile(const fs::path &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(CheckpointConfigFuzz, ImportsOrRefusesWithinBoundedMemoryAndWritesOnlyLoadableModels) {
  TempDir dir;
  const fs::path checkpoint = dir / "checkpoint";
  platform::runner::writeCheckpoint(checkpoint, tinyCheckpoint());
  for (const char *name : {"config.json", "generation_config.json", "preprocessor_config.json"}) {
    writeFile(checkpoint / name, TempDir::read(corpusFolder("checkpoint-config") / name));
  }
  std::size_t iteration = 0;
  AllocationLimit limit(kLargestAllocation);
  run("checkpoint-config", /*seed=*/0x5eed11, /*count=*/60, [&](const std::string &bytes) {
    const std::string name = documentFor(bytes);
    const std::string original = TempDir::read(corpusFolder("checkpoint-config") / name);
    writeFile(checkpoint / name, bytes);
    const std::size_t before = limit.refused();
    ++iteration;
    bool imported = false;
    try {
      platform::importCheckpoint(checkpoint, dir / "imported");
      imported = true;
    } catch (const std::exception &) {
    }
    writeFile(checkpoint / name, original);
    EXPECT_EQ(limit.refused(), before) << "input " << iteration << " asked for an allocation of "
                                       << limit.largestRefused() << " bytes";
    if (!imported) {
      throw std::runtime_error("refused");
    }
    for (const char *model :
         {"MelSpectrogram.mlmodelc", "AudioEncoder.mlmodelc", "TextDecoder.mlmodelc"}) {
      EXPECT_NO_THROW(platform::loadMLModel(dir / "imported" / model))
          << "input " << iteration << " imported a " << model << " the loader refuses";
    }
  });
}

} // namespace
} // namespace mqtest::fuzz
