#pragma once

#include "platform/ml/MLMultiArray.hpp"

#include <map>
#include <set>
#include <string>

namespace platform {

// The state a stateful model keeps from one prediction of a sequence to the next: named
// buffers, made by the model (MLModel::makeState) and handed to each stateful prediction, which
// reads and updates them in place. One state belongs to one sequence: not synchronised, so one
// prediction at a time per state.
class MLState {
public:
  explicit MLState(std::map<std::string, MLMultiArray> buffers) : buffers_(std::move(buffers)) {}

  std::set<std::string> stateNames() const;
  // The named buffer, sharing its storage with the state; throws MLModelError (featureType) for a
  // name the state does not have.
  MLMultiArray multiArray(const std::string &name) const;

private:
  std::map<std::string, MLMultiArray> buffers_;
};

} // namespace platform
