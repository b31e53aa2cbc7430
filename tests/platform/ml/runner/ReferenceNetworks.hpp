#pragma once

// Plain-loop implementations of the speech networks, written for clarity rather than speed, that
// the runner's optimised networks are checked against. They read the same weight files.

#include "platform/ml/runner/formats/ModelConfig.hpp"
#include "platform/ml/runner/formats/SafeTensorsFile.hpp"

#include <cstdint>
#include <utility>
#include <vector>

namespace mqtest {

// mel: [n_mels x 2T] channel-major. Returns [T x D] time-major.
std::vector<float> referenceEncoder(const platform::runner::ModelDimensions &d,
                                    const platform::runner::SafeTensorsFile &weights,
                                    const std::vector<float> &mel);

struct ReferenceDecoding {
  std::vector<std::vector<float>> logits;     // per position, vocabulary
  std::vector<std::vector<double>> alignment; // per position, T (mean over alignment heads)
};

// Runs the whole token sequence at once with causal self-attention (no cache). encoder:
// [D x T] channel-major. With `halfCache`, keys and values of earlier positions are rounded to
// float16 as a float16 cache would hold them (the current position keeps its exact values). With
// `halfMemory`, the cross-attention keys and values are rounded to float16 as a float16 memory
// holds them.
ReferenceDecoding
referenceDecoder(const platform::runner::ModelDimensions &d,
                 const std::vector<std::pair<std::size_t, std::size_t>> &alignmentHeads,
                 const platform::runner::SafeTensorsFile &weights,
                 const std::vector<std::int32_t> &tokens, const std::vector<float> &encoder,
                 bool halfCache, bool halfMemory = false);

} // namespace mqtest
