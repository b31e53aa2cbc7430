#pragma once

#include "platform/ml/runner/ops/Linear.hpp"

#include <cstddef>
#include <vector>

namespace platform::runner {

// The short-time power spectrum and log-mel scaling of the speech front end: a periodic Hann
// window of `fftLength` samples moved by `hop`, the signal reflected by fftLength / 2 at both ends,
// `samples / hop` frames, power spectra through a mel filterbank, then log10 with a floor of
// 1e-10, clamped to at most 8 below the window's maximum, and mapped by (x + 4) / 4.
class LogMelPlan {
public:
  // `filters` is [melCount x (fftLength / 2 + 1)], held by reference.
  LogMelPlan(std::size_t samples, std::size_t fftLength, std::size_t hop, MatrixView filters);

  std::size_t frames() const { return frames_; }
  std::size_t melCount() const { return filters_.rows; }
  std::size_t bins() const { return bins_; }
  // Floats of scratch one call needs.
  std::size_t scratchSize() const;

  // audio: `samples` floats. out: [melCount x frames], channel-major. Calls BLAS: not from
  // inside parallelFor. Reentrant with distinct scratch.
  void run(const float *audio, float *scratch, float *out) const;

private:
  std::size_t samples_;
  std::size_t fftLength_;
  std::size_t hop_;
  std::size_t frames_;
  std::size_t bins_;
  MatrixView filters_;
  // [fftLength x 2 * bins]: windowed cosine and sine columns, so one matrix product is the DFT.
  std::vector<float> basis_;
};

} // namespace platform::runner
