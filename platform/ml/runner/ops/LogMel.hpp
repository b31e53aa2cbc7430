#pragma once

#include "platform/ml/runner/kernels/RealFft.hpp"
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
  // `filters` is [melCount x (fftLength / 2 + 1)], held by reference. Plans the transform.
  LogMelPlan(std::size_t samples, std::size_t fftLength, std::size_t hop, MatrixView filters);

  std::size_t frames() const { return frames_; }
  std::size_t melCount() const { return filters_.rows; }
  std::size_t bins() const { return bins_; }
  // Floats of scratch one call needs.
  std::size_t scratchSize() const;

  // audio: `samples` floats. out: [melCount x frames], channel-major. Shares the frames over the
  // runner's threads. Reentrant with distinct scratch; never allocates.
  void run(const float *audio, float *scratch, float *out) const;

private:
  // Each mel filter's nonzero bins, so a frame's filtering skips the zeros of the triangles.
  struct Band {
    std::size_t begin;
    std::size_t end;
  };

  // Frames whose mel energies are formed together, one a vector lane, and so written to the
  // channel-major output in runs of this many.
  static constexpr std::size_t kBlockFrames = 16;

  float sample(const float *audio, std::ptrdiff_t index) const;
  // Writes the windowed frame t into the transform buffer.
  void windowFrame(const float *audio, std::size_t t, float *buffer) const;
  // Writes the mel energies of the frames of block b, floored at 1e-10, into `out`; returns their
  // maximum. `work` is one task's share of the scratch.
  float melBlock(const float *audio, std::size_t b, float *work, float *out) const;
  std::size_t blocks() const { return (frames_ + kBlockFrames - 1) / kBlockFrames; }
  // The tasks the frames are shared out in, each with its own share of the scratch.
  std::size_t tasks() const;
  // Floats of one task's share: the transform buffer, then the power spectra of a block of frames,
  // bin by bin.
  std::size_t taskStride() const;

  std::size_t samples_;
  std::size_t fftLength_;
  std::size_t hop_;
  std::size_t frames_;
  std::size_t bins_;
  MatrixView filters_;
  std::vector<float> window_;
  std::vector<Band> bands_;
  RealFft fft_;
};

} // namespace platform::runner
