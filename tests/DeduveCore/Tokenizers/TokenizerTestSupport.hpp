#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/TokenizingModel.hpp"
#include "tests/support/TempDir.hpp"

namespace mqtest {

// Documents from JSON text, read the way the loaders read tokenizer files.
inline deduve::Config doc(std::string_view json) { return deduve::Config::parse(json); }

inline nlohmann::json jsonFile(const std::filesystem::path &file) {
  return nlohmann::json::parse(TempDir::read(file));
}

inline deduve::Config docFile(const std::filesystem::path &file) {
  return deduve::Config::parse(TempDir::read(file));
}

} // namespace mqtest
