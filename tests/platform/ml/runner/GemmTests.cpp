// The encoder's matrix product on every path this CPU offers (the BLAS library being the one every
// CPU has), against a float64 product: odd sizes around the panel and pass edges, float32 B stored
// either way and float16 B in blocks, strides wider than the rows, alpha, beta, bias and GELU; and
// the whole-sequence attention built on it.

#include "platform/ml/runner/kernels/Gemm.hpp"
#include "platform/ml/runner/kernels/Half.hpp"
#include "platform/ml/runner/ops/Attention.hpp"

#include "tests/platform/ml/runner/ForcedInstructionSet.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace platform::runner;

// The matrix product takes the BLAS library below AVX-512: the baseline and AVX2 builds run it.
class GemmPaths : public ForcedInstructionSet {
protected:
  GemmPath expectedPath() const {
    return GetParam() == InstructionSet::avx512 ? GemmPath::avx512 : GemmPath::blas;
  }
};

enum class BStorage { rows, transposed, half };

const char *storageName(BStorage storage) {
  switch (storage) {
  case BStorage::rows:
    return "float32 B";
  case BStorage::transposed:
    return "float32 B transposed";
  case BStorage::half:
    return "float16 B";
  }
  return "?";
}

constexpr float kSentinel = 12345.0f;

// One product's operands, stored with strides wider than the rows and a sentinel in every element
// the product must not touch.
struct Operands {
  std::size_t m, n, k, lda, ldb, ldc;
  BStorage storage;
  std::vector<float> a, b, c, bias;
  std::vector<std::uint16_t> half;
  std::size_t halfBlocks = 1;
  GemmB operand;

  Operands(std::size_t m_, std::size_t n_, std::size_t k_, BStorage storage_,
           std::mt19937 &generator)
      : m(m_), n(n_), k(k_), lda(k_ + 3), ldb(0), ldc(n_ + 5), storage(storage_) {
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    a.resize(m * lda + 1);
    for (auto &x : a) {
      x = value(generator);
    }
    c.assign(m * ldc + 1, kSentinel);
    for (std::size_t i = 0; i < m; ++i) {
      for (std::size_t j = 0; j < n; ++j) {
        c[i * ldc + j] = value(generator);
      }
    }
    bias.resize(n);
    for (auto &x : bias) {
      x = value(generator);
    }
    switch (storage) {
    case BStorage::rows:
      ldb = n + 2;
      b.resize(k * ldb + 1);
      for (auto &x : b) {
        x = value(generator);
      }
      operand.data = b.data();
      operand.ld = ldb;
      break;
    case BStorage::transposed:
      ldb = k + 2;
      b.resize(n * ldb + 1);
      for (auto &x : b) {
        x = value(generator);
      }
      operand.data = b.data();
      operand.ld = ldb;
      operand.transposed = true;
      break;
    case BStorage::half:
      // Columns in up to three separately stored blocks, as stacked projections are.
      halfBlocks = n % 3 == 0 ? 3 : 1;
      ldb = k;
      half.resize(n * k + 1);
      for (auto &x : half) {
        x = floatToHalf(value(generator));
      }
      for (std::size_t block = 0; block < halfBlocks; ++block) {
        operand.half[block] = half.data() + block * (n / halfBlocks) * k;
      }
      operand.halfBlockRows = n / halfBlocks;
      operand.ld = k;
      break;
    }
  }

  double bAt(std::size_t p, std::size_t j) const {
    switch (storage) {
    case BStorage::rows:
      return b[p * ldb + j];
    case BStorage::transposed:
      return b[j * ldb + p];
    case BStorage::half:
      return halfToFloat(half[j * k + p]);
    }
    return 0;
  }
};

struct Scaling {
  float alpha, beta;
  bool bias;
  GemmActivation activation = GemmActivation::none;
};

// Checks C against alpha * A * B + beta * C0 + bias in float64, within float32 rounding of the
// sum of the terms' magnitudes, and that nothing outside C changed.
void expectProduct(const Operands &o, const std::vector<float> &before, const Scaling &s) {
  for (std::size_t i = 0; i < o.m; ++i) {
    for (std::size_t j = 0; j < o.n; ++j) {
      double exact = 0, magnitude = 0;
      for (std::size_t p = 0; p < o.k; ++p) {
        const double term = static_cast<double>(o.a[i * o.lda + p]) * o.bAt(p, j);
        exact += term;
        magnitude += std::abs(term);
      }
      exact *= s.alpha;
      magnitude *= std::abs(s.alpha);
      if (s.beta != 0.0f) {
        exact += static_cast<double>(s.beta) * before[i * o.ldc + j];
        magnitude += std::abs(s.beta * before[i * o.ldc + j]);
      }
      if (s.bias) {
        exact += o.bias[j];
        magnitude += std::abs(o.bias[j]);
      }
      double tolerance = 2e-6 * magnitude + 1e-6;
      if (s.activation == GemmActivation::gelu) {
        // The GELU's slope is at most 1.13; its error function is within 6e-7.
        tolerance = 1.13 * tolerance + 6e-7 * std::abs(exact);
        exact = 0.5 * exact * (1.0 + std::erf(exact / std::sqrt(2.0)));
      }
      ASSERT_NEAR(o.c[i * o.ldc + j], exact, tolerance) << "element " << i << ", " << j;
    }
    for (std::size_t j = o.n; j < o.ldc && i * o.ldc + j < o.c.size(); ++j) {
      ASSERT_EQ(o.c[i * o.ldc + j], before[i * o.ldc + j]) << "past row " << i << " at " << j;
    }
  }
  ASSERT_EQ(o.c.back(), kSentinel) << "past the last row";
}

struct Size {
  std::size_t m, n, k;
};

// Odd sizes either side of the 14 x 32 tile and the passes over k; 0 sizes included.
const std::vector<Size> kSizes = {{1, 1, 1},     {7, 33, 1},    {1, 513, 7},   {33, 7, 513},
                                  {513, 33, 7},  {33, 513, 33}, {14, 32, 320}, {15, 33, 321},
                                  {29, 65, 700}, {130, 96, 67}, {0, 5, 3},     {5, 3, 0},
                                  {6, 0, 4}};

TEST_P(GemmPaths, ProductMatchesAFloat64ProductOnOddSizesAndStorages) {
  EXPECT_EQ(gemmPath(), expectedPath());
  std::mt19937 generator(11);
  const std::vector<Scaling> scalings = {{1.0f, 0.0f, false},
                                         {0.5f, 1.5f, true},
                                         {-2.0f, 0.0f, true},
                                         {1.0f, 0.0f, true, GemmActivation::gelu}};
  // Each size meets every storage, and the scalings take turns, to keep the test quick.
  std::size_t turn = 0;
  for (const Size &size : kSizes) {
    for (BStorage storage : {BStorage::rows, BStorage::transposed, BStorage::half}) {
      {
        const Scaling &scaling = scalings[turn++ % scalings.size()];
        SCOPED_TRACE(std::to_string(size.m) + " x " + std::to_string(size.n) + " x " +
                     std::to_string(size.k) + ", " + storageName(storage) + ", alpha " +
                     std::to_string(scaling.alpha) + ", beta " + std::to_string(scaling.beta) +
                     (scaling.bias ? ", bias" : "") +
                     (scaling.activation == GemmActivation::gelu ? ", GELU" : ""));
        Operands o(size.m, size.n, size.k, storage, generator);
        if (scaling.beta == 0.0f) {
          // C is not read when beta is 0: NaN there must not reach the result.
          for (std::size_t i = 0; i < o.m; ++i) {
            for (std::size_t j = 0; j < o.n; ++j) {
              o.c[i * o.ldc + j] = std::nanf("");
            }
          }
        }
        const std::vector<float> before = o.c;
        std::vector<float> bScratch(packedBSize(o.k, o.n));
        gemmProduct(o.m, o.n, o.k, scaling.alpha, o.a.data(), o.lda, o.operand, scaling.beta,
                    o.c.data(), o.ldc, scaling.bias ? o.bias.data() : nullptr, bScratch.data(),
                    scaling.activation);
        expectProduct(o, before, scaling);
      }
    }
  }
}

TEST_P(GemmPaths, PackedOperandsGiveTheSameProductOnTheCallingThread) {
  std::mt19937 generator(12);
  for (const Size &size : kSizes) {
    for (BStorage storage : {BStorage::rows, BStorage::half}) {
      SCOPED_TRACE(std::to_string(size.m) + " x " + std::to_string(size.n) + " x " +
                   std::to_string(size.k) + ", " + storageName(storage));
      Operands o(size.m, size.n, size.k, storage, generator);
      // Packed sizes are whole panels; a sentinel after each shows packing stays inside them.
      std::vector<float> packedA(packedASize(o.m, o.k) + 1, kSentinel);
      std::vector<float> packedB(packedBSize(o.k, o.n) + 1, kSentinel);
      packA(o.a.data(), o.lda, o.m, o.k, packedA.data());
      packB(o.operand, o.k, o.n, packedB.data());
      ASSERT_EQ(packedA.back(), kSentinel);
      ASSERT_EQ(packedB.back(), kSentinel);
      // The activation applies once, after the last pass over k.
      const Scaling scaling{0.75f, 1.0f, true, GemmActivation::gelu};
      const std::vector<float> before = o.c;
      gemmPacked(o.m, o.n, o.k, scaling.alpha, packedA.data(), packedB.data(), scaling.beta,
                 o.c.data(), o.ldc, o.bias.data(), scaling.activation);
      expectProduct(o, before, scaling);
    }
  }
}

TEST_P(GemmPaths, FloatSixteenBOnTheBlasPathNeedsAWideningScratch) {
  std::mt19937 generator(13);
  Operands o(4, 6, 5, BStorage::half, generator);
  if (expectedPath() == GemmPath::blas) {
    EXPECT_THROW(
        gemmProduct(o.m, o.n, o.k, 1.0f, o.a.data(), o.lda, o.operand, 0.0f, o.c.data(), o.ldc),
        std::logic_error);
  } else {
    // The runner's own path packs float16 B itself.
    const std::vector<float> before = o.c;
    gemmProduct(o.m, o.n, o.k, 1.0f, o.a.data(), o.lda, o.operand, 0.0f, o.c.data(), o.ldc);
    expectProduct(o, before, {1.0f, 0.0f, false});
  }
}

TEST_P(GemmPaths, ColumnSoftmaxOfAPanelMatchesFloat64) {
  std::mt19937 generator(15);
  std::uniform_real_distribution<float> value(-30.0f, 30.0f);
  for (std::size_t rows : {1u, 2u, 37u}) {
    SCOPED_TRACE(std::to_string(rows) + " rows");
    std::vector<float> panel(rows * kGemmPanelCols);
    for (auto &x : panel) {
      x = value(generator);
    }
    panel[0] = -1e30f; // a masked score weighs nothing, even alone in its column
    const std::vector<float> before = panel;
    std::vector<float> sums(kGemmPanelCols);
    expShiftedColumns(panel.data(), rows, sums.data());
    for (std::size_t j = 0; j < kGemmPanelCols; ++j) {
      double maximum = -INFINITY;
      for (std::size_t r = 0; r < rows; ++r) {
        maximum = std::max<double>(maximum, before[r * kGemmPanelCols + j]);
      }
      double total = 0;
      for (std::size_t r = 0; r < rows; ++r) {
        const double shifted = before[r * kGemmPanelCols + j] - maximum;
        const double exact = std::exp(shifted);
        // The float difference carries its own rounding, which exp scales by the argument.
        ASSERT_NEAR(panel[r * kGemmPanelCols + j], exact,
                    4e-7 * (1.0 + std::abs(shifted)) * exact + 1e-30)
            << "row " << r << ", column " << j;
        total += exact;
      }
      ASSERT_NEAR(sums[j], total, 1e-6 * total) << "column " << j;
    }
  }
}

TEST_P(GemmPaths, SequenceAttentionMatchesFloat64AcrossPanelEdges) {
  struct Case {
    std::size_t queries, keys, heads, headDim;
  };
  // Queries either side of a 32-query panel, keys past a pass over k, head sizes off the tile.
  const std::vector<Case> cases = {{1, 1, 1, 1}, {33, 7, 2, 5}, {70, 321, 3, 16}, {5, 40, 2, 64}};
  std::mt19937 generator(14);
  std::uniform_real_distribution<float> value(-2.0f, 2.0f);
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.queries) + " queries, " + std::to_string(c.keys) + " keys, " +
                 std::to_string(c.heads) + " x " + std::to_string(c.headDim));
    const std::size_t width = c.heads * c.headDim;
    const std::size_t stride = 3 * width + 1; // q, k and v side by side, as the encoder holds them
    const std::size_t rows = std::max(c.queries, c.keys);
    std::vector<float> qkv(rows * stride);
    for (auto &x : qkv) {
      x = value(generator);
    }
    const float *q = qkv.data();
    const float *k = qkv.data() + width;
    const float *v = qkv.data() + 2 * width;
    const std::size_t outStride = width + 2;
    std::vector<float> out(c.queries * outStride, kSentinel);
    const SequenceAttention shape{c.queries, c.keys, c.heads, c.headDim};
    std::vector<float> scores(sequenceAttentionScratchSize(shape)), rowScales(c.queries);
    attendSequence(shape, q, k, v, stride, scores.data(), rowScales.data(), out.data(), outStride);
    for (std::size_t h = 0; h < c.heads; ++h) {
      for (std::size_t i = 0; i < c.queries; ++i) {
        std::vector<double> weights(c.keys);
        double maximum = -INFINITY;
        for (std::size_t s = 0; s < c.keys; ++s) {
          double dot = 0;
          for (std::size_t d = 0; d < c.headDim; ++d) {
            dot += static_cast<double>(q[i * stride + h * c.headDim + d]) *
                   k[s * stride + h * c.headDim + d];
          }
          weights[s] = dot / std::sqrt(static_cast<double>(c.headDim));
          maximum = std::max(maximum, weights[s]);
        }
        double total = 0;
        for (auto &w : weights) {
          w = std::exp(w - maximum);
          total += w;
        }
        for (std::size_t d = 0; d < c.headDim; ++d) {
          double exact = 0;
          for (std::size_t s = 0; s < c.keys; ++s) {
            exact += weights[s] / total * v[s * stride + h * c.headDim + d];
          }
          ASSERT_NEAR(out[i * outStride + h * c.headDim + d], exact, 2e-5)
              << "head " << h << ", query " << i << ", channel " << d;
        }
      }
    }
    for (std::size_t i = 0; i < c.queries; ++i) {
      ASSERT_EQ(out[i * outStride + width], kSentinel) << "past row " << i;
    }
  }
}

MQ_INSTANTIATE_FOR_EVERY_INSTRUCTION_SET(GemmPaths);

} // namespace
