// Compiled with -mavx512f -mf16c -mavx2 -mfma (see the runner's CMakeLists.txt). Include nothing
// that instantiates inline library code here: such code would be built for AVX-512 and could be
// picked by the linker for callers on CPUs without it.

#include "platform/ml/runner/kernels/HalfKernelsSimd.hpp"

#if defined(__AVX512F__) && defined(__F16C__) && defined(__FMA__)

#include "platform/ml/runner/kernels/HalfKernelsBodies.hpp"
#include "platform/ml/runner/kernels/SimdAvx512.hpp"

namespace platform::runner::simd {

MQ_HALF_KERNEL_ENTRY_POINTS(Avx512, Avx512)

} // namespace platform::runner::simd

#endif
