#include "platform/services/UnavailableLanguageModel.hpp"

namespace platform {

std::shared_ptr<LanguageModelSession> UnavailableLanguageModel::makeSession(const std::string &) {
  throw LanguageModelError("this system has no on-device language model");
}

} // namespace platform
