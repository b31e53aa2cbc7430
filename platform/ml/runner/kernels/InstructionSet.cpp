#include "platform/ml/runner/kernels/InstructionSet.hpp"

#include "platform/ml/runner/kernels/CpuFeatures.hpp"

#include <atomic>
#include <stdexcept>
#include <string>

namespace platform::runner {
namespace {

InstructionSet best() {
  for (auto set : {InstructionSet::avx512, InstructionSet::avx2}) {
    if (instructionSetAvailable(set)) {
      return set;
    }
  }
  return InstructionSet::baseline;
}

// The chosen set; read on every kernel call, so a relaxed load of one word.
std::atomic<InstructionSet> &chosen() {
  static std::atomic<InstructionSet> set{best()};
  return set;
}

} // namespace

std::string_view instructionSetName(InstructionSet set) {
  switch (set) {
  case InstructionSet::avx512:
    return "avx512";
  case InstructionSet::avx2:
    return "avx2";
  case InstructionSet::baseline:
    break;
  }
  return "baseline";
}

bool instructionSetAvailable(InstructionSet set) {
  const CpuFeatures &cpu = cpuFeatures();
  switch (set) {
  case InstructionSet::baseline:
    return true;
#if defined(__x86_64__)
  case InstructionSet::avx2:
    return cpu.avx2 && cpu.fma && cpu.f16c;
  case InstructionSet::avx512:
    return cpu.avx512f && cpu.avx2 && cpu.fma && cpu.f16c;
#else
  default:
    (void)cpu;
    return false;
#endif
  }
  return false;
}

InstructionSet instructionSet() { return chosen().load(std::memory_order_relaxed); }

void forceInstructionSet(InstructionSet set) {
  if (!instructionSetAvailable(set)) {
    throw std::invalid_argument("instruction set " + std::string(instructionSetName(set)) +
                                " is not available on this CPU");
  }
  chosen().store(set, std::memory_order_relaxed);
}

void resetInstructionSet() { chosen().store(best(), std::memory_order_relaxed); }

} // namespace platform::runner
