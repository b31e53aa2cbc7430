#include "platform/ml/MLState.hpp"

#include "platform/ml/MLModelError.hpp"

namespace platform {

std::set<std::string> MLState::stateNames() const {
  std::set<std::string> names;
  for (const auto &entry : buffers_) {
    names.insert(entry.first);
  }
  return names;
}

MLMultiArray MLState::multiArray(const std::string &name) const {
  const auto found = buffers_.find(name);
  if (found == buffers_.end()) {
    throw MLModelError(MLModelError::Code::featureType, "the state has no buffer " + name);
  }
  return found->second;
}

} // namespace platform
