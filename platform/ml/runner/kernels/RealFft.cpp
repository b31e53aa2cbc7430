#include "platform/ml/runner/kernels/RealFft.hpp"

#include <fftw3.h>

#include <climits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>

namespace platform::runner {

namespace {

std::mutex &plannerLock() {
  static std::mutex lock;
  return lock;
}

} // namespace

RealFft::RealFft(std::size_t length) : length_(length), plan_(nullptr) {
  if (length == 0 || length > INT_MAX / 2) {
    throw std::invalid_argument("RealFft: length " + std::to_string(length) + " is outside 1 to " +
                                std::to_string(INT_MAX / 2));
  }
  // A buffer on the same alignment as every caller's, so the plan may run on theirs. Estimated,
  // not measured: the plan is the same in every process, and so are the numbers it gives.
  auto *buffer = static_cast<float *>(
      ::operator new (bufferFloats() * sizeof(float), std::align_val_t{kAlignment}));
  {
    std::lock_guard lock(plannerLock());
    plan_ = fftwf_plan_dft_r2c_1d(static_cast<int>(length), buffer,
                                  reinterpret_cast<fftwf_complex *>(buffer), FFTW_ESTIMATE);
  }
  ::operator delete (buffer, std::align_val_t{kAlignment});
  if (plan_ == nullptr) {
    throw std::runtime_error("RealFft: no transform plan for length " + std::to_string(length));
  }
}

RealFft::~RealFft() {
  std::lock_guard lock(plannerLock());
  fftwf_destroy_plan(plan_);
}

void RealFft::forwardInPlace(float *buffer) const {
  fftwf_execute_dft_r2c(plan_, buffer, reinterpret_cast<fftwf_complex *>(buffer));
}

} // namespace platform::runner
