#pragma once

#include <string_view>

namespace platform::runner {

// The instruction sets the runner's vector kernels are built for. Each kernel has a baseline
// x86-64 (or portable) build and, on x86-64, one compiled for AVX2 with FMA and F16C and one for
// AVX-512, in translation units of their own so the binary still runs on any x86-64 CPU. One
// choice, made at first use from the CPU's features, serves every kernel.
enum class InstructionSet { baseline, avx2, avx512 };

// "baseline", "avx2" or "avx512".
std::string_view instructionSetName(InstructionSet set);
// Whether this CPU and build can run `set` (the baseline always can).
bool instructionSetAvailable(InstructionSet set);
// The instruction set the kernels take: the best available one unless one was forced.
InstructionSet instructionSet();
// Makes every later kernel call take `set`, so tests and benchmarks can compare builds. Throws
// std::invalid_argument when the CPU lacks it. Call it while no kernel runs.
void forceInstructionSet(InstructionSet set);
// Returns to the best available instruction set.
void resetInstructionSet();

// The one dispatch: a kernel's build for each instruction set, of which a call takes the chosen
// one. Off x86-64 only the baseline build exists (the others may be null).
template <class Function> struct KernelBuilds {
  Function baseline;
  Function avx2;
  Function avx512;

  Function chosen() const {
#if defined(__x86_64__)
    switch (instructionSet()) {
    case InstructionSet::avx512:
      return avx512;
    case InstructionSet::avx2:
      return avx2;
    case InstructionSet::baseline:
      break;
    }
#endif
    return baseline;
  }
};

// The builds of one kernel, named for each instruction set; off x86-64 only the baseline's is
// named, the others need not exist.
#if defined(__x86_64__)
#define MQ_KERNEL_BUILDS(baseline, avx2, avx512)                                                   \
  (::platform::runner::KernelBuilds<decltype(&baseline)>{baseline, avx2, avx512})
#else
#define MQ_KERNEL_BUILDS(baseline, avx2, avx512)                                                   \
  (::platform::runner::KernelBuilds<decltype(&baseline)>{baseline, nullptr, nullptr})
#endif

} // namespace platform::runner
