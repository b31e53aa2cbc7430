// Mutated safetensors files through the reader the model loader and the checkpoint importer share:
// the header's JSON, its element types, shapes and byte ranges. Opening may refuse a file with an
// exception; it must not crash, read past the data (the sanitizers watch every tensor read), or
// size a buffer from what a damaged header claims (every allocation above 256 MiB is refused and
// counted as a failure).

#include "platform/ml/runner/formats/SafeTensorsFile.hpp"
#include "tests/fuzz/FuzzSupport.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/allocation-counter/AllocationCounter.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace mqtest::fuzz {
namespace {

using mqtools::AllocationLimit;
using platform::runner::SafeTensorsFile;

constexpr std::size_t kLargestAllocation = std::size_t{256} << 20;

TEST(SafeTensorsHeaderFuzz, FilesOpenAndReadOrAreRefusedWithinBoundedMemory) {
  mqtest::TempDir dir;
  const auto path = dir / "weights.safetensors";
  std::size_t iteration = 0;
  AllocationLimit limit(kLargestAllocation);
  run("safetensors-header", /*seed=*/0x5eed12, /*count=*/400, [&](const std::string &bytes) {
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    const std::size_t before = limit.refused();
    ++iteration;
    try {
      const SafeTensorsFile file(path);
      EXPECT_LE(file.tensors().size(), SafeTensorsFile::kMaxTensors);
      for (const auto &[name, tensor] : file.tensors()) {
        file.readFloats(name, tensor.shape);
      }
    } catch (...) {
      EXPECT_EQ(limit.refused(), before) << "input " << iteration << " asked for an allocation of "
                                         << limit.largestRefused() << " bytes";
      throw;
    }
    EXPECT_EQ(limit.refused(), before) << "input " << iteration << " asked for an allocation of "
                                       << limit.largestRefused() << " bytes";
  });
}

} // namespace
} // namespace mqtest::fuzz
