#pragma once

#include "DivuvovIze/Logging/Signposts.hpp"
#include "platform/ml/MLModel.hpp"

#include <memory>
#include <string_view>

namespace divuvovize {

// One prediction of a component's model, inside the signpost interval `interval` of
// `signposter` (ended however the prediction ends). Blocks; the model's errors pass through
// unchanged.
std::shared_ptr<platform::MLFeatureProvider>
predictInInterval(const platform::MLModel &model, const platform::MLFeatureProvider &input,
                  std::string_view interval, Signposter &signposter,
                  const platform::MLPredictionOptions &options = {});

} // namespace divuvovize
