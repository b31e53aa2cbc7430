#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/TokenizingModel.hpp"
#include "tests/support/TempDir.hpp"

namespace mqtest {

// Documents from JSON text. Parsed without keeping key order: an order-keeping parse inserts
// each key with a linear search, which is quadratic in the 50,000-entry vocabularies, and no
// tokenizer reading depends on the order of object keys.
inline deduve::Config doc(std::string_view json) {
  return deduve::Config(nlohmann::json::parse(json));
}

inline nlohmann::json jsonFile(const std::filesystem::path &file) {
  return nlohmann::json::parse(TempDir::read(file));
}

inline deduve::Config docFile(const std::filesystem::path &file) {
  return deduve::Config(jsonFile(file));
}

} // namespace mqtest
