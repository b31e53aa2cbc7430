#pragma once

#include "platform/ml/MLModel.hpp"

#include <memory>

namespace platform {

// A prediction for a caller that awaits it. On this platform an asynchronous call is a blocking
// call made on a worker thread, so this is the model's own prediction; its errors pass through
// unchanged. Safe from several threads at once, as MLModel::prediction is.
inline std::shared_ptr<MLFeatureProvider> asyncPrediction(const MLModel &model,
                                                          const MLFeatureProvider &input,
                                                          const MLPredictionOptions &options = {}) {
  return model.prediction(input, options);
}

// The stateful prediction for a caller that awaits it: the model's own stateful prediction,
// which reads and updates `state`; its errors (among them the no-state error of a model without
// state) pass through unchanged. One prediction at a time per state.
inline std::shared_ptr<MLFeatureProvider> asyncPrediction(const MLModel &model,
                                                          const MLFeatureProvider &input,
                                                          MLState &state,
                                                          const MLPredictionOptions &options = {}) {
  return model.prediction(input, state, options);
}

} // namespace platform
