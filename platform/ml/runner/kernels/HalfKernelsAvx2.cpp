// Compiled with -mf16c -mavx2 -mfma (see the runner's CMakeLists.txt). Include nothing that
// instantiates inline library code here: such code would be built for AVX2 and could be picked
// by the linker for callers on CPUs without it.

#include "platform/ml/runner/kernels/HalfKernelsSimd.hpp"

#if defined(__AVX2__) && defined(__F16C__) && defined(__FMA__)

#include "platform/ml/runner/kernels/HalfKernelsBodies.hpp"
#include "platform/ml/runner/kernels/SimdAvx2.hpp"

namespace platform::runner::simd {

MQ_HALF_KERNEL_ENTRY_POINTS(Avx2, Avx2)

} // namespace platform::runner::simd

#endif
