#pragma once

#include <cstddef>

struct fftwf_plan_s;

namespace platform::runner {

// The discrete Fourier transform of a real signal of one fixed length, in single precision,
// planned once (FFTW). Making and destroying one take a process-wide lock, because FFTW's planner
// is not thread-safe; forwardInPlace is safe from any number of threads at once.
class RealFft {
public:
  // Bytes a transform buffer's start must be a multiple of.
  static constexpr std::size_t kAlignment = 64;

  explicit RealFft(std::size_t length);
  ~RealFft();
  RealFft(const RealFft &) = delete;
  RealFft &operator=(const RealFft &) = delete;

  std::size_t length() const { return length_; }
  // Floats a transform buffer holds: the length / 2 + 1 complex coefficients.
  std::size_t bufferFloats() const { return 2 * (length_ / 2 + 1); }

  // buffer: bufferFloats() floats starting on kAlignment, whose first length() are the signal.
  // Replaced by the coefficients X[k] = sum x[n] exp(-2 pi i k n / length) for k = 0 ..
  // length / 2, interleaved real and imaginary. Never allocates.
  void forwardInPlace(float *buffer) const;

private:
  std::size_t length_;
  fftwf_plan_s *plan_;
};

} // namespace platform::runner
