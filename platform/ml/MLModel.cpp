#include "platform/ml/MLModel.hpp"

#include "platform/ml/MLModelError.hpp"

namespace platform {
namespace {

[[noreturn]] void noState(const MLModelDescription &description) {
  const auto kind = description.metadata.find("kind");
  throw MLModelError(MLModelError::Code::invalidModel,
                     (kind != description.metadata.end() ? kind->second : std::string("model")) +
                         ": the model holds no state");
}

} // namespace

std::shared_ptr<MLState> MLModel::makeState() const { noState(description()); }

std::shared_ptr<MLFeatureProvider>
MLModel::prediction(const MLFeatureProvider & /*input*/, MLState & /*state*/,
                    const MLPredictionOptions & /*options*/) const {
  noState(description());
}

} // namespace platform
