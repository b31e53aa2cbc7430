#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DivuvovIze/Models/JsonCoding.hpp"

namespace divuvovize {

// Models for one class of device: the default model folder name, the supported ones and the
// disabled ones. In documents only "default" and "supported" appear; `disabled` is rebuilt by
// the owning ModelSupportConfig.
struct ModelSupport {
  std::string defaultModel;           // document key "default"
  std::vector<std::string> supported; // model folder names
  std::vector<std::string> disabled;  // known models not in `supported`

  bool operator==(const ModelSupport &) const = default;

  Json toJson() const;
  static ModelSupport fromJson(const Json &document, const std::string &path = "");
};

// Which devices a ModelSupport applies to: device-identifier prefixes ("Mac14", "iPad13,16").
struct DeviceSupport {
  std::optional<std::string> chips; // human-readable chip names; information only
  std::vector<std::string> identifiers;
  ModelSupport models;

  bool operator==(const DeviceSupport &) const = default;

  Json toJson() const;
  static DeviceSupport fromJson(const Json &document, const std::string &path = "");
};

// The model-support table of one model repository.
class ModelSupportConfig {
public:
  // Builds the table. With `includeFallback`, when the built-in fallback table's name contains
  // `repoName`, the given rows are first merged with the fallback's rows: a given row sharing
  // an identifier with a fallback row gains that row's supported models (after its own, without
  // duplicates) and the fallback row is dropped; fallback rows sharing no identifier follow.
  // Then knownModels, defaultSupport and every row's `disabled` are computed.
  ModelSupportConfig(std::string repoName, std::string repoVersion,
                     std::vector<DeviceSupport> deviceSupports, bool includeFallback = true);

  const std::string &repoName() const { return repoName_; }
  const std::string &repoVersion() const { return repoVersion_; }
  const std::vector<DeviceSupport> &deviceSupports() const { return deviceSupports_; }
  // Every supported model of every row, once, in order of first appearance.
  const std::vector<std::string> &knownModels() const { return knownModels_; }
  // No chips, no identifiers; default "openai_whisper-base", every known model supported.
  const DeviceSupport &defaultSupport() const { return defaultSupport_; }

  // The row owning the longest identifier that prefixes `deviceIdentifier` (the earliest row
  // among equally long ones), else defaultSupport().models. Logs which one it chose.
  ModelSupport modelSupport(const std::string &deviceIdentifier) const;

  // Keys "name", "version", "device_support".
  Json toJson() const;
  // Decodes the three keys, then builds the table as the constructor does with includeFallback.
  static ModelSupportConfig fromJson(const Json &document, const std::string &path = "");
  // Reads a model-support document from its text, in time linear in its length: parsed by the
  // bounded reader of configuration documents (deduve::Config::parse), then decoded as
  // fromJson does with `path`. Throws that reader's nlohmann::json::parse_error,
  // JsonDecodingError, and std::runtime_error "<path>: nested more than 64 levels deep".
  static ModelSupportConfig parse(std::string_view text, const std::string &path);

private:
  void computeDerivedFields();

  std::string repoName_;
  std::string repoVersion_;
  std::vector<DeviceSupport> deviceSupports_;
  std::vector<std::string> knownModels_;
  DeviceSupport defaultSupport_;
};

// Rows `given` merged with `fallback` (see ModelSupportConfig's constructor).
std::vector<DeviceSupport> mergeDeviceSupports(const std::vector<DeviceSupport> &given,
                                               const std::vector<DeviceSupport> &fallback);

} // namespace divuvovize
