#pragma once

// A text decoder network's step at one cache position with every buffer it needs, so a benchmark
// times the network step alone: the cross-attention memory of a constant encoder output in the
// form the network holds it (float16 for float16 weights), zeroed caches unless the caller brings
// its own, the masks of a window decoded up to `position`, and the outputs.

#include "platform/ml/runner/kernels/HugePageAllocator.hpp"
#include "platform/ml/runner/models/TextDecoderNetwork.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace mqbench {

struct NetworkStep {
  NetworkStep(const platform::runner::TextDecoderNetwork &network,
              const platform::runner::ModelDimensions &d, int position,
              const std::uint16_t *keyCache = nullptr, const std::uint16_t *valueCache = nullptr)
      : network(network), workspace(d), logits(d.vocabularySize), keys(d.decoderLayers * d.width),
        values(keys.size()), alignment(d.audioContext), padding(d.cacheLength, -10000.0f),
        update(d.cacheLength, 0) {
    std::vector<float> encoder(d.width * d.audioContext, 0.1f);
    if (network.memoryIsHalf()) {
      halfMemory.resize(network.memorySize());
      network.computeMemory(encoder.data(), halfMemory.data());
      step.halfMemory = halfMemory.data();
    } else {
      memory.resize(network.memorySize());
      network.computeMemory(encoder.data(), memory.data());
      step.memory = memory.data();
    }
    if (keyCache == nullptr || valueCache == nullptr) {
      cacheKeys.resize(keys.size() * d.cacheLength);
      cacheValues.resize(cacheKeys.size());
      keyCache = cacheKeys.data();
      valueCache = cacheValues.data();
    }
    std::fill(padding.begin(), padding.begin() + position + 1, 0.0f);
    update[static_cast<std::size_t>(position)] = 1;
    step.token = 440;
    step.position = position;
    step.keyCache = keyCache;
    step.valueCache = valueCache;
    step.updateMask = update.data();
    step.paddingMask = padding.data();
    out = {logits.data(), keys.data(), values.data(), alignment.data()};
  }

  void run() { network.step(step, workspace, out); }

  const platform::runner::TextDecoderNetwork &network;
  platform::runner::TextDecoderNetwork::Workspace workspace;
  // On huge pages, as the runner's own cross-attention memory is.
  platform::runner::HugePageVector<float> memory;
  platform::runner::HugePageVector<std::uint16_t> halfMemory;
  std::vector<float> logits, keys, values, alignment, padding;
  std::vector<std::uint16_t> cacheKeys, cacheValues;
  std::vector<std::int32_t> update;
  platform::runner::TextDecoderNetwork::StepInput step;
  platform::runner::TextDecoderNetwork::StepOutput out;
};

} // namespace mqbench
