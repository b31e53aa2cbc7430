#include "platform/ml/runner/kernels/HalfKernels.hpp"

#include "platform/ml/runner/kernels/Half.hpp"
#include "platform/ml/runner/kernels/HalfKernelsSimd.hpp"

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>

namespace platform::runner {
namespace {

// The portable bodies widen through the 64 Ki-entry table; four lanes keep the sums independent
// so the compiler can interleave them.
void halfDotRowsPortable(const std::uint16_t *a, std::size_t rows, std::size_t cols,
                         std::size_t lda, const float *x, float *y) {
  const float *table = halfToFloatTable();
  for (std::size_t r = 0; r < rows; ++r) {
    const std::uint16_t *row = a + r * lda;
    float lanes[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    std::size_t c = 0;
    for (; c + 4 <= cols; c += 4) {
      for (std::size_t j = 0; j < 4; ++j) {
        lanes[j] += table[row[c + j]] * x[c + j];
      }
    }
    float sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    for (; c < cols; ++c) {
      sum += table[row[c]] * x[c];
    }
    y[r] = sum;
  }
}

void widenHalfPortable(const std::uint16_t *source, float *destination, std::size_t count) {
  halfToFloat(source, destination, count);
}

void addHalfPortable(float *y, const std::uint16_t *x, std::size_t count) {
  const float *table = halfToFloatTable();
  for (std::size_t i = 0; i < count; ++i) {
    y[i] += table[x[i]];
  }
}

// Four rows per pass: y is loaded and stored once for four rows' products.
void halfDotColumnsPortable(const std::uint16_t *a, std::size_t rows, std::size_t cols,
                            std::size_t lda, const float *x, float *y) {
  const float *table = halfToFloatTable();
  std::fill(y, y + cols, 0.0f);
  std::size_t r = 0;
  for (; r + 4 <= rows; r += 4) {
    const std::uint16_t *a0 = a + r * lda;
    const std::uint16_t *a1 = a0 + lda;
    const std::uint16_t *a2 = a1 + lda;
    const std::uint16_t *a3 = a2 + lda;
    const float x0 = x[r], x1 = x[r + 1], x2 = x[r + 2], x3 = x[r + 3];
    for (std::size_t c = 0; c < cols; ++c) {
      y[c] += (x0 * table[a0[c]] + x1 * table[a1[c]]) + (x2 * table[a2[c]] + x3 * table[a3[c]]);
    }
  }
  for (; r < rows; ++r) {
    const std::uint16_t *row = a + r * lda;
    for (std::size_t c = 0; c < cols; ++c) {
      y[c] += x[r] * table[row[c]];
    }
  }
}

void narrowToHalfPortable(const float *source, std::uint16_t *destination, std::size_t count) {
  floatToHalf(source, destination, count);
}

struct Kernels {
  decltype(&halfDotRowsPortable) dotRows;
  decltype(&widenHalfPortable) widen;
  decltype(&addHalfPortable) add;
  decltype(&halfDotColumnsPortable) dotColumns;
  decltype(&narrowToHalfPortable) narrow;
};

Kernels kernelsFor(HalfKernelPath path) {
#if defined(__x86_64__)
  switch (path) {
  case HalfKernelPath::avx512:
    return {simd::halfDotRowsAvx512, simd::widenHalfAvx512, simd::addHalfAvx512,
            simd::halfDotColumnsAvx512, simd::narrowToHalfAvx512};
  case HalfKernelPath::avx2:
    return {simd::halfDotRowsAvx2, simd::widenHalfAvx2, simd::addHalfAvx2, simd::halfDotColumnsAvx2,
            simd::narrowToHalfAvx2};
  case HalfKernelPath::portable:
    break;
  }
#else
  (void)path;
#endif
  return {halfDotRowsPortable, widenHalfPortable, addHalfPortable, halfDotColumnsPortable,
          narrowToHalfPortable};
}

HalfKernelPath bestPath() {
  for (auto path : {HalfKernelPath::avx512, HalfKernelPath::avx2}) {
    if (halfKernelPathAvailable(path)) {
      return path;
    }
  }
  return HalfKernelPath::portable;
}

// The chosen path; read on every call, so a relaxed load of one word.
std::atomic<HalfKernelPath> &chosen() {
  static std::atomic<HalfKernelPath> path{bestPath()};
  return path;
}

Kernels current() { return kernelsFor(chosen().load(std::memory_order_relaxed)); }

} // namespace

std::string_view halfKernelPathName(HalfKernelPath path) {
  switch (path) {
  case HalfKernelPath::avx512:
    return "avx512";
  case HalfKernelPath::avx2:
    return "avx2";
  case HalfKernelPath::portable:
    break;
  }
  return "portable";
}

bool halfKernelPathAvailable(HalfKernelPath path) {
  switch (path) {
  case HalfKernelPath::portable:
    return true;
#if defined(__x86_64__)
  case HalfKernelPath::avx2:
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
           __builtin_cpu_supports("f16c");
  case HalfKernelPath::avx512:
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("fma") &&
           __builtin_cpu_supports("f16c");
#else
  default:
    return false;
#endif
  }
  return false;
}

HalfKernelPath halfKernelPath() { return chosen().load(std::memory_order_relaxed); }

void forceHalfKernelPath(HalfKernelPath path) {
  if (!halfKernelPathAvailable(path)) {
    throw std::invalid_argument("float16 kernel path " + std::string(halfKernelPathName(path)) +
                                " is not available on this CPU");
  }
  chosen().store(path, std::memory_order_relaxed);
}

void resetHalfKernelPath() { chosen().store(bestPath(), std::memory_order_relaxed); }

void halfDotRows(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                 const float *x, float *y) {
  current().dotRows(a, rows, cols, lda, x, y);
}

void widenHalf(const std::uint16_t *source, float *destination, std::size_t count) {
  current().widen(source, destination, count);
}

void addHalf(float *y, const std::uint16_t *x, std::size_t count) { current().add(y, x, count); }

void halfDotColumns(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                    const float *x, float *y) {
  current().dotColumns(a, rows, cols, lda, x, y);
}

void narrowToHalf(const float *source, std::uint16_t *destination, std::size_t count) {
  current().narrow(source, destination, count);
}

} // namespace platform::runner
