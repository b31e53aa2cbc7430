#pragma once

// The reductions of LogitsMath, written once over GCC's generic vectors and built for each x86-64
// level (LogitsMath.cpp for the baseline, LogitsMathAvx2.cpp, LogitsMathAvx512.cpp).
// Everything here has internal linkage and calls no inline library function, so a copy built for
// AVX-512 can never be the one the linker keeps for code that runs on a CPU without it. Include
// only there.
//
// Every level gives the same bits: the arithmetic is element by element, the wider builds are
// compiled without contracting multiplies and adds into fused ones, and the sum keeps one order
// of additions (eight running lanes, each adding its terms in index order) at every width.

#include "DivuvovIze/Decoding/Filters/LogitsMath.hpp"
#include "platform/ml/runner/kernels/ExpPolynomial.hpp"

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace divuvovize::logitsmath::bodies {
namespace {

// The sum's running lanes: element i is added to lane i % kSumLanes.
constexpr std::size_t kSumLanes = 8;
using SumLanes = float __attribute__((vector_size(kSumLanes * sizeof(float))));

constexpr float kInfinity = __builtin_inff();

// Generic vectors of `W` floats and of `W` 32-bit ints: 8 for the baseline (two registers) and
// AVX2, 16 for AVX-512. The helpers below take and return them by value; they are always inlined,
// so no call ever passes one (the baseline build silences the compiler's note on how it would).
template <std::size_t W> struct Lanes {
  typedef float Floats __attribute__((vector_size(W * sizeof(float))));
  typedef std::int32_t Ints __attribute__((vector_size(W * sizeof(float))));
};

#define MQ_ALWAYS_INLINE inline __attribute__((always_inline))

template <class Floats> MQ_ALWAYS_INLINE Floats broadcast(float value) { return Floats{} + value; }

template <class Floats> MQ_ALWAYS_INLINE Floats load(const float *x) {
  Floats v;
  __builtin_memcpy(&v, x, sizeof v);
  return v;
}

// x < low ? low : (x > high ? high : x), a NaN passing through. AVX2 builds take one max and one
// min instruction, whose operand order gives exactly that (the compiler leaves them as compares
// and blends, a fifth of the sum's time there); AVX-512 builds do as well with the compares.
template <class Floats> MQ_ALWAYS_INLINE Floats clampedTo(Floats x, Floats low, Floats high) {
#if defined(__AVX__)
  if constexpr (sizeof(Floats) == sizeof(__m256)) {
    return reinterpret_cast<Floats>(
        _mm256_min_ps(reinterpret_cast<__m256>(high),
                      _mm256_max_ps(reinterpret_cast<__m256>(low), reinterpret_cast<__m256>(x))));
  }
#endif
  return x < low ? low : (x > high ? high : x);
}

// exp(x) by range reduction to [-ln2/2, ln2/2] and a degree-7 polynomial; 0 below -87 (where
// the true value is under the smallest normal float) and +infinity above 88.
template <class Floats, class Ints> MQ_ALWAYS_INLINE Floats expApprox(Floats x) {
  const Floats low = broadcast<Floats>(-87.0f), high = broadcast<Floats>(88.0f);
  const Floats clamped = clampedTo(x, low, high);
  // clamped < 0 ? -0.5 : 0.5 as two bit operations; -0 and NaN take -0.5 here, which rounds them
  // to the same n.
  const Floats half = reinterpret_cast<Floats>(
      (reinterpret_cast<Ints>(clamped) & static_cast<std::int32_t>(0x80000000u)) |
      reinterpret_cast<Ints>(broadcast<Floats>(0.5f)));
  const Ints whole = __builtin_convertvector(clamped * 1.44269504f + half, Ints);
  const Floats n = __builtin_convertvector(whole, Floats);
  const Floats r = clamped - n * 0.693359375f + n * 2.12194440e-4f;
  const Floats p = platform::runner::expPolynomial(r);
  const Floats value = p * reinterpret_cast<Floats>((whole + 127) << 23);
  return x < low ? broadcast<Floats>(0.0f) : (x > high ? broadcast<Floats>(kInfinity) : value);
}

// The maxima run in several independent chains: one chain waits on each compare in turn.
constexpr std::size_t kChains = 4;

template <std::size_t W> float maxValueBody(const float *x, std::size_t count) {
  using Floats = typename Lanes<W>::Floats;
  Floats lanes[kChains];
  for (Floats &chain : lanes) {
    chain = broadcast<Floats>(-kInfinity);
  }
  std::size_t i = 0;
  for (; i + kChains * W <= count; i += kChains * W) {
    for (std::size_t c = 0; c < kChains; ++c) {
      const Floats v = load<Floats>(x + i + c * W);
      lanes[c] = v > lanes[c] ? v : lanes[c];
    }
  }
  for (; i + W <= count; i += W) {
    const Floats v = load<Floats>(x + i);
    lanes[0] = v > lanes[0] ? v : lanes[0];
  }
  float best = -kInfinity;
  for (; i < count; ++i) {
    best = x[i] > best ? x[i] : best;
  }
  for (const Floats &chain : lanes) {
    for (std::size_t k = 0; k < W; ++k) {
      best = chain[k] > best ? chain[k] : best;
    }
  }
  return best;
}

// Equal values compare as equal, so -0 and +0 tie and the earlier one is taken.
template <std::size_t W> MaxEntry maxEntryBody(const float *x, std::size_t count) {
  using Floats = typename Lanes<W>::Floats;
  using Ints = typename Lanes<W>::Ints;
  // Each lane of each chain keeps its first maximum and where it was; indices in 32 bits share
  // the values' vector lanes (logits counts are ints).
  Floats lanes[kChains];
  Ints places[kChains];
  Ints here{};
  for (std::size_t k = 0; k < W; ++k) {
    here[k] = static_cast<std::int32_t>(k);
  }
  for (std::size_t c = 0; c < kChains; ++c) {
    lanes[c] = broadcast<Floats>(-kInfinity);
    places[c] = Ints{};
  }
  auto take = [&](std::size_t c, std::size_t at) {
    const Floats v = load<Floats>(x + at);
    const Ints better = v > lanes[c];
    lanes[c] = better ? v : lanes[c];
    places[c] = better ? here + static_cast<std::int32_t>(at) : places[c];
  };
  std::size_t i = 0;
  for (; i + kChains * W <= count; i += kChains * W) {
    for (std::size_t c = 0; c < kChains; ++c) {
      take(c, i + c * W);
    }
  }
  for (; i + W <= count; i += W) {
    take(0, i);
  }
  // Strictly larger wins, as large and earlier too.
  float value = -kInfinity;
  std::size_t index = count;
  for (std::size_t c = 0; c < kChains; ++c) {
    for (std::size_t k = 0; k < W; ++k) {
      const auto place = static_cast<std::size_t>(places[c][k]);
      const float lane = lanes[c][k];
      if (lane > value || (lane == value && value != -kInfinity && place < index)) {
        value = lane;
        index = place;
      }
    }
  }
  // The tail lies after every block, so only a strictly larger element displaces the maximum.
  for (; i < count; ++i) {
    if (x[i] > value) {
      value = x[i];
      index = i;
    }
  }
  return MaxEntry{value, index};
}

// `kScaled` false skips the multiplication, which by 1 changes nothing.
template <std::size_t W, bool kScaled>
float sumExpOf(const float *x, std::size_t count, float scale, float shift) {
  static_assert(W == kSumLanes || W == 2 * kSumLanes);
  using Floats = typename Lanes<W>::Floats;
  using Ints = typename Lanes<W>::Ints;
  SumLanes lanes{};
  std::size_t i = 0;
  for (; i + W <= count; i += W) {
    const Floats v = load<Floats>(x + i);
    const Floats terms = expApprox<Floats, Ints>((kScaled ? v * scale : v) - shift);
    if constexpr (W == kSumLanes) {
      lanes += terms;
    } else {
      lanes += __builtin_shufflevector(terms, terms, 0, 1, 2, 3, 4, 5, 6, 7);
      lanes += __builtin_shufflevector(terms, terms, 8, 9, 10, 11, 12, 13, 14, 15);
    }
  }
  // The last few elements, padded to a whole vector: up to one more group of the lanes, then the
  // rest added one by one before the lanes.
  float sum = 0;
  if (i < count) {
    float rest[W] = {};
    for (std::size_t k = 0; i + k < count; ++k) {
      rest[k] = x[i + k];
    }
    const Floats terms = expApprox<Floats, Ints>(load<Floats>(rest) * scale - shift);
    std::size_t k = 0;
    if (count - i >= kSumLanes) {
      for (; k < kSumLanes; ++k) {
        lanes[k] += terms[k];
      }
    }
    for (; i + k < count; ++k) {
      sum += terms[k];
    }
  }
  for (std::size_t k = 0; k < kSumLanes; ++k) {
    sum += lanes[k];
  }
  return sum;
}

template <std::size_t W>
float sumExpBody(const float *x, std::size_t count, float scale, float shift) {
  return scale == 1.0f ? sumExpOf<W, false>(x, count, scale, shift)
                       : sumExpOf<W, true>(x, count, scale, shift);
}

#undef MQ_ALWAYS_INLINE

} // namespace
} // namespace divuvovize::logitsmath::bodies
