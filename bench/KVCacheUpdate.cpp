// Cost of copying one decoding step's keys and values into the caches, as the token loop does
// after every step: TextDecoding::updateKVCache as it stands, against the same copy made
// channel after channel on one thread and with one parallel iteration per channel on the
// runner's threads. Cache widths E of the base shape (6 x 512), the width where
// updateKVCache turns parallel (8192) and the large shape (32 x 1280); 224 positions, float16.

#include "DivuvovIze/Decoding/Decoder/TextDecoding.hpp"
#include "bench/support/RunnerBenchmarkMain.hpp"
#include "platform/ml/Float16.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"

#include <benchmark/benchmark.h>

namespace {

using platform::Float16;
using platform::MLMultiArray;
using platform::MLMultiArrayDataType;

constexpr int kPositions = 224;

struct Caches {
  MLMultiArray keys;
  MLMultiArray values;
  MLMultiArray keySlice;
  MLMultiArray valueSlice;

  explicit Caches(int channels)
      : keys({1, channels, 1, kPositions}, MLMultiArrayDataType::float16, Float16(0)),
        values({1, channels, 1, kPositions}, MLMultiArrayDataType::float16, Float16(0)),
        keySlice({1, channels, 1, 1}, MLMultiArrayDataType::float16, Float16(0.5f)),
        valueSlice({1, channels, 1, 1}, MLMultiArrayDataType::float16, Float16(0.25f)) {}
};

void copyChannels(const MLMultiArray &cache, const MLMultiArray &slice, int index,
                  std::size_t begin, std::size_t end) {
  auto *target = cache.data<Float16>();
  const auto *source = slice.data<Float16>();
  const auto cacheStride = static_cast<std::size_t>(cache.strides()[1]);
  const auto sliceStride = static_cast<std::size_t>(slice.strides()[1]);
  for (std::size_t j = begin; j < end; ++j) {
    target[j * cacheStride + static_cast<std::size_t>(index)] = source[j * sliceStride];
  }
}

void copySerial(const MLMultiArray &cache, const MLMultiArray &slice, int index) {
  copyChannels(cache, slice, index, 0, static_cast<std::size_t>(slice.shape()[1]));
}

void copyParallel(const MLMultiArray &cache, const MLMultiArray &slice, int index) {
  platform::runner::parallelFor(
      0, static_cast<std::size_t>(slice.shape()[1]), 1,
      [&](std::size_t begin, std::size_t end) { copyChannels(cache, slice, index, begin, end); });
}

template <class Copy> void run(benchmark::State &state, Copy copy) {
  const Caches caches(static_cast<int>(state.range(0)));
  int index = 0;
  for (auto _ : state) {
    copy(caches, index);
    index = (index + 1) % kPositions;
    benchmark::ClobberMemory();
  }
}

void BM_UpdateKVCache(benchmark::State &state) {
  run(state, [](const Caches &c, int index) {
    divuvovize::TextDecoding::updateKVCache(c.keys, c.keySlice, c.values, c.valueSlice, index);
  });
}

void BM_CopySerial(benchmark::State &state) {
  run(state, [](const Caches &c, int index) {
    copySerial(c.keys, c.keySlice, index);
    copySerial(c.values, c.valueSlice, index);
  });
}

void BM_CopyParallelChannels(benchmark::State &state) {
  run(state, [](const Caches &c, int index) {
    copyParallel(c.keys, c.keySlice, index);
    copyParallel(c.values, c.valueSlice, index);
  });
}

BENCHMARK(BM_UpdateKVCache)->Arg(6 * 512)->Arg(8192)->Arg(32 * 1280)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopySerial)->Arg(6 * 512)->Arg(8192)->Arg(32 * 1280)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyParallelChannels)
    ->Arg(6 * 512)
    ->Arg(8192)
    ->Arg(32 * 1280)
    ->Unit(benchmark::kMicrosecond);

} // namespace

MQ_RUNNER_BENCHMARK_MAIN()
