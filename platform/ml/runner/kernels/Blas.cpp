#include "platform/ml/runner/kernels/Blas.hpp"

#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/kernels/CpuFeatures.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/kernels/VectorOps.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <string_view>

namespace platform::runner {
namespace {

constexpr const char *kLibrary = "libopenblas.so.0";
constexpr const char *kCoreTypeVariable = "OPENBLAS_CORETYPE";

// CBLAS's enumerations, as the C interface defines their values.
constexpr int kRowMajor = 101;
constexpr int kNoTrans = 111;
constexpr int kTrans = 112;

using Sgemm = void (*)(int order, int transA, int transB, int m, int n, int k, float alpha,
                       const float *a, int lda, const float *b, int ldb, float beta, float *c,
                       int ldc);
using SetThreads = void (*)(int threads);
using GetThreads = int (*)();
using CoreName = char *(*)();

struct Library {
  void *handle = nullptr;
  Sgemm sgemm = nullptr;
  SetThreads setThreads = nullptr;
  GetThreads getThreads = nullptr;
  CoreName coreName = nullptr;
};

template <class F> F entry(void *handle, const char *name) {
  void *symbol = dlsym(handle, name);
  if (symbol == nullptr) {
    throw MLModelError(MLModelError::Code::generic,
                       std::string(kLibrary) + ": no entry point " + name);
  }
  return reinterpret_cast<F>(symbol);
}

Library open() {
  Library library;
  library.handle = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  if (library.handle == nullptr) {
    const char *reason = dlerror();
    throw MLModelError(MLModelError::Code::generic,
                       std::string("cannot load ") + kLibrary + ": " + (reason ? reason : "?"));
  }
  library.sgemm = entry<Sgemm>(library.handle, "cblas_sgemm");
  library.setThreads = entry<SetThreads>(library.handle, "openblas_set_num_threads");
  library.getThreads = entry<GetThreads>(library.handle, "openblas_get_num_threads");
  library.coreName = entry<CoreName>(library.handle, "openblas_get_corename");
  return library;
}

// True once nothing holds the library any more (another module may have linked it).
bool unloaded() {
  void *handle = dlopen(kLibrary, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) {
    dlclose(handle);
    return false;
  }
  return true;
}

std::string lowered(std::string_view text) {
  std::string result(text);
  for (auto &c : result) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return result;
}

bool cpuHasAvx512() {
  const CpuFeatures &cpu = cpuFeatures();
  return cpu.avx512f && cpu.avx512cd && cpu.avx512bw && cpu.avx512dq && cpu.avx512vl;
}

bool cpuHasAvx2Fma() { return cpuFeatures().avx2 && cpuFeatures().fma; }

Library library;
BlasSetup setup;
std::once_flag loaded;

const Library &loadedLibrary() {
  loadBlas(parallelThreadCount(), BlasKernels::libraryChoice);
  return library;
}

} // namespace

std::string betterBlasCore(const char *userCoreType, const std::string &reportedCore,
                           bool hasAvx512, bool hasAvx2Fma) {
  if (userCoreType != nullptr) {
    return {};
  }
  // The library's x86 kernel families by the widest vectors their kernels use. Any other name
  // (one these lists do not know) is the library's informed choice and is kept.
  static constexpr std::array<std::string_view, 16> kPreAvx = {
      "katmai",       "coppermine", "northwood",  "prescott", "banias", "atom",
      "core2",        "penryn",     "dunnington", "nehalem",  "athlon", "opteron",
      "opteron_sse3", "barcelona",  "nano",       "bobcat"};
  // AVX or AVX2 without AVX-512: the library's choice on CPUs it knows by family rather than by
  // features (Zen 4 and 5 have AVX-512 but are run as Zen, that is Haswell's kernels).
  static constexpr std::array<std::string_view, 7> kAvxWithout512 = {
      "sandybridge", "haswell", "bulldozer", "piledriver", "steamroller", "excavator", "zen"};
  const std::string core = lowered(reportedCore);
  const auto known = [&core](const auto &names) {
    return std::find(names.begin(), names.end(), core) != names.end();
  };
  const bool preAvx = known(kPreAvx);
  if (!preAvx && !known(kAvxWithout512)) {
    return {};
  }
  if (hasAvx512) {
    return "SkylakeX";
  }
  if (hasAvx2Fma && preAvx) {
    return "Haswell";
  }
  return {};
}

const BlasSetup &loadBlas(std::size_t threads, BlasKernels kernels) {
  std::call_once(loaded, [threads, kernels] {
    Library first = open();
    setup.detectedCore = first.coreName();
    setup.core = setup.detectedCore;
    const std::string better =
        kernels == BlasKernels::libraryChoice
            ? std::string()
            : betterBlasCore(std::getenv(kCoreTypeVariable), setup.detectedCore, cpuHasAvx512(),
                             cpuHasAvx2Fma());
    library = first;
    if (!better.empty()) {
      dlclose(first.handle);
      if (unloaded()) {
        setenv(kCoreTypeVariable, better.c_str(), 1);
        try {
          library = open();
        } catch (...) {
          unsetenv(kCoreTypeVariable);
          throw;
        }
        unsetenv(kCoreTypeVariable);
        setup.core = library.coreName();
        setup.coreChosenByRunner = true;
      } else {
        // Something else keeps the library loaded: its kernels stay as they are.
        library = open();
      }
    }
    library.setThreads(static_cast<int>(std::max<std::size_t>(1, threads)));
    setup.threads = static_cast<std::size_t>(library.getThreads());
  });
  return setup;
}

void gemm(bool transposeA, bool transposeB, std::size_t m, std::size_t n, std::size_t k,
          float alpha, const float *a, std::size_t lda, const float *b, std::size_t ldb, float beta,
          float *c, std::size_t ldc) {
  if (m == 0 || n == 0) {
    return;
  }
  loadedLibrary().sgemm(kRowMajor, transposeA ? kTrans : kNoTrans, transposeB ? kTrans : kNoTrans,
                        static_cast<int>(m), static_cast<int>(n), static_cast<int>(k), alpha, a,
                        static_cast<int>(lda), b, static_cast<int>(ldb), beta, c,
                        static_cast<int>(ldc));
}

void gemvRows(const float *a, std::size_t rows, std::size_t cols, std::size_t lda, const float *x,
              float *y) {
  // About 32 KiB of matrix per chunk: small enough that a late thread delays the step little.
  const std::size_t grain = std::max<std::size_t>(1, 8192 / std::max<std::size_t>(1, cols));
  parallelFor(0, rows, grain, [&](std::size_t begin, std::size_t end) {
    for (std::size_t r = begin; r < end; ++r) {
      y[r] = dot(a + r * lda, x, cols);
    }
  });
}

} // namespace platform::runner
