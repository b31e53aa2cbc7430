#pragma once

#include "platform/ml/runner/CrossMemoryCache.hpp"
#include "platform/ml/runner/RunnerModel.hpp"
#include "platform/ml/runner/kernels/ObjectPool.hpp"
#include "platform/ml/runner/models/TextDecoderNetwork.hpp"

#include <memory>

namespace platform::runner {

// One decoder step over the key/value cache protocol:
// inputs "input_ids" [1] (the token), "cache_length" [1] (its position), "key_cache" and
// "value_cache" [1, layers * D, 1, S], "kv_cache_update_mask" [1, S] (1 at the slot this step
// fills), "encoder_output_embeds" [1, D, 1, positions], "decoder_key_padding_mask" [1, S]
// (0 attended, -10000 masked);
// outputs "logits" [1, 1, vocabulary], "key_cache_updates" and "value_cache_updates"
// [1, layers * D, 1, 1] (this position's keys and values of every layer), and, when listed,
// "alignment_heads_weights" [1, positions] (cross-attention weights averaged over the alignment
// heads).
class TextDecoderModel final : public RunnerModel {
public:
  TextDecoderModel(std::filesystem::path folder, ModelConfig config);
  ~TextDecoderModel() override;

  std::shared_ptr<MLFeatureProvider> prediction(const MLFeatureProvider &input,
                                                const MLPredictionOptions &options) const override;
  using MLModel::prediction;

  const TextDecoderNetwork &network() const { return *network_; }

private:
  struct Workspace;
  std::unique_ptr<TextDecoderNetwork> network_;
  std::unique_ptr<CrossMemoryCache> memories_;
  mutable ObjectPool<Workspace> workspaces_;
};

} // namespace platform::runner
