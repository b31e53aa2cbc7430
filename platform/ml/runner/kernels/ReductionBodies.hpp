#pragma once

// The exponential and the reductions over runs of floats (maximum, first maximum, sum of
// exponentials), written once over the vector types of SimdScalar.hpp, SimdAvx2.hpp and
// SimdAvx512.hpp and built for each instruction set by VectorOps.cpp, VectorOpsAvx2.cpp and
// VectorOpsAvx512.cpp. Everything here has internal linkage and calls no inline library function,
// so a copy built for AVX-512 can never be the one the linker keeps for code that runs on a CPU
// without it. Include only there.
//
// Every instruction set gives the same bits: the arithmetic is element by element, no build
// contracts multiplies and adds into fused ones, and each reduction keeps one order at every
// width (the sum: sixteen running lanes, element i added to lane i % 16 in index order, the tail
// after the last whole group added one by one before the lanes).

#include "platform/ml/VectorKernels.hpp"
#include "platform/ml/runner/kernels/SimdScalar.hpp"

#include <cstddef>
#include <cstdint>

namespace platform::runner::bodies {
namespace {

constexpr float kInfinity = __builtin_inff();

// e^r for |r| <= ln 2 / 2, the reduced argument of an exponential, by a degree-7 polynomial.
template <class T> [[gnu::always_inline]] inline T expPolynomial(T r) {
  T p = T{} + 1.9875691500e-4f;
  p = p * r + 1.3981999507e-3f;
  p = p * r + 8.3334519073e-3f;
  p = p * r + 4.1665795894e-2f;
  p = p * r + 1.6666665459e-1f;
  p = p * r + 5.0000001201e-1f;
  return p * r * r + r + 1.0f;
}

// exp(x) = 2^n * exp(r) with n = round(x / ln 2) (to even) and |r| <= ln 2 / 2, within a few
// units in the last place; 0 below -87 (where the true value is under the smallest normal float),
// +infinity above 88, NaN for NaN. Branch-free.
template <class V> [[gnu::always_inline]] inline typename V::Vector exp(typename V::Vector x) {
  using Vector = typename V::Vector;
  constexpr float kLog2e = 1.44269504088896341f;
  constexpr float kLn2High = 0.693359375f;
  constexpr float kLn2Low = -2.12194440e-4f;
  constexpr float kRound = 12582912.0f; // 1.5 * 2^23: adding it rounds to an integer
  const Vector low = V::broadcast(-87.0f), high = V::broadcast(88.0f);
  const Vector clamped = V::clamp(x, low, high);
  const Vector n = (clamped * kLog2e + kRound) - kRound;
  const Vector r = clamped - n * kLn2High - n * kLn2Low;
  const Vector p = expPolynomial(r);
  const Vector scale = __builtin_bit_cast(Vector, (V::toInts(n) + 127) << 23);
  return x < low ? V::broadcast(0.0f) : (high < x ? V::broadcast(kInfinity) : p * scale);
}

// The maxima run in several independent chains: one chain waits on each compare in turn.
constexpr std::size_t kChains = 4;

template <class V> float maxValue(const float *x, std::size_t count) {
  using Vector = typename V::Vector;
  constexpr std::size_t W = V::kWidth;
  Vector lanes[kChains];
  for (Vector &chain : lanes) {
    chain = V::broadcast(-kInfinity);
  }
  std::size_t i = 0;
  for (; i + kChains * W <= count; i += kChains * W) {
    for (std::size_t c = 0; c < kChains; ++c) {
      const Vector v = V::load(x + i + c * W);
      lanes[c] = v > lanes[c] ? v : lanes[c];
    }
  }
  for (; i + W <= count; i += W) {
    const Vector v = V::load(x + i);
    lanes[0] = v > lanes[0] ? v : lanes[0];
  }
  float best = -kInfinity;
  for (; i < count; ++i) {
    best = x[i] > best ? x[i] : best;
  }
  for (const Vector &chain : lanes) {
    for (std::size_t k = 0; k < W; ++k) {
      best = chain[k] > best ? chain[k] : best;
    }
  }
  return best;
}

// Equal values compare as equal, so -0 and +0 tie and the earlier one is taken.
template <class V> MaxEntry maxEntry(const float *x, std::size_t count) {
  using Vector = typename V::Vector;
  using Ints = typename V::Ints;
  constexpr std::size_t W = V::kWidth;
  // Each lane of each chain keeps its first maximum and where it was; indices in 32 bits share
  // the values' vector lanes (logits counts are ints).
  Vector lanes[kChains];
  Ints places[kChains];
  Ints here{};
  for (std::size_t k = 0; k < W; ++k) {
    here[k] = static_cast<std::int32_t>(k);
  }
  for (std::size_t c = 0; c < kChains; ++c) {
    lanes[c] = V::broadcast(-kInfinity);
    places[c] = Ints{};
  }
  auto take = [&](std::size_t c, std::size_t at) {
    const Vector v = V::load(x + at);
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

// The sum's running lanes.
constexpr std::size_t kSumLanes = 16;

// Sum of exp(x[i] * scale - shift) (`kScaled` false skips the multiplication, which by 1 changes
// nothing); with `kStored` each term is also written to out[i] (which may be x).
template <class V, bool kScaled, bool kStored>
float expSumOf(const float *x, std::size_t count, float scale, float shift, float *out) {
  using Vector = typename V::Vector;
  constexpr std::size_t W = V::kWidth;
  static_assert(kSumLanes % W == 0);
  Vector lanes[kSumLanes / W];
  for (Vector &lane : lanes) {
    lane = V::broadcast(0.0f);
  }
  std::size_t i = 0;
  for (; i + kSumLanes <= count; i += kSumLanes) {
    for (std::size_t k = 0; k < kSumLanes / W; ++k) {
      const Vector v = V::load(x + i + k * W);
      const Vector term = exp<V>((kScaled ? v * scale : v) - shift);
      if constexpr (kStored) {
        V::store(out + i + k * W, term);
      }
      lanes[k] += term;
    }
  }
  float sum = 0.0f;
  for (; i < count; ++i) {
    const float term = exp<Scalar>((kScaled ? x[i] * scale : x[i]) - shift);
    if constexpr (kStored) {
      out[i] = term;
    }
    sum += term;
  }
  for (const Vector &lane : lanes) {
    for (std::size_t k = 0; k < W; ++k) {
      sum += lane[k];
    }
  }
  return sum;
}

template <class V> float sumExp(const float *x, std::size_t count, float scale, float shift) {
  return scale == 1.0f ? expSumOf<V, false, false>(x, count, scale, shift, nullptr)
                       : expSumOf<V, true, false>(x, count, scale, shift, nullptr);
}

// Replaces x with exp(x - max(x)) and returns the new values' sum.
template <class V> float expShiftedInPlace(float *x, std::size_t count) {
  if (count == 0) {
    return 0.0f;
  }
  return expSumOf<V, false, true>(x, count, 1.0f, maxValue<V>(x, count), x);
}

} // namespace
} // namespace platform::runner::bodies
