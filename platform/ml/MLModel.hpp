#pragma once

#include "platform/ml/MLComputeUnits.hpp"
#include "platform/ml/MLFeatureProvider.hpp"
#include "platform/ml/MLModelDescription.hpp"

#include <memory>

namespace platform {

// Settings a model is loaded with.
struct MLModelConfiguration {
  MLComputeUnits computeUnits = MLComputeUnits::all; // no effect on this platform's runner
};

// Settings of one prediction. No options exist yet; the type keeps call sites stable.
struct MLPredictionOptions {};

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
  const MLModelDescription &modelDescription() const { return description(); }

  // Runs the model once. Blocks until done; callers on the main executor run it on a worker.
  // Throws MLModelError (featureType for missing or mis-shaped inputs). The result owns or
  // shares its arrays and stays valid after the model is gone.
  virtual std::shared_ptr<MLFeatureProvider>
  prediction(const MLFeatureProvider &input, const MLPredictionOptions &options = {}) const = 0;
};

} // namespace platform
