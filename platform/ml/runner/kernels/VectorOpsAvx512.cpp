// Compiled with -mavx512f -mavx2 -mfma -mf16c -ffp-contract=off (see the runner's
// CMakeLists.txt). Include nothing that instantiates inline library code here: such code would be
// built for this instruction set and could be picked by the linker for callers on CPUs without it.

#include "platform/ml/runner/kernels/VectorOpsSimd.hpp"

#if defined(__AVX512F__) && defined(__FMA__)

#include "platform/ml/runner/kernels/SimdAvx512.hpp"
#include "platform/ml/runner/kernels/VectorOpsBodies.hpp"

namespace platform::runner::simd {

MQ_VECTOR_KERNEL_ENTRY_POINTS(Avx512, Avx512)

} // namespace platform::runner::simd

#endif
