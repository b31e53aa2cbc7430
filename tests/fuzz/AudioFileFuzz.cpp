// Mutated audio files (WAV, AIFF, FLAC) through the engine's file loaders. A loader may refuse
// a file with an exception; it must never size a buffer from what a damaged header claims, so
// every allocation above 256 MiB is refused and counted as a failure.

#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "bench/support/AllocationCounter.hpp"
#include "tests/fuzz/FuzzSupport.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace mqtest::fuzz {
namespace {

using mqbench::AllocationLimit;

using divuvovize::AudioProcessor;

constexpr std::size_t kLargestAllocation = std::size_t{256} << 20;

TEST(AudioFileFuzz, LoadersRefuseOrDecodeWithinBoundedMemory) {
  mqtest::TempDir dir;
  const auto path = dir / "input";
  std::size_t iteration = 0;
  AllocationLimit limit(kLargestAllocation);
  run("audio", /*seed=*/0x5eed0a, /*count=*/200, [&](const std::string &bytes) {
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    const std::size_t before = limit.refused();
    try {
      // The whole-buffer load reads 16 kHz mono files directly and converts the others; the
      // float-array load reads in pieces. Both must stay within the limit.
      const auto buffer = AudioProcessor::loadAudio(path.string());
      const auto samples = AudioProcessor::loadAudioAsFloatArray(path.string());
      EXPECT_LE(samples.size(), std::size_t{1} << 26);
      EXPECT_TRUE(buffer != nullptr);
    } catch (...) {
      if (limit.refused() != before) {
        ADD_FAILURE() << "input " << iteration << " asked for an allocation of "
                      << limit.largestRefused() << " bytes";
      }
      ++iteration;
      throw;
    }
    EXPECT_EQ(limit.refused(), before) << "input " << iteration << " asked for an allocation of "
                                       << limit.largestRefused() << " bytes";
    ++iteration;
  });
}

} // namespace
} // namespace mqtest::fuzz
