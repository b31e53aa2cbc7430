// The runner's lowest layer: the shared parallel loop, float16 conversions, the huge-page
// allocator, the BLAS library's kernel choice and the real Fourier transform.

#include "platform/ml/runner/kernels/Blas.hpp"
#include "platform/ml/runner/kernels/Half.hpp"
#include "platform/ml/runner/kernels/HugePageAllocator.hpp"
#include "platform/ml/runner/kernels/InstructionSet.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/kernels/RealFft.hpp"
#include "platform/ml/runner/kernels/VectorOps.hpp"

#include "bench/support/AllocationCounter.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <numbers>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace platform::runner;

TEST(HugePageAllocator, LargeBlocksStartOnHugePagesAndEveryBlockIsCountedAndUsable) {
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  // Below, at and above one huge page; the large sizes are not multiples of it.
  const std::size_t counts[] = {1, 1000, kHugePage / 2 - 1, kHugePage / 2, 9'216'000 + 7};
  for (std::size_t count : counts) {
    SCOPED_TRACE(count);
    mqbench::AllocationCounter::resetCount();
    const bool wasCounting = mqbench::AllocationCounter::setCounting(true);
    HugePageVector<std::uint16_t> block(count);
    mqbench::AllocationCounter::setCounting(wasCounting);
    EXPECT_EQ(mqbench::AllocationCounter::count(), 1);
    if (count * sizeof(std::uint16_t) >= kHugePage) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.data()) % kHugePage, 0u);
    }
    for (std::size_t i = 0; i < count; ++i) {
      block[i] = static_cast<std::uint16_t>(i * 31);
    }
    EXPECT_EQ(block.back(), static_cast<std::uint16_t>((count - 1) * 31));
    const auto copy = block;
    EXPECT_EQ(copy, block);
  }
}

TEST(BlasCore, ABetterCoreOnlyReplacesANarrowerChoiceTheUserDidNotMake) {
  struct Case {
    const char *userCoreType; // OPENBLAS_CORETYPE, null when unset
    std::string reported;
    bool avx512, avx2Fma;
    std::string expected; // empty: keep the library's choice
  };
  const std::vector<Case> cases = {
      {nullptr, "Prescott", true, true, "SkylakeX"},
      {nullptr, "Core2", false, true, "Haswell"},
      {nullptr, "NEHALEM", false, true, "Haswell"}, // names compare without case
      {nullptr, "Prescott", false, false, ""},      // nothing better on this CPU
      {"Prescott", "Prescott", true, true, ""},     // the user's value stands
      {"", "Prescott", true, true, ""},             // even an empty one
      {nullptr, "Haswell", false, true, ""},        // an AVX2 core on an AVX2 CPU is kept
      {nullptr, "Zen", false, true, ""},
      {nullptr, "Sandybridge", false, true, ""},
      {nullptr, "Haswell", true, true, "SkylakeX"}, // AVX2 kernels on an AVX-512 CPU are not
      {nullptr, "Zen", true, true, "SkylakeX"},     // (Zen 4 and 5 report their family)
      {nullptr, "SANDYBRIDGE", true, true, "SkylakeX"},
      {nullptr, "Excavator", true, true, "SkylakeX"},
      {"Haswell", "Haswell", true, true, ""}, // the user's value stands here too
      {nullptr, "SkylakeX", true, true, ""},  // AVX-512 kernels are kept
      {nullptr, "Cooperlake", true, true, ""},
      {nullptr, "SapphireRapids", true, true, ""},
      {nullptr, "SomeFutureCore", true, true,
       ""}, // unknown names are the library's informed choice
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.reported + (c.userCoreType ? std::string(" set to ") + c.userCoreType : ""));
    EXPECT_EQ(betterBlasCore(c.userCoreType, c.reported, c.avx512, c.avx2Fma), c.expected);
  }
}

TEST(BlasCore, TheLibraryLoadsOnceWithTheRunnerThreadCount) {
  const BlasSetup &setup = loadBlas(parallelThreadCount());
  EXPECT_FALSE(setup.core.empty());
  EXPECT_EQ(setup.threads, parallelThreadCount());
  EXPECT_EQ(&loadBlas(1), &setup); // later calls return the first result
  std::vector<float> a = {1, 2, 3, 4}, b = {5, 6, 7, 8}, c(4, 0.0f);
  gemm(false, false, 2, 2, 2, 1.0f, a.data(), 2, b.data(), 2, 0.0f, c.data(), 2);
  EXPECT_EQ(c, (std::vector<float>{19, 22, 43, 50}));
}

TEST(ParallelFor, CoversEveryIndexOnceForAnyRangeGrainAndChunkCount) {
  struct Case {
    std::size_t begin, end, grain, chunksPerThread;
  };
  // Chunk counts out of range are clamped to 1 and kMaxChunksPerThread.
  for (const Case c : {Case{0, 0, 1, 4}, Case{5, 6, 1, 4}, Case{0, 1000, 1, 4}, Case{3, 1003, 7, 4},
                       Case{0, 100, 1000, 4}, Case{10, 100000, 64, 4}, Case{0, 100000, 1, 16},
                       Case{0, 100000, 1, 1000}, Case{0, 1000, 1, 0}, Case{0, 37, 1, 16}}) {
    SCOPED_TRACE(std::to_string(c.begin) + ".." + std::to_string(c.end) + " grain " +
                 std::to_string(c.grain) + ", " + std::to_string(c.chunksPerThread) +
                 " chunks a thread");
    std::vector<std::atomic<int>> hits(c.end);
    std::atomic<int> shortChunks{0};
    std::atomic<std::size_t> chunks{0};
    parallelFor(
        c.begin, c.end, c.grain,
        [&](std::size_t b, std::size_t e) {
          ++chunks;
          if (e - b < c.grain && e != c.end) {
            ++shortChunks;
          }
          for (std::size_t i = b; i < e; ++i) {
            ++hits[i];
          }
        },
        c.chunksPerThread);
    for (std::size_t i = 0; i < c.end; ++i) {
      ASSERT_EQ(hits[i].load(), i >= c.begin ? 1 : 0) << "index " << i;
    }
    EXPECT_EQ(shortChunks.load(), 0);
    const std::size_t allowed =
        parallelThreadCount() * std::clamp<std::size_t>(c.chunksPerThread, 1, kMaxChunksPerThread);
    EXPECT_LE(chunks.load(), allowed);
  }
}

TEST(ParallelFor, NestedCallsRunAndExceptionsReachTheCaller) {
  std::vector<std::atomic<int>> hits(64 * 64);
  parallelFor(0, 64, 1, [&](std::size_t b, std::size_t e) {
    for (std::size_t i = b; i < e; ++i) {
      parallelFor(0, 64, 1, [&](std::size_t ib, std::size_t ie) {
        for (std::size_t j = ib; j < ie; ++j) {
          ++hits[i * 64 + j];
        }
      });
    }
  });
  for (auto &h : hits) {
    ASSERT_EQ(h.load(), 1);
  }
  EXPECT_THROW(parallelFor(0, 1000, 1,
                           [](std::size_t b, std::size_t e) {
                             if (b <= 500 && 500 < e) {
                               throw std::runtime_error("chunk failed");
                             }
                           }),
               std::runtime_error);
  // The pool is still usable after a failed loop.
  std::atomic<std::size_t> total{0};
  parallelFor(0, 1000, 1, [&](std::size_t b, std::size_t e) { total += e - b; });
  EXPECT_EQ(total.load(), 1000u);
}

// Loops posted from several threads at once, back to back: one caller's loop goes through the
// pool's fast slot while the others wait in its list, and a worker late from one loop must never
// run a chunk of the next with the old bounds.
TEST(ParallelFor, ConcurrentCallersEachRunTheirWholeLoops) {
  constexpr int kCallers = 4;
  constexpr int kLoops = 400;
  std::vector<std::thread> callers;
  std::vector<int> failures(kCallers, 0);
  for (int caller = 0; caller < kCallers; ++caller) {
    callers.emplace_back([&, caller] {
      for (int loop = 0; loop < kLoops; ++loop) {
        const std::size_t length = 1 + static_cast<std::size_t>((loop * 37 + caller * 11) % 300);
        std::vector<std::atomic<int>> hits(length);
        parallelFor(
            0, length, 1 + loop % 5,
            [&](std::size_t b, std::size_t e) {
              for (std::size_t i = b; i < e; ++i) {
                ++hits[i];
              }
            },
            1 + static_cast<std::size_t>(loop) % kMaxChunksPerThread);
        for (auto &h : hits) {
          failures[caller] += h.load() == 1 ? 0 : 1;
        }
      }
    });
  }
  for (auto &caller : callers) {
    caller.join();
  }
  EXPECT_EQ(failures, std::vector<int>(kCallers, 0));
}

TEST(Half, WideningIsExactAndNarrowingRoundsLikeTheCompiler) {
  for (std::uint32_t bits = 0; bits < 65536; ++bits) {
    const auto half = static_cast<std::uint16_t>(bits);
    const float expected = static_cast<float>(std::bit_cast<_Float16>(half));
    const float widened = halfToFloat(half);
    if (std::isnan(expected)) {
      ASSERT_TRUE(std::isnan(widened)) << bits;
      continue;
    }
    ASSERT_EQ(std::bit_cast<std::uint32_t>(widened), std::bit_cast<std::uint32_t>(expected))
        << bits;
    ASSERT_EQ(halfToFloatTable()[bits], widened) << bits;
    ASSERT_EQ(floatToHalf(widened), half) << bits;
  }
  std::mt19937 generator(3);
  std::uniform_int_distribution<std::uint32_t> anyBits;
  for (int i = 0; i < 200000; ++i) {
    const float value = std::bit_cast<float>(anyBits(generator));
    if (std::isnan(value)) {
      continue;
    }
    const auto expected = std::bit_cast<std::uint16_t>(static_cast<_Float16>(value));
    ASSERT_EQ(floatToHalf(value), expected) << value;
  }
  // Halfway cases round to even, including into the subnormal range and up to infinity.
  for (float value : {65520.0f, 65519.0f, 2.9802322e-8f, 8.940697e-8f, 1.0009765625f}) {
    EXPECT_EQ(floatToHalf(value), std::bit_cast<std::uint16_t>(static_cast<_Float16>(value)))
        << value;
  }
}

TEST(VectorOps, ExpAndErfStayWithinTheirBoundsAndSoftmaxSumsToOne) {
  double worstExp = 0;
  double worstErf = 0;
  for (float x = -87.0f; x <= 88.0f; x += 0.0137f) {
    worstExp = std::max(worstExp, std::abs(fastExp(x) / std::exp(static_cast<double>(x)) - 1.0));
  }
  for (float x = -6.0f; x <= 6.0f; x += 0.00071f) {
    worstErf = std::max(worstErf, std::abs(fastErf(x) - std::erf(static_cast<double>(x))));
  }
  EXPECT_LT(worstExp, 1e-6);
  EXPECT_LT(worstErf, 6e-7);
  EXPECT_EQ(fastExp(-100.0f), 0.0f);
  EXPECT_EQ(fastExp(-1.0e30f), 0.0f);
  EXPECT_TRUE(std::isnan(fastExp(NAN)));
  EXPECT_EQ(fastErf(0.0f), 0.0f);

  // Large negative entries (masked positions) get exactly zero weight.
  std::vector<float> scores = {1.0f, 2.0f, -10000.0f, 3.0f, -1.0e30f};
  softmaxInPlace(scores.data(), scores.size());
  const double e1 = std::exp(1.0), e2 = std::exp(2.0), e3 = std::exp(3.0);
  EXPECT_NEAR(scores[0], e1 / (e1 + e2 + e3), 1e-6);
  EXPECT_NEAR(scores[3], e3 / (e1 + e2 + e3), 1e-6);
  EXPECT_EQ(scores[2], 0.0f);
  EXPECT_EQ(scores[4], 0.0f);
}

TEST(VectorOps, Log10StaysWithinAFewUnitsInTheLastPlaceOnEveryPath) {
  // Across the mel front end's range (from its 1e-10 floor) and far beyond, every mantissa step.
  std::vector<float> values;
  for (float x = 1.0e-30f; x < 1.0e30f; x *= 1.0003f) {
    values.push_back(x);
  }
  values.insert(values.end(),
                {1.0f, 10.0f, 1.0e-10f, 0.70710677f, 0.70710683f, std::numeric_limits<float>::max(),
                 std::numeric_limits<float>::min()});
  double worst = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double exact = std::log10(static_cast<double>(values[i]));
    const double ulp = std::max(std::abs(exact), 1e-3) * std::numeric_limits<float>::epsilon();
    worst = std::max(worst, std::abs(fastLog10(values[i]) - exact) / ulp);
  }
  EXPECT_LT(worst, 4.0);
  // The mel spectrogram must not depend on the machine: every instruction set's loop gives the
  // scalar function's bits.
  for (auto set : {InstructionSet::baseline, InstructionSet::avx2, InstructionSet::avx512}) {
    if (!instructionSetAvailable(set)) {
      continue;
    }
    SCOPED_TRACE(instructionSetName(set));
    forceInstructionSet(set);
    std::vector<float> inPlace = values;
    log10InPlace(inPlace.data(), inPlace.size());
    resetInstructionSet();
    for (std::size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(std::bit_cast<std::uint32_t>(inPlace[i]),
                std::bit_cast<std::uint32_t>(fastLog10(values[i])))
          << values[i];
    }
  }
  EXPECT_EQ(fastLog10(INFINITY), INFINITY);
  EXPECT_TRUE(std::isnan(fastLog10(NAN)));
}

// A transform buffer on the alignment the transform asks for, filled with a seeded signal.
struct FftBuffer {
  explicit FftBuffer(const RealFft &fft, unsigned seed)
      : data(static_cast<float *>(::operator new (fft.bufferFloats() * sizeof(float),
                                                  std::align_val_t{RealFft::kAlignment}))) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::fill(data, data + fft.bufferFloats(), 0.0f);
    for (std::size_t n = 0; n < fft.length(); ++n) {
      data[n] = value(generator);
    }
  }
  ~FftBuffer() { ::operator delete (data, std::align_val_t{RealFft::kAlignment}); }
  FftBuffer(const FftBuffer &) = delete;
  FftBuffer &operator=(const FftBuffer &) = delete;
  float *data;
};

TEST(RealFft, MatchesTheDirectTransformInDoublePrecisionForEveryLength) {
  // Powers of two, the speech front end's 400 and 512, odd and prime lengths, and one sample.
  for (std::size_t length : {1u, 2u, 3u, 7u, 16u, 97u, 400u, 512u, 1000u}) {
    SCOPED_TRACE(length);
    const RealFft fft(length);
    ASSERT_EQ(fft.bufferFloats(), 2 * (length / 2 + 1));
    FftBuffer buffer(fft, static_cast<unsigned>(length));
    const std::vector<double> signal(buffer.data, buffer.data + length);
    fft.forwardInPlace(buffer.data);
    for (std::size_t k = 0; k <= length / 2; ++k) {
      double re = 0, im = 0;
      for (std::size_t n = 0; n < length; ++n) {
        const double angle = 2 * std::numbers::pi * static_cast<double>((k * n) % length) /
                             static_cast<double>(length);
        re += signal[n] * std::cos(angle);
        im -= signal[n] * std::sin(angle);
      }
      // Float rounding grows with the length's logarithm; the signal's sum bounds each value.
      const double tolerance = 1e-6 * static_cast<double>(length) + 1e-6;
      ASSERT_NEAR(buffer.data[2 * k], re, tolerance) << "bin " << k;
      ASSERT_NEAR(buffer.data[2 * k + 1], im, tolerance) << "bin " << k;
    }
  }
  EXPECT_THROW(RealFft(0), std::invalid_argument);
}

TEST(RealFft, PlansAndTransformsFromManyThreadsAtOnceGiveTheSerialResult) {
  constexpr std::size_t kLengths[] = {400, 512, 97};
  std::vector<std::vector<float>> expected;
  for (std::size_t length : kLengths) {
    const RealFft fft(length);
    FftBuffer buffer(fft, 3);
    fft.forwardInPlace(buffer.data);
    expected.emplace_back(buffer.data, buffer.data + fft.bufferFloats());
  }
  const RealFft shared(kLengths[0]);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        const std::size_t which = static_cast<std::size_t>(t + round) % std::size(kLengths);
        // Half the threads plan their own transform while the others run the shared one.
        const RealFft own(kLengths[which]);
        const RealFft &fft = t % 2 == 0 ? own : shared;
        const std::size_t index = t % 2 == 0 ? which : 0;
        FftBuffer buffer(fft, 3);
        fft.forwardInPlace(buffer.data);
        if (!std::equal(expected[index].begin(), expected[index].end(), buffer.data)) {
          ++mismatches;
        }
      }
    });
  }
  for (auto &thread : threads) {
    thread.join();
  }
  EXPECT_EQ(mismatches.load(), 0);
}

} // namespace
