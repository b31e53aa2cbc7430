#include "DivuvovIze/Decoding/Model/ModelPrediction.hpp"

#include "platform/ml/AsyncPrediction.hpp"

namespace divuvovize {

std::shared_ptr<platform::MLFeatureProvider>
predictInInterval(const platform::MLModel &model, const platform::MLFeatureProvider &input,
                  std::string_view interval, Signposter &signposter,
                  const platform::MLPredictionOptions &options) {
  const ScopedSignpostInterval scope(interval, signposter);
  return platform::asyncPrediction(model, input, options);
}

} // namespace divuvovize
