#include "DeduveCore/Hub/ModelDownloader.hpp"

#include <system_error>

#include "DeduveCore/Support/Logging.hpp"
#include "DeduveCore/Support/ModelUtilities.hpp"

namespace deduve {

namespace fs = std::filesystem;

namespace {

std::string quoted(const std::string &text) { return "\"" + text + "\""; }

// The pattern's components before the first one holding "*"; empty components are skipped.
std::vector<std::string> fixedPrefix(const std::string &pattern) {
  std::vector<std::string> prefix;
  size_t start = 0;
  while (start <= pattern.size()) {
    size_t end = pattern.find('/', start);
    if (end == std::string::npos) {
      end = pattern.size();
    }
    std::string component = pattern.substr(start, end - start);
    if (!component.empty()) {
      if (component.find('*') != std::string::npos) {
        break;
      }
      prefix.push_back(std::move(component));
    }
    start = end + 1;
  }
  return prefix;
}

// True when `folder`/prefix exists and lists as a directory with at least one entry; a listing
// error counts as empty.
bool patternFoundLocally(const fs::path &folder, const std::string &pattern) {
  const std::vector<std::string> prefix = fixedPrefix(pattern);
  if (prefix.empty()) {
    return false;
  }
  fs::path place = folder;
  for (const auto &component : prefix) {
    place /= component;
  }
  std::error_code error;
  if (!fs::exists(place, error)) {
    return false;
  }
  fs::directory_iterator entries(place, error);
  return !error && entries != fs::directory_iterator();
}

} // namespace

ModelDownloader::ModelDownloader(ModelDownloadConfig config) : config_(std::move(config)) {}

ModelDownloader::ModelDownloader(std::string endpoint, std::string repoName,
                                 std::optional<std::string> modelToken, std::string revision,
                                 bool useBackgroundSession)
    : ModelDownloader(ModelDownloadConfig{std::nullopt, std::move(repoName), std::move(modelToken),
                                          std::nullopt, useBackgroundSession, std::move(endpoint),
                                          std::move(revision)}) {}

std::optional<fs::path>
ModelDownloader::effectiveDownloadBase(const std::optional<fs::path> &downloadBase) const {
  if (downloadBase) {
    return downloadBase;
  }
  return config_.downloadBase;
}

HubApi ModelDownloader::makeHubApi(const std::optional<fs::path> &downloadBase,
                                   std::optional<bool> useOfflineMode) const {
  HubApi::Settings settings;
  settings.downloadBase = downloadBase;
  settings.hfToken = config_.modelToken;
  settings.endpoint = config_.endpoint;
  settings.useBackgroundSession = config_.useBackgroundSession;
  settings.useOfflineMode = useOfflineMode;
  return HubApi(std::move(settings));
}

fs::path ModelDownloader::downloadModel(const ModelInfo &modelInfo,
                                        const std::optional<fs::path> &downloadBase,
                                        std::optional<bool> useOfflineMode) const {
  const std::string pattern = modelInfo.downloadPattern();
  const HubApi hub = makeHubApi(effectiveDownloadBase(downloadBase), useOfflineMode);
  if (useOfflineMode == true) {
    Logging::debug("[ModelDownloader] Searching for models matching " + quoted(pattern) +
                   " in Repo(id: \"" + config_.modelRepo + "\", type: models)");
    if (hub.getFilenames(repo(), config_.revision, {pattern}).empty()) {
      throw ModelDownloaderError::modelUnavailable("No models found matching " + quoted(pattern) +
                                                   " in " + config_.modelRepo);
    }
    Logging::debug("[ModelDownloader] Downloading model " + pattern + " with offline mode: true");
  } else {
    Logging::debug("[ModelDownloader] Downloading model " + pattern + " with offline mode: false");
  }
  return hub.snapshot(repo(), config_.revision, {pattern});
}

fs::path ModelDownloader::localRepoLocation(const std::optional<fs::path> &downloadBase) const {
  const HubApi hub = makeHubApi(effectiveDownloadBase(downloadBase), std::nullopt);
  return hub.downloadBase / "models" / config_.modelRepo;
}

fs::path ModelDownloader::resolveModel(const std::string &name, const ModelInfo &info,
                                       const std::optional<fs::path> &modelFolder,
                                       const std::optional<fs::path> &downloadBase, bool download,
                                       const StateCallback &modelStateCallback) const {
  const auto report = [&](ModelState state) {
    if (modelStateCallback) {
      modelStateCallback(state);
    }
  };
  const auto modelIn = [&](const fs::path &folder) {
    return modelURLIfExists(info.modelURL(folder), name);
  };

  if (const auto folder = modelFolder ? modelFolder : config_.modelFolder) {
    if (const auto url = modelIn(*folder)) {
      Logging::debug("[ModelDownloader] Found " + name + " in model folder");
      return *url;
    }
  }

  const std::optional<fs::path> base = effectiveDownloadBase(downloadBase);
  std::optional<fs::path> localCopy;
  try {
    localCopy = downloadModel(info, base, /*useOfflineMode=*/true);
  } catch (const std::exception &) {
    // Any failure here only means there is no usable local copy.
  }
  if (localCopy) {
    if (const auto url = modelIn(*localCopy)) {
      Logging::debug("[ModelDownloader] Found existing " + name + " in cache");
      report(ModelState::downloaded);
      return *url;
    }
  }

  if (!download) {
    throw ModelDownloaderError::modelUnavailable("No model found for " + name +
                                                 " (download disabled)");
  }
  report(ModelState::downloading);
  const fs::path folder = downloadModel(info, base, std::nullopt);
  const auto url = modelIn(folder);
  if (!url) {
    throw ModelDownloaderError::modelUnavailable("No model found for " + name);
  }
  Logging::debug("[ModelDownloader] Downloaded " + name);
  report(ModelState::downloaded);
  return *url;
}

std::string ModelDownloader::resolveModelPath(const std::string &name, const ModelInfo &info,
                                              const std::optional<fs::path> &modelFolder,
                                              const std::optional<fs::path> &downloadBase,
                                              bool download,
                                              const StateCallback &modelStateCallback) const {
  return resolveModel(name, info, modelFolder, downloadBase, download, modelStateCallback).string();
}

fs::path ModelDownloader::resolveRepo(const std::vector<std::string> &patterns,
                                      const std::optional<fs::path> &downloadBase, bool download,
                                      const ProgressCallback &progressCallback) const {
  const std::optional<fs::path> base = effectiveDownloadBase(downloadBase);
  const fs::path local = localRepoLocation(base);
  bool allFound = true;
  for (const auto &pattern : patterns) {
    if (!patternFoundLocally(local, pattern)) {
      allFound = false;
      break;
    }
  }
  if (allFound) {
    Logging::debug("[ModelDownloader] All models found in local cache at " + local.string());
    return local;
  }
  if (!download) {
    throw ModelDownloaderError::modelUnavailable("No local models found for repo '" +
                                                 config_.modelRepo + "' and download is disabled.");
  }
  const HubApi hub = makeHubApi(base, std::nullopt);
  Logging::info("[ModelDownloader] Downloading " + std::to_string(patterns.size()) +
                " model(s) from " + config_.modelRepo + "...");
  const fs::path folder = hub.snapshot(repo(), config_.revision, patterns,
                                       [&](const std::shared_ptr<Progress> &progress) {
                                         if (progressCallback) {
                                           progressCallback(progress);
                                         }
                                       });
  Logging::info("[ModelDownloader] Download complete: " + folder.string());
  return folder;
}

std::vector<std::string>
ModelDownloader::fetchFilenames(const std::vector<std::string> &patterns,
                                const std::optional<fs::path> &downloadBase) const {
  const HubApi hub = makeHubApi(effectiveDownloadBase(downloadBase), std::nullopt);
  return hub.getFilenames(repo(), config_.revision, patterns);
}

std::optional<fs::path> ModelDownloader::modelURLIfExists(const fs::path &folder,
                                                          const std::string &name) const {
  const fs::path candidate = ModelUtilities::detectModelURL(folder, name);
  std::error_code error;
  if (fs::exists(candidate, error)) {
    return candidate;
  }
  return std::nullopt;
}

} // namespace deduve
