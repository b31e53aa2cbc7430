#include "platform/ml/runner/kernels/CpuFeatures.hpp"

namespace platform::runner {

const CpuFeatures &cpuFeatures() {
  static const CpuFeatures features = [] {
    CpuFeatures found;
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    found.avx2 = __builtin_cpu_supports("avx2");
    found.fma = __builtin_cpu_supports("fma");
    found.f16c = __builtin_cpu_supports("f16c");
    found.avx512f = __builtin_cpu_supports("avx512f");
    found.avx512cd = __builtin_cpu_supports("avx512cd");
    found.avx512bw = __builtin_cpu_supports("avx512bw");
    found.avx512dq = __builtin_cpu_supports("avx512dq");
    found.avx512vl = __builtin_cpu_supports("avx512vl");
#endif
    return found;
  }();
  return features;
}

} // namespace platform::runner
