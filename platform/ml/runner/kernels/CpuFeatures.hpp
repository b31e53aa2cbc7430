#pragma once

namespace platform::runner {

// The instruction-set extensions of this CPU that the runner's kernels and the BLAS library's
// core choice depend on. Every such question is asked here, once per process, so all kernels agree
// on what the CPU runs. All false off x86-64.
struct CpuFeatures {
  bool avx2 = false;
  bool fma = false;
  bool f16c = false;
  bool avx512f = false;
  bool avx512cd = false;
  bool avx512bw = false;
  bool avx512dq = false;
  bool avx512vl = false;
};

const CpuFeatures &cpuFeatures();

} // namespace platform::runner
