#pragma once

#include "platform/ml/MLComputeUnits.hpp"
#include "platform/ml/MLDictionaryFeatureProvider.hpp"
#include "platform/ml/MLFeatureProvider.hpp"
#include "platform/ml/MLModelDescription.hpp"
#include "platform/ml/MLState.hpp"

#include <memory>

namespace platform {

// Settings a model is loaded with.
struct MLModelConfiguration {
  MLComputeUnits computeUnits = MLComputeUnits::all; // no effect on this platform's runner
};

// Settings of one prediction.
struct MLPredictionOptions {
  // Caller-owned arrays, by output name, that the prediction writes those outputs into instead
  // of making new arrays. Each names an output of the model and has exactly its shape, any
  // strides; a float output accepts a float16, float32 or float64 backing (converted), any other
  // output its own data type. The result holds these same arrays (sharing their storage); when
  // they cover every output the result is this provider itself, so a prediction with full
  // backings makes no new output storage. The caller keeps the arrays from other use until the
  // prediction returns. Null: every output is a new array.
  std::shared_ptr<MLDictionaryFeatureProvider> outputBackings;
};

// A loaded model. Loading is the runner's business (it builds concrete models from model
// folders); this interface is what callers use.
//
// Thread-safety: description() and prediction() may be called from several threads at once on
// one model; implementations keep per-call state local and treat weights as read-only.
class MLModel {
public:
  virtual ~MLModel() = default;

  // The model's named inputs and outputs; valid as long as the model lives.
  virtual const MLModelDescription &description() const = 0;

  // Runs the model once. Blocks until done; callers on the main executor run it on a worker.
  // Throws MLModelError (featureType for missing or mis-shaped inputs and for an output backing
  // that names no output or does not fit it; nothing is written then). The result owns or
  // shares its arrays and stays valid after the model is gone.
  virtual std::shared_ptr<MLFeatureProvider>
  prediction(const MLFeatureProvider &input, const MLPredictionOptions &options = {}) const = 0;

  // A fresh state for a sequence of stateful predictions. Throws MLModelError (invalidModel,
  // "<model>: the model holds no state") for a model without state, which every model of this
  // platform's runner is; stateful models override both this and the stateful prediction.
  virtual std::shared_ptr<MLState> makeState() const;

  // Runs the model once with `state`, which it reads and updates in place. Blocks, like
  // prediction(); the same errors, and the no-state error above for a model without state.
  virtual std::shared_ptr<MLFeatureProvider>
  prediction(const MLFeatureProvider &input, MLState &state,
             const MLPredictionOptions &options = {}) const;
};

} // namespace platform
