#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/TokenizingModel.hpp"
#include "tests/support/TempDir.hpp"

namespace mqtest {

// A document from JSON text, as the loaders read it.
inline deduve::Config doc(std::string_view json) {
  return deduve::Config(nlohmann::ordered_json::parse(json));
}

inline deduve::Config docFile(const std::filesystem::path &file) {
  return deduve::Config(nlohmann::ordered_json::parse(TempDir::read(file)));
}

inline nlohmann::ordered_json jsonFile(const std::filesystem::path &file) {
  return nlohmann::ordered_json::parse(TempDir::read(file));
}

} // namespace mqtest
