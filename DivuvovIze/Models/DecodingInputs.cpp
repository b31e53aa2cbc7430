#include "DivuvovIze/Models/DecodingInputs.hpp"

#include <algorithm>

namespace divuvovize {

DecodingInputs::DecodingInputs(std::vector<int> initialPrompt, platform::MLMultiArray inputIds,
                               platform::MLMultiArray cacheLength, platform::MLMultiArray keyCache,
                               platform::MLMultiArray valueCache,
                               platform::MLMultiArray alignmentWeights,
                               platform::MLMultiArray kvCacheUpdateMask,
                               platform::MLMultiArray decoderKeyPaddingMask)
    : initialPrompt_(std::move(initialPrompt)), inputIds_(std::move(inputIds)),
      cacheLength_(std::move(cacheLength)), keyCache_(std::move(keyCache)),
      valueCache_(std::move(valueCache)), alignmentWeights_(std::move(alignmentWeights)),
      kvCacheUpdateMask_(std::move(kvCacheUpdateMask)),
      decoderKeyPaddingMask_(std::move(decoderKeyPaddingMask)) {}

void DecodingInputs::reset(int maxTokenContext) {
  if (cacheLength_.count() > 0) {
    cacheLength_.setValue(0, 0.0);
  }
  if (decoderKeyPaddingMask_.count() > 0) {
    decoderKeyPaddingMask_.setValue(0, 0.0);
  }
  if (kvCacheUpdateMask_.count() > 0) {
    kvCacheUpdateMask_.setValue(0, 1.0);
  }
  const int paddingEnd = std::min(maxTokenContext, decoderKeyPaddingMask_.count());
  for (int i = 1; i < paddingEnd; ++i) {
    decoderKeyPaddingMask_.setValue(i, -10000.0);
  }
  const int updateEnd = std::min(maxTokenContext, kvCacheUpdateMask_.count());
  for (int i = 1; i < updateEnd; ++i) {
    kvCacheUpdateMask_.setValue(i, 0.0);
  }
}

} // namespace divuvovize
