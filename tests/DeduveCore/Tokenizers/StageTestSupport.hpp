#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/StageConfigurationError.hpp"

namespace stagetest {

using Texts = std::vector<std::string>;

// A stage document from JSON text.
inline deduve::Config cfg(std::string_view json) {
  return deduve::Config(nlohmann::ordered_json::parse(json));
}

// The message of the StageConfigurationError that `build` throws; fails the test when it
// throws nothing or something else.
inline std::string refusal(const std::function<void()> &build) {
  try {
    build();
  } catch (const deduve::StageConfigurationError &error) {
    return error.what();
  } catch (const std::exception &error) {
    ADD_FAILURE() << "unexpected exception: " << error.what();
    return {};
  }
  ADD_FAILURE() << "nothing thrown";
  return {};
}

} // namespace stagetest
