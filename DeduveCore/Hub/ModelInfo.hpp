#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/ml/MLComputeUnits.hpp"

namespace deduve {

// One model inside a hub repository of models laid out as <name>[/<version>][/<variant>]/...
// A value; the compute units are carried for the caller and never read here.
struct ModelInfo {
  std::optional<std::string> version;
  std::optional<std::string> variant;
  std::string name;
  platform::MLComputeUnits computeUnits = platform::MLComputeUnits::all;

  // name/(version or *)/(variant or *)/* : the glob selecting the model's files.
  std::string downloadPattern() const;
  // baseURL/name[/version][/variant]: an absent part is left out, never a wildcard.
  std::filesystem::path modelURL(const std::filesystem::path &baseURL) const;
  // The present values among name, version, variant joined by "/".
  std::string description() const;
  // "ModelInfo(name: n, version: v|nil, variant: v|nil, computeUnit: word)".
  std::string debugDescription() const;
  // The parent of the nearest folder named like the model, looking at `url` itself first and
  // then at its ancestors (names compared under canonical equivalence); absent when none is,
  // the root never compared.
  std::optional<std::filesystem::path> findBaseFolder(const std::filesystem::path &url) const;
};

} // namespace deduve
