#pragma once

#include <cstddef>
#include <string>

namespace platform::runner {

// Thin, row-major wrappers over the BLAS library so no header outside this file depends on it.
// All matrices are float32, row-major, with explicit leading dimensions (elements per row).
// These may use the BLAS library's own threads: call them from outside parallelFor.

// What loadBlas settled.
struct BlasSetup {
  std::string core;         // the kernel family the library runs ("Haswell", "SkylakeX", ...)
  std::string detectedCore; // what the library chose on its own first load
  bool coreChosenByRunner = false; // the runner reloaded it with a better core for this CPU
  std::size_t threads = 0;         // the library's thread count
};

// Which kernels loadBlas lets the library run.
enum class BlasKernels {
  // As the library detects them; the environment is left alone, so any thread may load it.
  libraryChoice,
  // Reloaded with better ones for this CPU where the rules below say so. Sets an environment
  // variable for the reload: only at start-up, before other threads read the environment.
  bestForThisCpu,
};

// Loads the BLAS library (OpenBLAS, libopenblas.so.0) at run time and sizes its thread pool to
// `threads`. With BlasKernels::bestForThisCpu, when OPENBLAS_CORETYPE is unset and the library
// reports a core without AVX-512 kernels (an AVX or older family) on a CPU that has AVX-512 (F,
// CD, BW, DQ, VL), or a core older than AVX on a CPU with AVX2 and FMA, the library is unloaded
// and loaded again with SkylakeX or Haswell kernels (the variable is set for that load only). A
// value the user or system set is never overridden, and a core the library reports that these
// rules do not name is kept. Runs once per process: later calls return the first result, whatever
// they ask. Throws MLModelError when the library or one of its entry points cannot be found.
const BlasSetup &loadBlas(std::size_t threads, BlasKernels kernels = BlasKernels::bestForThisCpu);

// The core choice alone, for testing. `userCoreType` is OPENBLAS_CORETYPE (null when unset);
// returns the core to reload with, or an empty string to keep the library's choice.
std::string betterBlasCore(const char *userCoreType, const std::string &reportedCore,
                           bool hasAvx512, bool hasAvx2Fma);

// C[m x n] = alpha * op(A) * op(B) + beta * C, op(X) = X or its transpose. Loads the library
// with the library's own kernels and parallelThreadCount() threads if nothing loaded it yet.
void gemm(bool transposeA, bool transposeB, std::size_t m, std::size_t n, std::size_t k,
          float alpha, const float *a, std::size_t lda, const float *b, std::size_t ldb, float beta,
          float *c, std::size_t ldc);

// y[rows] = A[rows x cols] * x with rows spread over parallelFor: the memory-bound product of one
// decoder step, kept off the BLAS library's threads so the step wakes only one pool.
void gemvRows(const float *a, std::size_t rows, std::size_t cols, std::size_t lda, const float *x,
              float *y);

} // namespace platform::runner
