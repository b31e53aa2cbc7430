// Mutated model folders (the model.json description and the weights.safetensors header and data)
// through the model runner's loader. A load may refuse a folder with an exception; it must not
// crash, overflow the stack on deep nesting, or size a buffer from what a damaged description
// claims, so every allocation above 256 MiB is refused and counted as a failure.

#include "bench/support/AllocationCounter.hpp"
#include "platform/ml/LoadMLModel.hpp"
#include "tests/fuzz/FuzzSupport.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <array>
#include <fstream>

namespace mqtest::fuzz {
namespace {

using mqbench::AllocationLimit;

constexpr std::size_t kLargestAllocation = std::size_t{256} << 20;

// The seed corpora hold one tiny model of each kind, in name order.
constexpr std::array<const char *, 3> kFolders = {"AudioEncoder", "MelSpectrogram", "TextDecoder"};
constexpr std::array<const char *, 3> kKinds = {"audio_encoder", "mel", "text_decoder"};

void writeFile(const std::filesystem::path &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Three valid model folders built from the seed corpora.
struct Folders {
  mqtest::TempDir dir;
  std::vector<std::string> descriptions = loadCorpus("model-description");
  std::vector<std::string> weights = loadCorpus("safetensors");

  Folders() {
    EXPECT_EQ(descriptions.size(), kFolders.size());
    EXPECT_EQ(weights.size(), kFolders.size());
    for (std::size_t i = 0; i < kFolders.size() && i < descriptions.size() && i < weights.size();
         ++i) {
      std::filesystem::create_directories(folder(i));
      writeFile(folder(i) / "model.json", descriptions[i]);
      writeFile(folder(i) / "weights.safetensors", weights[i]);
    }
  }
  std::filesystem::path folder(std::size_t i) const {
    return dir / (std::string(kFolders[i]) + ".mlmodelc");
  }
  // The folder whose weights fit the kind a (mutated) description names.
  std::size_t folderFor(const std::string &description) const {
    for (std::size_t i = 0; i < kKinds.size(); ++i) {
      if (description.find(std::string("\"") + kKinds[i] + "\"") != std::string::npos) {
        return i;
      }
    }
    return 2;
  }
};

// Runs one load within the allocation limit, reporting an oversized allocation as a failure.
void loadWithinLimit(const std::filesystem::path &folder, AllocationLimit &limit,
                     std::size_t &iteration) {
  const std::size_t before = limit.refused();
  try {
    platform::loadMLModel(folder);
  } catch (...) {
    EXPECT_EQ(limit.refused(), before) << "input " << iteration << " asked for an allocation of "
                                       << limit.largestRefused() << " bytes";
    ++iteration;
    throw;
  }
  EXPECT_EQ(limit.refused(), before) << "input " << iteration << " asked for an allocation of "
                                     << limit.largestRefused() << " bytes";
  ++iteration;
}

TEST(ModelFolderFuzz, DescriptionsLoadOrAreRefusedWithinBoundedMemory) {
  Folders folders;
  std::size_t iteration = 0;
  AllocationLimit limit(kLargestAllocation);
  run("model-description", /*seed=*/0x5eed0d, /*count=*/300, [&](const std::string &bytes) {
    const std::size_t i = folders.folderFor(bytes);
    writeFile(folders.folder(i) / "model.json", bytes);
    loadWithinLimit(folders.folder(i), limit, iteration);
  });
}

TEST(ModelFolderFuzz, WeightFilesLoadOrAreRefusedWithinBoundedMemory) {
  Folders folders;
  std::size_t iteration = 0;
  AllocationLimit limit(kLargestAllocation);
  run("safetensors", /*seed=*/0x5eed0e, /*count=*/100, [&](const std::string &bytes) {
    // Each kind's weights name their own tensors, so a mutant goes to every folder.
    for (std::size_t i = 0; i < kFolders.size(); ++i) {
      writeFile(folders.folder(i) / "weights.safetensors", bytes);
      try {
        loadWithinLimit(folders.folder(i), limit, iteration);
      } catch (const std::exception &) {
        // A refusal; the other folders still get the mutant.
      }
    }
  });
}

} // namespace
} // namespace mqtest::fuzz
