#pragma once

// The limits the encoder's speed is measured against on this machine: sgemm on the encoder's own
// matrix products, the widening of float16 weights alone, and the fp32 FMA peak.

#include "platform/ml/runner/formats/ModelConfig.hpp"
#include "platform/ml/runner/kernels/Blas.hpp"
#include "platform/ml/runner/kernels/HalfKernels.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/ops/Linear.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <immintrin.h>
#include <thread>
#include <utility>
#include <vector>

namespace mqbench {

using Clock = std::chrono::steady_clock;

// The encoder's matrix products as plain sgemm calls on buffers of the same sizes: the limit the
// encoder's throughput is measured against.
inline double sgemmSecondsForEncoderShapes(const platform::runner::ModelDimensions &d,
                                           double &flops, int rounds) {
  const int t = static_cast<int>(d.audioContext), w = static_cast<int>(d.width);
  const int f = static_cast<int>(d.ffnWidth), m = static_cast<int>(d.melCount);
  const int hd = w / static_cast<int>(d.encoderHeads);
  struct Shape {
    int m, n, k, lda, ldb, ldc;
    bool transB;
  };
  std::vector<Shape> shapes = {{2 * t, w, 3 * m, 3 * m, 3 * m, w, true},
                               {t, w, 3 * w, 3 * w, 3 * w, w, true}};
  for (std::size_t l = 0; l < d.encoderLayers; ++l) {
    shapes.push_back({t, 3 * w, w, w, w, 3 * w, true});
    for (std::size_t h = 0; h < d.encoderHeads; ++h) {
      shapes.push_back({t, t, hd, 3 * w, 3 * w, t, true});
      shapes.push_back({t, hd, t, t, 3 * w, w, false});
    }
    shapes.push_back({t, w, w, w, w, w, true});
    shapes.push_back({t, f, w, w, w, f, true});
    shapes.push_back({t, w, f, f, f, w, true});
  }
  std::vector<float> a(static_cast<std::size_t>(2 * t) * 3 * w + static_cast<std::size_t>(t) * t,
                       0.01f);
  std::vector<float> b(static_cast<std::size_t>(f) * 3 * w + static_cast<std::size_t>(t) * 3 * w,
                       0.01f);
  std::vector<float> c(static_cast<std::size_t>(2 * t) * f + static_cast<std::size_t>(t) * t, 0.0f);
  flops = 0;
  for (const auto &s : shapes) {
    flops += 2.0 * s.m * s.n * s.k;
  }
  double best = 1e30;
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    for (const auto &s : shapes) {
      // The runner's BLAS wrapper is a direct cblas_sgemm call.
      platform::runner::gemm(false, s.transB, s.m, s.n, s.k, 1.0f, a.data(), s.lda, b.data(), s.ldb,
                             0.0f, c.data(), s.ldc);
    }
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

// The widening the encoder does before each product with float16 weights, alone, on matrices of
// the encoder's sizes.
inline double widenSecondsForEncoderShapes(const platform::runner::ModelDimensions &d, int rounds) {
  const std::size_t w = d.width, f = d.ffnWidth;
  std::vector<std::pair<std::size_t, std::size_t>> shapes = {{w, d.melCount * 3}, {w, 3 * w}};
  for (std::size_t l = 0; l < d.encoderLayers; ++l) {
    shapes.insert(shapes.end(), {{3 * w, w}, {w, w}, {f, w}, {w, f}});
  }
  // Each matrix its own source, so the sources stream from memory as the encoder's weights do.
  std::vector<std::vector<std::uint16_t>> sources;
  for (const auto &[rows, cols] : shapes) {
    sources.emplace_back(rows * cols, 0x3c00);
  }
  std::vector<float> scratch(3 * w * std::max(w, f));
  double best = 1e30;
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    for (std::size_t i = 0; i < shapes.size(); ++i) {
      platform::runner::MatrixView view{nullptr, shapes[i].first, shapes[i].second};
      view.half[0] = sources[i].data();
      view.halfBlocks = 1;
      benchmark::DoNotOptimize(platform::runner::widenedMatrix(view, scratch.data()));
    }
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

// Register-only FMA loops: independent accumulators so the loop runs at the FMA units' rate.
// Each returns the floating-point operations it did.
__attribute__((target("avx512f"))) inline double fmaLoopAvx512(long rounds) {
  __m512 acc[16];
  for (int i = 0; i < 16; ++i) {
    acc[i] = _mm512_set1_ps(static_cast<float>(i));
  }
  const __m512 a = _mm512_set1_ps(0.999999f), b = _mm512_set1_ps(1e-7f);
  for (long r = 0; r < rounds; ++r) {
    for (int i = 0; i < 16; ++i) {
      acc[i] = _mm512_fmadd_ps(acc[i], a, b);
    }
  }
  __m512 sum = acc[0];
  for (int i = 1; i < 16; ++i) {
    sum = _mm512_add_ps(sum, acc[i]);
  }
  float lanes[16];
  _mm512_storeu_ps(lanes, sum);
  benchmark::DoNotOptimize(lanes[0]);
  return 2.0 * 16 * 16 * static_cast<double>(rounds);
}

__attribute__((target("avx2,fma"))) inline double fmaLoopAvx2(long rounds) {
  __m256 acc[12];
  for (int i = 0; i < 12; ++i) {
    acc[i] = _mm256_set1_ps(static_cast<float>(i));
  }
  const __m256 a = _mm256_set1_ps(0.999999f), b = _mm256_set1_ps(1e-7f);
  for (long r = 0; r < rounds; ++r) {
    for (int i = 0; i < 12; ++i) {
      acc[i] = _mm256_fmadd_ps(acc[i], a, b);
    }
  }
  __m256 sum = acc[0];
  for (int i = 1; i < 12; ++i) {
    sum = _mm256_add_ps(sum, acc[i]);
  }
  float lanes[8];
  _mm256_storeu_ps(lanes, sum);
  benchmark::DoNotOptimize(lanes[0]);
  return 2.0 * 8 * 12 * static_cast<double>(rounds);
}

// The machine's fp32 FMA peak in GFLOP/s with one loop per runner thread, all started together:
// the best of ten short rounds, as on a shared host a busy stretch can halve one round
// (seen: best of three rounds from 470 to 910 GFLOP/s on one machine, once below the encoder's
// own rate).
inline double fmaPeakGflops() {
  const bool avx512 = __builtin_cpu_supports("avx512f");
  const std::size_t threads = platform::runner::parallelThreadCount();
  double best = 0;
  for (int round = 0; round < 10; ++round) {
    std::atomic<std::size_t> ready{0};
    std::atomic<bool> go{false};
    std::vector<double> flops(threads, 0.0);
    std::vector<std::thread> workers;
    for (std::size_t t = 0; t < threads; ++t) {
      workers.emplace_back([&, t] {
        ready.fetch_add(1);
        while (!go.load()) {
        }
        flops[t] = avx512 ? fmaLoopAvx512(20'000'000) : fmaLoopAvx2(20'000'000);
      });
    }
    while (ready.load() < threads) {
    }
    const auto start = Clock::now();
    go = true;
    for (auto &worker : workers) {
      worker.join();
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    double total = 0;
    for (double f : flops) {
      total += f;
    }
    best = std::max(best, total / elapsed / 1e9);
  }
  return best;
}

} // namespace mqbench
