#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "DeduveCore/Hub/HubApi.hpp"
#include "DeduveCore/Hub/ModelInfo.hpp"
#include "DeduveCore/Hub/ModelState.hpp"
#include "DeduveCore/Hub/Progress.hpp"

namespace deduve {

// Where a downloader finds and keeps models. Every field is given by the creator.
struct ModelDownloadConfig {
  // Folder under which the hub client keeps repositories; absent: the client's default.
  std::optional<std::filesystem::path> downloadBase;
  // Id of the hub repository of models ("owner/name").
  std::string modelRepo;
  // Access token; absent lets the hub client find one itself.
  std::optional<std::string> modelToken;
  // A folder that already holds models; searched first by resolveModel.
  std::optional<std::filesystem::path> modelFolder;
  // Handed to the hub client (kind of download session).
  bool useBackgroundSession = false;
  // The hub's base URL, always handed to the hub client.
  std::string endpoint;
  // Branch, tag or commit listed and fetched.
  std::string revision = "main";
};

// A model that could not be found or fetched. what() is the message itself.
class ModelDownloaderError : public std::runtime_error {
public:
  enum class Kind { modelUnavailable };
  static ModelDownloaderError modelUnavailable(const std::string &message) {
    return ModelDownloaderError(message);
  }
  Kind kind() const noexcept { return Kind::modelUnavailable; }
  std::string errorDescription() const { return what(); }

private:
  explicit ModelDownloaderError(const std::string &message) : std::runtime_error(message) {}
};

// Finds one model of a hub repository on disk (an explicit folder, then the hub client's local
// copy, then a download), or a set of files by glob patterns. Holds only its configuration and
// makes a fresh hub client per operation, so one downloader may be shared between threads.
// Every operation blocks; hub errors pass through unchanged unless said otherwise.
class ModelDownloader {
public:
  using StateCallback = std::function<void(ModelState)>;
  using ProgressCallback = std::function<void(const std::shared_ptr<Progress> &)>;

  explicit ModelDownloader(ModelDownloadConfig config);
  ModelDownloader(std::string endpoint, std::string repoName, std::optional<std::string> modelToken,
                  std::string revision, bool useBackgroundSession);
  virtual ~ModelDownloader() = default;

  const ModelDownloadConfig &config() const { return config_; }

  // Snapshots the files of `modelInfo.downloadPattern()` and returns the local repository
  // folder. With `useOfflineMode` true the repository is listed first and an empty listing is
  // modelUnavailable; false and absent skip the listing.
  virtual std::filesystem::path
  downloadModel(const ModelInfo &modelInfo,
                const std::optional<std::filesystem::path> &downloadBase = std::nullopt,
                std::optional<bool> useOfflineMode = std::nullopt) const;

  // <the hub client's download folder>/models/<modelRepo>; touches no file.
  virtual std::filesystem::path
  localRepoLocation(const std::optional<std::filesystem::path> &downloadBase = std::nullopt) const;

  // The model file `name` of `info`: from the explicit folder (argument, else configuration),
  // else the local copy (reported as downloaded), else a download when `download` is true
  // (reported as downloading, then downloaded).
  virtual std::filesystem::path
  resolveModel(const std::string &name, const ModelInfo &info,
               const std::optional<std::filesystem::path> &modelFolder = std::nullopt,
               const std::optional<std::filesystem::path> &downloadBase = std::nullopt,
               bool download = true, const StateCallback &modelStateCallback = {}) const;

  // The path text of resolveModel's answer (through an overriding resolveModel).
  virtual std::string
  resolveModelPath(const std::string &name, const ModelInfo &info,
                   const std::optional<std::filesystem::path> &modelFolder = std::nullopt,
                   const std::optional<std::filesystem::path> &downloadBase = std::nullopt,
                   bool download = true, const StateCallback &modelStateCallback = {}) const;

  // The local repository folder when every pattern's fixed leading folders exist and hold an
  // entry; otherwise a snapshot of all patterns (when `download` is true).
  virtual std::filesystem::path
  resolveRepo(const std::vector<std::string> &patterns,
              const std::optional<std::filesystem::path> &downloadBase = std::nullopt,
              bool download = true, const ProgressCallback &progressCallback = {}) const;

  // The repository's file names matching the patterns at the configured revision.
  virtual std::vector<std::string>
  fetchFilenames(const std::vector<std::string> &patterns,
                 const std::optional<std::filesystem::path> &downloadBase = std::nullopt) const;

  // ModelUtilities::detectModelURL(folder, name) when something exists there.
  virtual std::optional<std::filesystem::path> modelURLIfExists(const std::filesystem::path &folder,
                                                                const std::string &name) const;

private:
  std::optional<std::filesystem::path>
  effectiveDownloadBase(const std::optional<std::filesystem::path> &downloadBase) const;
  HubApi makeHubApi(const std::optional<std::filesystem::path> &downloadBase,
                    std::optional<bool> useOfflineMode) const;
  HubApi::Repo repo() const { return {config_.modelRepo, HubApi::RepoType::models}; }

  ModelDownloadConfig config_;
};

} // namespace deduve
