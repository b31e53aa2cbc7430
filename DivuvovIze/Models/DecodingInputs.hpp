#pragma once

#include <vector>

#include "platform/ml/MLMultiArray.hpp"

namespace divuvovize {

// The decoder's reusable inputs as the transcription task sees them.
class DecodingInputsType {
public:
  virtual ~DecodingInputsType() = default;

  virtual std::vector<int> &initialPrompt() = 0;
  virtual platform::MLMultiArray &inputIds() = 0;
  virtual platform::MLMultiArray &cacheLength() = 0;
  // Empties the key-value cache for a new window over `maxTokenContext` positions.
  virtual void reset(int maxTokenContext) = 0;
};

// One window's decoder inputs, updated in place at every step (so one instance is reused
// across the steps and windows of a transcription). The arrays' shapes come from the decoder
// model; this type allocates none of them. Arrays are handles: copies share storage.
class DecodingInputs : public DecodingInputsType {
public:
  DecodingInputs(std::vector<int> initialPrompt, platform::MLMultiArray inputIds,
                 platform::MLMultiArray cacheLength, platform::MLMultiArray keyCache,
                 platform::MLMultiArray valueCache, platform::MLMultiArray alignmentWeights,
                 platform::MLMultiArray kvCacheUpdateMask,
                 platform::MLMultiArray decoderKeyPaddingMask);

  std::vector<int> &initialPrompt() override { return initialPrompt_; }
  platform::MLMultiArray &inputIds() override { return inputIds_; }
  platform::MLMultiArray &cacheLength() override { return cacheLength_; }
  platform::MLMultiArray &keyCache() { return keyCache_; }
  platform::MLMultiArray &valueCache() { return valueCache_; }
  platform::MLMultiArray &alignmentWeights() { return alignmentWeights_; }
  // One entry per cache position: 1 where the current step writes, 0 elsewhere.
  platform::MLMultiArray &kvCacheUpdateMask() { return kvCacheUpdateMask_; }
  // One entry per cache position: 0 where attention may look, -10000 where it may not.
  platform::MLMultiArray &decoderKeyPaddingMask() { return decoderKeyPaddingMask_; }

  // cacheLength[0] = 0; padding mask [0] = 0 and [1 ..< n] = -10000; update mask [0] = 1 and
  // [1 ..< n] = 0, with n = maxTokenContext clamped to the masks' sizes (a larger n never
  // writes past an array). Caches, inputIds, alignmentWeights and the prompt are kept.
  void reset(int maxTokenContext) override;

private:
  std::vector<int> initialPrompt_;
  platform::MLMultiArray inputIds_;
  platform::MLMultiArray cacheLength_;
  platform::MLMultiArray keyCache_;
  platform::MLMultiArray valueCache_;
  platform::MLMultiArray alignmentWeights_;
  platform::MLMultiArray kvCacheUpdateMask_;
  platform::MLMultiArray decoderKeyPaddingMask_;
};

} // namespace divuvovize
