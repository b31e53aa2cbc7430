#pragma once

#include "platform/services/LanguageModel.hpp"

namespace platform {

// The on-device language model of a system that has none (Linux): always unsupportedSystem,
// so callers take their road without one. Making a session anyway fails. Thread-safe.
class UnavailableLanguageModel final : public LanguageModel {
public:
  LanguageModelAvailability availability() const override {
    return LanguageModelAvailability::unsupportedSystem;
  }
  // Throws LanguageModelError.
  std::shared_ptr<LanguageModelSession> makeSession(const std::string &instructions) override;
};

} // namespace platform
