#pragma once

#include <cstddef>
#include <vector>

namespace platform::runner {

// Slaney's mel scale: linear below 1 kHz (200/3 Hz per mel), logarithmic above.
double hertzToMel(double hertz);
double melToHertz(double mel);

// Triangular mel filters over the power-spectrum bins of an `fftLength`-point transform at
// `sampleRate`, spanning 0 Hz to the Nyquist frequency, each normalised to unit area in mel
// (Slaney normalisation). Returns [melCount x (fftLength / 2 + 1)] row-major.
std::vector<float> melFilterbank(std::size_t melCount, std::size_t fftLength,
                                 double sampleRate = 16000.0);

} // namespace platform::runner
