#include "DeduveCore/Hub/ModelInfo.hpp"

#include "DeduveCore/Text/Unicode.hpp"

namespace deduve {

std::string ModelInfo::downloadPattern() const {
  return name + "/" + version.value_or("*") + "/" + variant.value_or("*") + "/*";
}

std::filesystem::path ModelInfo::modelURL(const std::filesystem::path &baseURL) const {
  std::filesystem::path url = baseURL / name;
  if (version) {
    url /= *version;
  }
  if (variant) {
    url /= *variant;
  }
  return url;
}

std::string ModelInfo::description() const {
  std::string text = name;
  for (const auto *part : {&version, &variant}) {
    if (*part) {
      text += "/" + **part;
    }
  }
  return text;
}

std::string ModelInfo::debugDescription() const {
  return "ModelInfo(name: " + name + ", version: " + version.value_or("nil") +
         ", variant: " + variant.value_or("nil") +
         ", computeUnit: " + platform::description(computeUnits) + ")";
}

std::optional<std::filesystem::path>
ModelInfo::findBaseFolder(const std::filesystem::path &url) const {
  const std::string wanted = normalize(name, NormalizationForm::nfc);
  std::filesystem::path current = url.lexically_normal();
  // A trailing separator leaves an empty last component; it names the same folder.
  if (!current.empty() && current.filename().empty()) {
    current = current.parent_path();
  }
  while (std::distance(current.begin(), current.end()) >= 2) {
    if (normalize(current.filename().string(), NormalizationForm::nfc) == wanted) {
      return current.parent_path();
    }
    current = current.parent_path();
  }
  return std::nullopt;
}

} // namespace deduve
