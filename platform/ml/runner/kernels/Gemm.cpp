#include "platform/ml/runner/kernels/Gemm.hpp"

#include "platform/ml/runner/kernels/Blas.hpp"
#include "platform/ml/runner/kernels/GemmSimd.hpp"
#include "platform/ml/runner/kernels/Half.hpp"
#include "platform/ml/runner/kernels/HalfKernels.hpp"
#include "platform/ml/runner/kernels/InstructionSet.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/kernels/VectorOps.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <stdexcept>

namespace platform::runner {
namespace {

constexpr std::size_t kRows = kGemmPanelRows;
constexpr std::size_t kCols = kGemmPanelCols;
// Steps of k per pass over C: a B panel of kKc x kCols floats (at most 40 KiB) stays in the L1
// cache while every A panel of the block streams past it from L2.
constexpr std::size_t kKc = 320;
// Rows of A one task packs and multiplies, in panels: at most 56 rows, so a packed block of a
// 2048-long k (448 KiB) stays in L2.
constexpr std::size_t kMaxBlockPanels = 4;
// Tasks per thread a product is cut into at least, so threads that start late or share their core
// with other work still end together.
constexpr std::size_t kTasksPerThread = 6;

// Steps of k packed across all rows of a panel before the next: the panel lines they fill (8 KiB of
// a B panel) stay in L1 while each stored row contributes its element.
constexpr std::size_t kPackRun = 64;

std::size_t ceilDiv(std::size_t a, std::size_t b) { return (a + b - 1) / b; }

// Scratch that grows to the largest size asked of it and is then reused: one per thread, so no
// product waits for another's. 64-byte aligned, so panel loads never straddle cache lines.
class ThreadScratch {
public:
  ThreadScratch() = default;
  ThreadScratch(const ThreadScratch &) = delete;
  ThreadScratch &operator=(const ThreadScratch &) = delete;
  ~ThreadScratch() { release(); }

  float *get(std::size_t count) {
    if (count > capacity_) {
      release();
      data_ = static_cast<float *>(::operator new (count * sizeof(float), std::align_val_t{64}));
      capacity_ = count;
    }
    return data_;
  }

private:
  void release() {
    if (data_ != nullptr) {
      ::operator delete (data_, std::align_val_t{64});
      data_ = nullptr;
      capacity_ = 0;
    }
  }
  float *data_ = nullptr;
  std::size_t capacity_ = 0;
};

thread_local ThreadScratch packedAScratch;
thread_local ThreadScratch packedBScratch;

void gemmTilePortable(std::size_t kc, const float *a, const float *b, float *c, std::size_t ldc,
                      std::size_t rows, std::size_t cols, float alpha, float beta,
                      const float *bias, bool activate) {
  float acc[kRows][kCols] = {};
  for (std::size_t p = 0; p < kc; ++p) {
    for (std::size_t i = 0; i < kRows; ++i) {
      const float ai = a[p * kRows + i];
      for (std::size_t j = 0; j < kCols; ++j) {
        acc[i][j] += ai * b[p * kCols + j];
      }
    }
  }
  for (std::size_t i = 0; i < rows; ++i) {
    float *row = c + i * ldc;
    for (std::size_t j = 0; j < cols; ++j) {
      float value = alpha * acc[i][j] + (bias != nullptr ? bias[j] : 0.0f);
      if (beta != 0.0f) {
        value += beta * row[j];
      }
      row[j] = value;
    }
    if (activate) {
      geluInPlace(row, cols);
    }
  }
}

void expShiftedColumnsPortable(float *panel, std::size_t rows, float *sums) {
  for (std::size_t j = 0; j < kCols; ++j) {
    float maximum = -INFINITY;
    for (std::size_t r = 0; r < rows; ++r) {
      maximum = std::max(maximum, panel[r * kCols + j]);
    }
    float sum = 0.0f;
    for (std::size_t r = 0; r < rows; ++r) {
      float &x = panel[r * kCols + j];
      x = fastExp(x - maximum);
      sum += x;
    }
    sums[j] = sum;
  }
}

// Only AVX-512 has a build of its own: its 32 registers hold the whole tile's accumulators.
constexpr auto kTile = MQ_KERNEL_BUILDS(gemmTilePortable, gemmTilePortable, simd::gemmTileAvx512);
constexpr auto kExpShiftedColumns = MQ_KERNEL_BUILDS(
    expShiftedColumnsPortable, expShiftedColumnsPortable, simd::expShiftedColumnsAvx512);

const std::uint16_t *halfRow(const GemmB &b, std::size_t j) {
  const std::size_t block = j / b.halfBlockRows;
  return b.half[block] + (j - block * b.halfBlockRows) * b.ld;
}

// Splits the product into tasks of whole panels: row blocks of up to kMaxBlockPanels panels,
// and, when those are too few to keep every thread busy, column blocks too.
struct TaskPlan {
  std::size_t blockPanels = 1;  // A panels per row block
  std::size_t rowBlocks = 1;    // blocks down m
  std::size_t columnPanels = 1; // B panels per column block
  std::size_t columnBlocks = 1; // blocks across n
  std::size_t tasks() const { return rowBlocks * columnBlocks; }
};

TaskPlan planTasks(std::size_t m, std::size_t n, std::size_t threads) {
  const std::size_t mPanels = ceilDiv(m, kRows);
  const std::size_t nPanels = ceilDiv(n, kCols);
  const std::size_t wanted = threads * kTasksPerThread;
  TaskPlan plan;
  plan.blockPanels = std::clamp<std::size_t>(mPanels / wanted, 1, kMaxBlockPanels);
  plan.rowBlocks = ceilDiv(mPanels, plan.blockPanels);
  const std::size_t split =
      plan.rowBlocks >= wanted ? 1 : std::min(nPanels, ceilDiv(wanted, plan.rowBlocks));
  plan.columnPanels = ceilDiv(nPanels, split);
  plan.columnBlocks = ceilDiv(nPanels, plan.columnPanels);
  return plan;
}

void productOnPanels(std::size_t m, std::size_t n, std::size_t k, float alpha, const float *a,
                     std::size_t lda, const GemmB &b, float beta, float *c, std::size_t ldc,
                     const float *bias, float *bScratch, GemmActivation activation) {
  const std::size_t nPanels = ceilDiv(n, kCols);
  float *packedB = bScratch != nullptr ? bScratch : packedBScratch.get(packedBSize(k, n));
  // About 64 Ki elements per chunk of packing.
  const std::size_t panelGrain =
      std::max<std::size_t>(1, 65536 / std::max<std::size_t>(1, k * kCols));
  parallelFor(0, nPanels, panelGrain, [&](std::size_t first, std::size_t last) {
    packBPanels(b, k, n, first, last, packedB);
  });

  const std::size_t threads = parallelThreadCount();
  const TaskPlan plan = planTasks(m, n, threads);
  const std::size_t tasks = plan.tasks();
  auto runTask = [&](std::size_t task) {
    const std::size_t rowBlock = task / plan.columnBlocks;
    const std::size_t columnBlock = task % plan.columnBlocks;
    const std::size_t row = rowBlock * plan.blockPanels * kRows;
    const std::size_t rows = std::min(m - row, plan.blockPanels * kRows);
    const std::size_t firstPanel = columnBlock * plan.columnPanels;
    const std::size_t column = firstPanel * kCols;
    const std::size_t columns = std::min(n - column, plan.columnPanels * kCols);
    float *packedA = packedAScratch.get(packedASize(rows, k));
    packA(a + row * lda, lda, rows, k, packedA);
    gemmPacked(rows, columns, k, alpha, packedA, packedB + firstPanel * k * kCols, beta,
               c + row * ldc + column, ldc, bias != nullptr ? bias + column : nullptr, activation);
  };
  // One chunk per thread, each taking tasks until none is left: the tasks are balanced by who is
  // free rather than cut evenly in advance.
  std::atomic<std::size_t> next{0};
  parallelFor(0, std::min(threads, tasks), 1, [&](std::size_t, std::size_t) {
    for (std::size_t task = next.fetch_add(1, std::memory_order_relaxed); task < tasks;
         task = next.fetch_add(1, std::memory_order_relaxed)) {
      runTask(task);
    }
  });
}

void finishRows(float *c, std::size_t m, std::size_t n, std::size_t ldc, const float *bias,
                GemmActivation activation) {
  parallelFor(0, m, 16, [&](std::size_t begin, std::size_t end) {
    for (std::size_t r = begin; r < end; ++r) {
      if (bias != nullptr) {
        addInPlace(c + r * ldc, bias, n);
      }
      if (activation == GemmActivation::gelu) {
        geluInPlace(c + r * ldc, n);
      }
    }
  });
}

void productOnBlas(std::size_t m, std::size_t n, std::size_t k, float alpha, const float *a,
                   std::size_t lda, const GemmB &b, float beta, float *c, std::size_t ldc,
                   const float *bias, float *bScratch, GemmActivation activation) {
  if (k == 0) {
    // The library refuses a zero-length leading dimension; the product is beta * C.
    parallelFor(0, m, 64, [&](std::size_t begin, std::size_t end) {
      for (std::size_t r = begin; r < end; ++r) {
        for (std::size_t j = 0; j < n; ++j) {
          c[r * ldc + j] = beta != 0.0f ? beta * c[r * ldc + j] : 0.0f;
        }
      }
    });
  } else if (b.isHalf()) {
    if (bScratch == nullptr) {
      throw std::logic_error("a float16 matrix product needs a widening scratch");
    }
    widenHalfB(b, k, n, bScratch);
    gemm(false, true, m, n, k, alpha, a, lda, bScratch, k, beta, c, ldc);
  } else {
    gemm(false, b.transposed, m, n, k, alpha, a, lda, b.data, b.ld, beta, c, ldc);
  }
  if (bias != nullptr || activation != GemmActivation::none) {
    finishRows(c, m, n, ldc, bias, activation);
  }
}

} // namespace

GemmPath gemmPath() {
  return instructionSet() == InstructionSet::avx512 ? GemmPath::avx512 : GemmPath::blas;
}

std::size_t packedASize(std::size_t m, std::size_t k) { return ceilDiv(m, kRows) * kRows * k; }

std::size_t packedBSize(std::size_t k, std::size_t n) { return ceilDiv(n, kCols) * kCols * k; }

void packA(const float *a, std::size_t lda, std::size_t m, std::size_t k, float *packed,
           bool transposed) {
  for (std::size_t row = 0; row < m; row += kRows) {
    float *panel = packed + row * k;
    const std::size_t rows = std::min(kRows, m - row);
    if (transposed) {
      for (std::size_t p = 0; p < k; ++p) {
        const float *source = a + p * lda + row;
        std::copy(source, source + rows, panel + p * kRows);
        std::fill(panel + p * kRows + rows, panel + (p + 1) * kRows, 0.0f);
      }
      continue;
    }
    // In runs of kPackRun steps, so the panel lines being written stay in L1 across the rows.
    for (std::size_t run = 0; run < k; run += kPackRun) {
      const std::size_t stop = std::min(k, run + kPackRun);
      for (std::size_t i = 0; i < rows; ++i) {
        const float *source = a + (row + i) * lda;
        for (std::size_t p = run; p < stop; ++p) {
          panel[p * kRows + i] = source[p];
        }
      }
    }
    for (std::size_t i = rows; i < kRows; ++i) {
      for (std::size_t p = 0; p < k; ++p) {
        panel[p * kRows + i] = 0.0f;
      }
    }
  }
}

void packBPanels(const GemmB &b, std::size_t k, std::size_t n, std::size_t firstPanel,
                 std::size_t lastPanel, float *packed) {
  for (std::size_t panelIndex = firstPanel; panelIndex < lastPanel; ++panelIndex) {
    const std::size_t column = panelIndex * kCols;
    const std::size_t columns = std::min(kCols, n - column);
    float *panel = packed + column * k;
    if (!b.isHalf() && !b.transposed) {
      for (std::size_t p = 0; p < k; ++p) {
        const float *source = b.data + p * b.ld + column;
        float *target = panel + p * kCols;
        std::copy(source, source + columns, target);
        std::fill(target + columns, target + kCols, 0.0f);
      }
      continue;
    }
    for (std::size_t run = 0; run < k; run += kPackRun) {
      const std::size_t stop = std::min(k, run + kPackRun);
      if (b.isHalf()) {
        // Widened a run of each row at a time with the float16 kernels, then laid across.
        float widened[kCols * kPackRun];
        for (std::size_t j = 0; j < columns; ++j) {
          widenHalf(halfRow(b, column + j) + run, widened + j * kPackRun, stop - run);
        }
        for (std::size_t p = run; p < stop; ++p) {
          for (std::size_t j = 0; j < columns; ++j) {
            panel[p * kCols + j] = widened[j * kPackRun + (p - run)];
          }
        }
        continue;
      }
      for (std::size_t j = 0; j < columns; ++j) {
        const float *source = b.data + (column + j) * b.ld;
        for (std::size_t p = run; p < stop; ++p) {
          panel[p * kCols + j] = source[p];
        }
      }
    }
    for (std::size_t j = columns; j < kCols; ++j) {
      for (std::size_t p = 0; p < k; ++p) {
        panel[p * kCols + j] = 0.0f;
      }
    }
  }
}

void packB(const GemmB &b, std::size_t k, std::size_t n, float *packed) {
  packBPanels(b, k, n, 0, ceilDiv(n, kCols), packed);
}

void gemmPacked(std::size_t m, std::size_t n, std::size_t k, float alpha, const float *packedA,
                const float *packedB, float beta, float *c, std::size_t ldc, const float *bias,
                GemmActivation activation) {
  const auto tile = kTile.chosen();
  const std::size_t mPanels = ceilDiv(m, kRows);
  const std::size_t nPanels = ceilDiv(n, kCols);
  // Equal passes over k, none longer than kKc.
  const std::size_t kc = k == 0 ? 0 : ceilDiv(k, ceilDiv(k, kKc));
  std::size_t done = 0;
  do {
    const std::size_t steps = std::min(kc, k - done);
    const bool first = done == 0;
    const bool last = done + steps == k;
    for (std::size_t jp = 0; jp < nPanels; ++jp) {
      const float *bPanel = packedB + jp * k * kCols + done * kCols;
      const std::size_t cols = std::min(kCols, n - jp * kCols);
      for (std::size_t ip = 0; ip < mPanels; ++ip) {
        tile(steps, packedA + ip * k * kRows + done * kRows, bPanel,
             c + ip * kRows * ldc + jp * kCols, ldc, std::min(kRows, m - ip * kRows), cols, alpha,
             first ? beta : 1.0f, first && bias != nullptr ? bias + jp * kCols : nullptr,
             last && activation == GemmActivation::gelu);
      }
    }
    done += steps;
  } while (done < k);
}

void gemmProduct(std::size_t m, std::size_t n, std::size_t k, float alpha, const float *a,
                 std::size_t lda, const GemmB &b, float beta, float *c, std::size_t ldc,
                 const float *bias, float *bScratch, GemmActivation activation) {
  if (m == 0 || n == 0) {
    return;
  }
  if (gemmPath() == GemmPath::blas) {
    productOnBlas(m, n, k, alpha, a, lda, b, beta, c, ldc, bias, bScratch, activation);
  } else {
    productOnPanels(m, n, k, alpha, a, lda, b, beta, c, ldc, bias, bScratch, activation);
  }
}

void widenHalfB(const GemmB &b, std::size_t k, std::size_t n, float *destination) {
  // Rows are widened in runs of about 64 Ki elements: conversion runs at memory speed, so chunks
  // only need to be large enough to hide the hand-off.
  const std::size_t grain = std::max<std::size_t>(1, 65536 / std::max<std::size_t>(1, k));
  parallelFor(0, n, grain, [&](std::size_t begin, std::size_t end) {
    while (begin < end) {
      const std::size_t block = begin / b.halfBlockRows;
      const std::size_t stop = std::min(end, (block + 1) * b.halfBlockRows);
      if (b.ld == k) {
        widenHalf(halfRow(b, begin), destination + begin * k, (stop - begin) * k);
      } else {
        for (std::size_t j = begin; j < stop; ++j) {
          widenHalf(halfRow(b, j), destination + j * k, k);
        }
      }
      begin = stop;
    }
  });
}

void expShiftedColumns(float *panel, std::size_t rows, float *sums) {
  kExpShiftedColumns.chosen()(panel, rows, sums);
}

} // namespace platform::runner
