// Compiled with -mf16c -mavx2 -mfma (see the runner's CMakeLists.txt). Include nothing that
// instantiates inline library code here: such code would be built for AVX2 and could be picked
// by the linker for callers on CPUs without it.

#include "platform/ml/runner/kernels/HalfKernelsSimd.hpp"

#if defined(__AVX2__) && defined(__F16C__) && defined(__FMA__)

#include <immintrin.h>

namespace platform::runner::simd {
namespace {

inline __m256 load8(const std::uint16_t *p) {
  return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

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

inline float sum8(__m256 v) {
  const __m128 folded = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
  const __m128 pairs = _mm_add_ps(folded, _mm_movehl_ps(folded, folded));
  return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_movehdup_ps(pairs)));
}

// One row, asking for the lines 8 KiB past the one it reads as it goes: rows that follow each other
// then stream ahead of their use.
float dotRow(const std::uint16_t *a, const float *x, std::size_t n) {
  constexpr std::size_t kAhead = 4096; // elements: 8 KiB
  __m256 acc0 = _mm256_setzero_ps(), acc1 = _mm256_setzero_ps();
  __m256 acc2 = _mm256_setzero_ps(), acc3 = _mm256_setzero_ps();
  std::size_t c = 0;
  for (; c + 32 <= n; c += 32) {
    prefetch(a, kAhead + c);
    acc0 = _mm256_fmadd_ps(load8(a + c), _mm256_loadu_ps(x + c), acc0);
    acc1 = _mm256_fmadd_ps(load8(a + c + 8), _mm256_loadu_ps(x + c + 8), acc1);
    acc2 = _mm256_fmadd_ps(load8(a + c + 16), _mm256_loadu_ps(x + c + 16), acc2);
    acc3 = _mm256_fmadd_ps(load8(a + c + 24), _mm256_loadu_ps(x + c + 24), acc3);
  }
  for (; c + 8 <= n; c += 8) {
    acc0 = _mm256_fmadd_ps(load8(a + c), _mm256_loadu_ps(x + c), acc0);
  }
  float sum = sum8(_mm256_add_ps(_mm256_add_ps(acc0, acc1), _mm256_add_ps(acc2, acc3)));
  for (; c < n; ++c) {
    sum += widen1(a[c]) * x[c];
  }
  return sum;
}

// Rows that follow each other in memory, one at a time, so the matrix is read as one front-to-back
// stream (as on the AVX-512 path, where it measured markedly faster than four rows side by side),
// with the lines 8 KiB ahead asked for as each is reached.
void dotRowsInSequence(const std::uint16_t *a, std::size_t rows, std::size_t n, const float *x,
                       float *y) {
  for (std::size_t r = 0; r < rows; ++r) {
    y[r] = dotRow(a + r * n, x, n);
  }
}

// Four consecutive rows at once: each x load serves four rows, and two accumulators per row keep
// eight independent sums in flight.
void dotFourRows(const std::uint16_t *a, std::size_t lda, const float *x, std::size_t n, float *y) {
  const std::uint16_t *a0 = a;
  const std::uint16_t *a1 = a0 + lda;
  const std::uint16_t *a2 = a1 + lda;
  const std::uint16_t *a3 = a2 + lda;
  __m256 s0 = _mm256_setzero_ps(), s1 = _mm256_setzero_ps();
  __m256 s2 = _mm256_setzero_ps(), s3 = _mm256_setzero_ps();
  __m256 t0 = _mm256_setzero_ps(), t1 = _mm256_setzero_ps();
  __m256 t2 = _mm256_setzero_ps(), t3 = _mm256_setzero_ps();
  std::size_t c = 0;
  // Each pass reads one cache line of every row: prefetch the same of rows about 8 KiB ahead
  // (measured best on the decoder's 512-column matrices; at least the next four rows).
  const std::size_t ahead = (lda != 0 && lda < 1024 ? 4096 / lda : 4) * lda;
  for (; c + 16 <= n; c += 16) {
    prefetch(a0, ahead + c);
    prefetch(a1, ahead + c);
    prefetch(a2, ahead + c);
    prefetch(a3, ahead + c);
    const __m256 x0 = _mm256_loadu_ps(x + c);
    const __m256 x1 = _mm256_loadu_ps(x + c + 8);
    s0 = _mm256_fmadd_ps(load8(a0 + c), x0, s0);
    s1 = _mm256_fmadd_ps(load8(a1 + c), x0, s1);
    s2 = _mm256_fmadd_ps(load8(a2 + c), x0, s2);
    s3 = _mm256_fmadd_ps(load8(a3 + c), x0, s3);
    t0 = _mm256_fmadd_ps(load8(a0 + c + 8), x1, t0);
    t1 = _mm256_fmadd_ps(load8(a1 + c + 8), x1, t1);
    t2 = _mm256_fmadd_ps(load8(a2 + c + 8), x1, t2);
    t3 = _mm256_fmadd_ps(load8(a3 + c + 8), x1, t3);
  }
  for (; c + 8 <= n; c += 8) {
    const __m256 x0 = _mm256_loadu_ps(x + c);
    s0 = _mm256_fmadd_ps(load8(a0 + c), x0, s0);
    s1 = _mm256_fmadd_ps(load8(a1 + c), x0, s1);
    s2 = _mm256_fmadd_ps(load8(a2 + c), x0, s2);
    s3 = _mm256_fmadd_ps(load8(a3 + c), x0, s3);
  }
  float y0 = sum8(_mm256_add_ps(s0, t0)), y1 = sum8(_mm256_add_ps(s1, t1));
  float y2 = sum8(_mm256_add_ps(s2, t2)), y3 = sum8(_mm256_add_ps(s3, t3));
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

} // namespace

void halfDotRowsAvx2(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                     const float *x, float *y) {
  if (lda == cols && cols >= 32) {
    dotRowsInSequence(a, rows, cols, x, y);
    return;
  }
  std::size_t r = 0;
  for (; r + 4 <= rows; r += 4) {
    dotFourRows(a + r * lda, lda, x, cols, y + r);
  }
  for (; r < rows; ++r) {
    y[r] = dotRow(a + r * lda, x, cols);
  }
}

void halfDotColumnsAvx2(const std::uint16_t *a, std::size_t rows, std::size_t cols, std::size_t lda,
                        const float *x, float *y) {
  std::size_t c = 0;
  for (; c + 8 <= cols; c += 8) {
    _mm256_storeu_ps(y + c, _mm256_setzero_ps());
  }
  for (; c < cols; ++c) {
    y[c] = 0.0f;
  }
  std::size_t r = 0;
  if (lda == cols) {
    // Rows that follow each other one at a time, for the reason given at dotRowsInSequence.
    constexpr std::size_t kAhead = 4096;
    for (; r < rows; ++r) {
      const std::uint16_t *row = a + r * lda;
      const __m256 xr = _mm256_set1_ps(x[r]);
      for (c = 0; c + 32 <= cols; c += 32) {
        prefetch(row, kAhead + c);
        for (std::size_t k = 0; k < 32; k += 8) {
          _mm256_storeu_ps(y + c + k,
                           _mm256_fmadd_ps(load8(row + c + k), xr, _mm256_loadu_ps(y + c + k)));
        }
      }
      for (; c + 8 <= cols; c += 8) {
        _mm256_storeu_ps(y + c, _mm256_fmadd_ps(load8(row + c), xr, _mm256_loadu_ps(y + c)));
      }
      for (; c < cols; ++c) {
        y[c] += x[r] * widen1(row[c]);
      }
    }
    return;
  }
  for (; r + 4 <= rows; r += 4) {
    const std::uint16_t *a0 = a + r * lda;
    const std::uint16_t *a1 = a0 + lda;
    const std::uint16_t *a2 = a1 + lda;
    const std::uint16_t *a3 = a2 + lda;
    const __m256 x0 = _mm256_set1_ps(x[r]), x1 = _mm256_set1_ps(x[r + 1]);
    const __m256 x2 = _mm256_set1_ps(x[r + 2]), x3 = _mm256_set1_ps(x[r + 3]);
    for (c = 0; c + 8 <= cols; c += 8) {
      if (c % 32 == 0) {
        prefetch(a0, 4 * lda + c);
        prefetch(a1, 4 * lda + c);
        prefetch(a2, 4 * lda + c);
        prefetch(a3, 4 * lda + c);
      }
      const __m256 p = _mm256_fmadd_ps(load8(a1 + c), x1, _mm256_mul_ps(load8(a0 + c), x0));
      const __m256 q = _mm256_fmadd_ps(load8(a3 + c), x3, _mm256_mul_ps(load8(a2 + c), x2));
      _mm256_storeu_ps(y + c, _mm256_add_ps(_mm256_loadu_ps(y + c), _mm256_add_ps(p, q)));
    }
    for (; c < cols; ++c) {
      y[c] += (x[r] * widen1(a0[c]) + x[r + 1] * widen1(a1[c])) +
              (x[r + 2] * widen1(a2[c]) + x[r + 3] * widen1(a3[c]));
    }
  }
  for (; r < rows; ++r) {
    const std::uint16_t *row = a + r * lda;
    const __m256 xr = _mm256_set1_ps(x[r]);
    for (c = 0; c + 8 <= cols; c += 8) {
      _mm256_storeu_ps(y + c, _mm256_fmadd_ps(load8(row + c), xr, _mm256_loadu_ps(y + c)));
    }
    for (; c < cols; ++c) {
      y[c] += x[r] * widen1(row[c]);
    }
  }
}

void narrowToHalfAvx2(const float *source, std::uint16_t *destination, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(destination + i),
                     _mm256_cvtps_ph(_mm256_loadu_ps(source + i),
                                     _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
  }
  for (; i < count; ++i) {
    destination[i] = _cvtss_sh(source[i], _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  }
}

void widenHalfAvx2(const std::uint16_t *source, float *destination, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    _mm256_storeu_ps(destination + i, load8(source + i));
  }
  for (; i < count; ++i) {
    destination[i] = widen1(source[i]);
  }
}

void addHalfAvx2(float *y, const std::uint16_t *x, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    _mm256_storeu_ps(y + i, _mm256_add_ps(_mm256_loadu_ps(y + i), load8(x + i)));
  }
  for (; i < count; ++i) {
    y[i] += widen1(x[i]);
  }
}

} // namespace platform::runner::simd

#endif
