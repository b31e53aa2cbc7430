#pragma once

// The float16 kernels' bodies, written once over the vector types of SimdAvx2.hpp and
// SimdAvx512.hpp (with their float16 and fused operations) and built for each instruction set by
// HalfKernelsAvx2.cpp and HalfKernelsAvx512.cpp. Their fused multiply-adds are asked for, not
// left to the compiler: these sums are not bound to the portable build's bits.
// Everything here has internal linkage and uses only intrinsics, which are always inlined, so a
// copy built for AVX-512 can never be the one the linker keeps for code that runs on a CPU
// without it. Include only there.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace platform::runner::halfbodies {
namespace {

inline float widen1(std::uint16_t bits) { return _cvtsh_ss(bits); }

// Asks for the cache line `offset` elements past `base` ahead of its use. The hardware prefetchers
// alone leave much of the memory bandwidth unused on these short row streams (measured: a 97 MB
// matrix-vector product on two cores took 2.5 ms without and 1.6 ms with one block of four rows
// prefetched ahead). Into the second-level cache only: prefetches into the first level hold the
// few first-level miss buffers the loads themselves need (measured on one Zen 5 core: a float16
// product streamed 13 GB/s with first-level prefetches, 17 to 18 GB/s with second-level ones).
// Prefetching never faults, so the address may lie past the matrix.
inline void prefetch(const std::uint16_t *base, std::size_t offset) {
  _mm_prefetch(reinterpret_cast<const char *>(reinterpret_cast<std::uintptr_t>(base) + 2 * offset),
               _MM_HINT_T1);
}

// Elements of float16 in one 64-byte cache line.
constexpr std::size_t kLineElements = 32;
// How far ahead a row stream asks for its lines: 8 KiB.
constexpr std::size_t kAhead = 4096;

// One row, asking for the lines 8 KiB past the ones it reads as it goes: rows that follow each
// other then stream ahead of their use. Four accumulators keep four sums in flight.
template <class V> float dotRow(const std::uint16_t *a, const float *x, std::size_t n) {
  constexpr std::size_t W = V::kWidth;
  auto acc0 = V::zero(), acc1 = V::zero(), acc2 = V::zero(), acc3 = V::zero();
  std::size_t c = 0;
  for (; c + 4 * W <= n; c += 4 * W) {
    for (std::size_t line = 0; line < 4 * W; line += kLineElements) {
      prefetch(a, kAhead + c + line);
    }
    acc0 = V::fmadd(V::loadHalf(a + c), V::load(x + c), acc0);
    acc1 = V::fmadd(V::loadHalf(a + c + W), V::load(x + c + W), acc1);
    acc2 = V::fmadd(V::loadHalf(a + c + 2 * W), V::load(x + c + 2 * W), acc2);
    acc3 = V::fmadd(V::loadHalf(a + c + 3 * W), V::load(x + c + 3 * W), acc3);
  }
  for (; c + W <= n; c += W) {
    acc0 = V::fmadd(V::loadHalf(a + c), V::load(x + c), acc0);
  }
  float sum = V::sum(V::add(V::add(acc0, acc1), V::add(acc2, acc3)));
  for (; c < n; ++c) {
    sum += widen1(a[c]) * x[c];
  }
  return sum;
}

// Rows that follow each other in memory, one at a time: the matrix is then read as a single
// front-to-back stream, which the memory system serves markedly faster than several rows read side
// by side (measured on two cores with AVX-512: a 97 MB product in 1.3 ms this way, 1.8 to 2.0 ms
// four rows at a time). The lines 8 KiB ahead are asked for as each is reached.
template <class V>
void dotRowsInSequence(const std::uint16_t *a, std::size_t rows, std::size_t n, const float *x,
                       float *y) {
  for (std::size_t r = 0; r < rows; ++r) {
    y[r] = dotRow<V>(a + r * n, x, n);
  }
}

// Four consecutive rows at once: each x load serves four rows, and two accumulators per row keep
// eight independent sums in flight.
template <class V>
void dotFourRows(const std::uint16_t *a, std::size_t lda, const float *x, std::size_t n, float *y) {
  constexpr std::size_t W = V::kWidth;
  const std::uint16_t *a0 = a;
  const std::uint16_t *a1 = a0 + lda;
  const std::uint16_t *a2 = a1 + lda;
  const std::uint16_t *a3 = a2 + lda;
  auto s0 = V::zero(), s1 = V::zero(), s2 = V::zero(), s3 = V::zero();
  auto t0 = V::zero(), t1 = V::zero(), t2 = V::zero(), t3 = V::zero();
  std::size_t c = 0;
  // Each pass reads up to one cache line of every row: prefetch the same of rows about 8 KiB
  // ahead (measured best on the decoder's 512-column matrices; at least the next four rows).
  const std::size_t ahead = (lda != 0 && lda < 1024 ? kAhead / lda : 4) * lda;
  for (; c + 2 * W <= n; c += 2 * W) {
    prefetch(a0, ahead + c);
    prefetch(a1, ahead + c);
    prefetch(a2, ahead + c);
    prefetch(a3, ahead + c);
    const auto x0 = V::load(x + c);
    const auto x1 = V::load(x + c + W);
    s0 = V::fmadd(V::loadHalf(a0 + c), x0, s0);
    s1 = V::fmadd(V::loadHalf(a1 + c), x0, s1);
    s2 = V::fmadd(V::loadHalf(a2 + c), x0, s2);
    s3 = V::fmadd(V::loadHalf(a3 + c), x0, s3);
    t0 = V::fmadd(V::loadHalf(a0 + c + W), x1, t0);
    t1 = V::fmadd(V::loadHalf(a1 + c + W), x1, t1);
    t2 = V::fmadd(V::loadHalf(a2 + c + W), x1, t2);
    t3 = V::fmadd(V::loadHalf(a3 + c + W), x1, t3);
  }
  for (; c + W <= n; c += W) {
    const auto x0 = V::load(x + c);
    s0 = V::fmadd(V::loadHalf(a0 + c), x0, s0);
    s1 = V::fmadd(V::loadHalf(a1 + c), x0, s1);
    s2 = V::fmadd(V::loadHalf(a2 + c), x0, s2);
    s3 = V::fmadd(V::loadHalf(a3 + c), x0, s3);
  }
  float y0 = V::sum(V::add(s0, t0)), y1 = V::sum(V::add(s1, t1));
  float y2 = V::sum(V::add(s2, t2)), y3 = V::sum(V::add(s3, t3));
  for (; c < n; ++c) {
    y0 += widen1(a0[c]) * x[c];
    y1 += widen1(a1[c]) * x[c];
    y2 += widen1(a2[c]) * x[c];
    y3 += widen1(a3[c]) * x[c];
  }
  y[0] = y0;
  y[1] = y1;
  y[2] = y2;
  y[3] = y3;
}

template <class V>
void halfDotRows(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                 const float *x, float *y) {
  if (lda == cols && cols >= 4 * V::kWidth) {
    dotRowsInSequence<V>(a, rows, cols, x, y);
    return;
  }
  std::size_t r = 0;
  for (; r + 4 <= rows; r += 4) {
    dotFourRows<V>(a + r * lda, lda, x, cols, y + r);
  }
  for (; r < rows; ++r) {
    y[r] = dotRow<V>(a + r * lda, x, cols);
  }
}

// y += x[r] * row r, one row at a time, for rows that follow each other (see dotRowsInSequence).
template <class V>
void addScaledRowsInSequence(const std::uint16_t *a, std::size_t rows, std::size_t cols,
                             const float *x, float *y) {
  constexpr std::size_t W = V::kWidth;
  for (std::size_t r = 0; r < rows; ++r) {
    const std::uint16_t *row = a + r * cols;
    const auto xr = V::broadcast(x[r]);
    std::size_t c = 0;
    for (; c + kLineElements <= cols; c += kLineElements) {
      prefetch(row, kAhead + c);
      for (std::size_t k = 0; k < kLineElements; k += W) {
        V::store(y + c + k, V::fmadd(V::loadHalf(row + c + k), xr, V::load(y + c + k)));
      }
    }
    for (; c + W <= cols; c += W) {
      V::store(y + c, V::fmadd(V::loadHalf(row + c), xr, V::load(y + c)));
    }
    for (; c < cols; ++c) {
      y[c] += x[r] * widen1(row[c]);
    }
  }
}

template <class V>
void halfDotColumns(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                    const float *x, float *y) {
  constexpr std::size_t W = V::kWidth;
  std::size_t c = 0;
  for (; c + W <= cols; c += W) {
    V::store(y + c, V::zero());
  }
  for (; c < cols; ++c) {
    y[c] = 0.0f;
  }
  if (lda == cols) {
    addScaledRowsInSequence<V>(a, rows, cols, x, y);
    return;
  }
  std::size_t r = 0;
  for (; r + 4 <= rows; r += 4) {
    const std::uint16_t *a0 = a + r * lda;
    const std::uint16_t *a1 = a0 + lda;
    const std::uint16_t *a2 = a1 + lda;
    const std::uint16_t *a3 = a2 + lda;
    const auto x0 = V::broadcast(x[r]), x1 = V::broadcast(x[r + 1]);
    const auto x2 = V::broadcast(x[r + 2]), x3 = V::broadcast(x[r + 3]);
    for (c = 0; c + W <= cols; c += W) {
      if (c % kLineElements == 0) {
        prefetch(a0, 4 * lda + c);
        prefetch(a1, 4 * lda + c);
        prefetch(a2, 4 * lda + c);
        prefetch(a3, 4 * lda + c);
      }
      const auto p = V::fmadd(V::loadHalf(a1 + c), x1, V::mul(V::loadHalf(a0 + c), x0));
      const auto q = V::fmadd(V::loadHalf(a3 + c), x3, V::mul(V::loadHalf(a2 + c), x2));
      V::store(y + c, V::add(V::load(y + c), V::add(p, q)));
    }
    for (; c < cols; ++c) {
      y[c] += (x[r] * widen1(a0[c]) + x[r + 1] * widen1(a1[c])) +
              (x[r + 2] * widen1(a2[c]) + x[r + 3] * widen1(a3[c]));
    }
  }
  for (; r < rows; ++r) {
    const std::uint16_t *row = a + r * lda;
    const auto xr = V::broadcast(x[r]);
    for (c = 0; c + W <= cols; c += W) {
      V::store(y + c, V::fmadd(V::loadHalf(row + c), xr, V::load(y + c)));
    }
    for (; c < cols; ++c) {
      y[c] += x[r] * widen1(row[c]);
    }
  }
}

template <class V>
void narrowToHalf(const float *source, std::uint16_t *destination, std::size_t count) {
  std::size_t i = 0;
  for (; i + V::kWidth <= count; i += V::kWidth) {
    V::storeHalf(destination + i, V::load(source + i));
  }
  for (; i < count; ++i) {
    destination[i] = _cvtss_sh(source[i], _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  }
}

template <class V>
void widenHalf(const std::uint16_t *source, float *destination, std::size_t count) {
  std::size_t i = 0;
  for (; i + V::kWidth <= count; i += V::kWidth) {
    V::store(destination + i, V::loadHalf(source + i));
  }
  for (; i < count; ++i) {
    destination[i] = widen1(source[i]);
  }
}

template <class V> void addHalf(float *y, const std::uint16_t *x, std::size_t count) {
  std::size_t i = 0;
  for (; i + V::kWidth <= count; i += V::kWidth) {
    V::store(y + i, V::add(V::load(y + i), V::loadHalf(x + i)));
  }
  for (; i < count; ++i) {
    y[i] += widen1(x[i]);
  }
}

} // namespace
} // namespace platform::runner::halfbodies

// Defines, in the including namespace, the entry points HalfKernelsSimd.hpp declares for the
// instruction set `Suffix`, over the vector type `V`.
#define MQ_HALF_KERNEL_ENTRY_POINTS(V, Suffix)                                                     \
  void halfDotRows##Suffix(const std::uint16_t *a, std::size_t rows, std::size_t cols,             \
                           std::size_t lda, const float *x, float *y) {                            \
    halfbodies::halfDotRows<V>(a, rows, cols, lda, x, y);                                          \
  }                                                                                                \
  void halfDotColumns##Suffix(const std::uint16_t *a, std::size_t rows, std::size_t cols,          \
                              std::size_t lda, const float *x, float *y) {                         \
    halfbodies::halfDotColumns<V>(a, rows, cols, lda, x, y);                                       \
  }                                                                                                \
  void narrowToHalf##Suffix(const float *source, std::uint16_t *destination, std::size_t count) {  \
    halfbodies::narrowToHalf<V>(source, destination, count);                                       \
  }                                                                                                \
  void widenHalf##Suffix(const std::uint16_t *source, float *destination, std::size_t count) {     \
    halfbodies::widenHalf<V>(source, destination, count);                                          \
  }                                                                                                \
  void addHalf##Suffix(float *y, const std::uint16_t *x, std::size_t count) {                      \
    halfbodies::addHalf<V>(y, x, count);                                                           \
  }
