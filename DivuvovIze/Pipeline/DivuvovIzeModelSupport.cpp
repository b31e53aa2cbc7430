// Model support, model search and model download: the facade's static operations.
#include "DivuvovIze/Pipeline/DivuvovIze.hpp"

#include <fstream>
#include <set>
#include <sstream>

#include "DeduveCore/Hub/HubApiWrapper.hpp"
#include "DeduveCore/Support/CollectionUtilities.hpp"
#include "DeduveCore/Support/ProcessInfo.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/ModelUtilities.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"

namespace divuvovize {

namespace fs = std::filesystem;
using deduve::HubApiWrapper;

namespace {

// A model-support document is a few KB; anything near this bound is not one.
constexpr std::uintmax_t kMaxSupportDocumentBytes = 16 * 1024 * 1024;

std::string describe(const HubApiWrapper::Repo &repo) {
  return "Repo(id: \"" + repo.id + "\", type: " + std::string(HubApiWrapper::rawValue(repo.type)) +
         ")";
}

std::string inQuotes(const std::string &text) { return "\"" + text + "\""; }

// ["a", "b"]
std::string describeList(const std::vector<std::string> &names) {
  std::string text = "[";
  for (size_t i = 0; i < names.size(); ++i) {
    text += (i ? ", " : "") + inQuotes(names[i]);
  }
  return text + "]";
}

ModelSupportConfig readSupportDocument(const fs::path &file, const std::string &name) {
  const std::uintmax_t size = fs::file_size(file);
  if (size > kMaxSupportDocumentBytes) {
    throw std::runtime_error(file.string() + ": model-support document of " + std::to_string(size) +
                             " bytes exceeds the limit of " +
                             std::to_string(kMaxSupportDocumentBytes));
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    throw std::runtime_error(file.string() + ": cannot be read");
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return ModelSupportConfig::parse(bytes.str(), name);
}

// Distinct text before the first "/" of every name.
std::set<std::string> folderNames(const std::vector<std::string> &files) {
  std::set<std::string> names;
  for (const auto &file : files) {
    names.insert(file.substr(0, file.find('/')));
  }
  return names;
}

} // namespace

std::string DivuvovIze::deviceName() { return deduve::ProcessInfo::hwModel(); }

ModelSupport DivuvovIze::recommendedModels() {
  const std::string device = deviceName();
  modelslog::debug("Running on " + device);
  return Constants::fallbackModelSupportConfig().modelSupport(device);
}

ModelSupport DivuvovIze::recommendedRemoteModels(const std::string &repo,
                                                 const std::optional<fs::path> &downloadBase,
                                                 const std::optional<std::string> &token,
                                                 const std::string &remoteConfigName,
                                                 const std::string &endpoint) {
  const std::string device = deviceName();
  return fetchModelSupportConfig(repo, downloadBase, token, remoteConfigName, endpoint)
      .modelSupport(device);
}

ModelSupportConfig DivuvovIze::fetchModelSupportConfig(const std::string &repo,
                                                       const std::optional<fs::path> &downloadBase,
                                                       const std::optional<std::string> &token,
                                                       const std::string &remoteConfigName,
                                                       const std::string &endpoint) {
  const HubApiWrapper hub(downloadBase, token, endpoint, /*useBackgroundSession=*/false);
  const HubApiWrapper::Repo repository(repo, HubApiWrapper::RepoType::models);
  ModelSupportConfig fallback = Constants::fallbackModelSupportConfig();
  modelslog::debug("Searching for config file matching " + inQuotes(remoteConfigName) + " in " +
                   repo);

  std::vector<std::string> files;
  try {
    files = hub.getFilenames(repository, "main", {remoteConfigName});
  } catch (const std::exception &error) {
    modelslog::error(std::string("Fetch model support config failed with error: ") + error.what());
    return fallback;
  }
  if (files.empty()) {
    modelslog::info("No config files found matching " + inQuotes(remoteConfigName) + " in " + repo +
                    ", using fallback");
    return fallback;
  }
  if (files.size() > 1) {
    modelslog::info("Multiple config files found (" + std::to_string(files.size()) +
                    "): " + describeList(files) + ". Using first matching file: " + files.front());
  }
  try {
    const fs::path folder = hub.snapshot(repository, "main", {files.front()},
                                         [](const std::shared_ptr<deduve::Progress> &) {});
    return readSupportDocument(folder / files.front(), files.front());
  } catch (const std::exception &error) {
    modelslog::error(std::string("Fetch model support config failed with error: ") + error.what());
    return fallback;
  }
}

std::vector<std::string>
DivuvovIze::fetchAvailableModels(const std::string &repo, const std::vector<std::string> &patterns,
                                 const std::optional<fs::path> &downloadBase,
                                 const std::optional<std::string> &token,
                                 const std::string &remoteConfigName, const std::string &endpoint) {
  const ModelSupport support =
      fetchModelSupportConfig(repo, downloadBase, token, remoteConfigName, endpoint)
          .modelSupport(deviceName());
  std::set<std::string> kept;
  for (const auto &pattern : patterns) {
    for (auto &name : deduve::matching(support.supported, pattern)) {
      kept.insert(std::move(name));
    }
  }
  return sortModelsBySizeOrder(std::vector<std::string>(kept.begin(), kept.end()));
}

fs::path DivuvovIze::download(const std::string &variant,
                              const std::optional<fs::path> &downloadBase,
                              bool useBackgroundSession, const std::string &repo,
                              const std::optional<std::string> &token, const std::string &endpoint,
                              const ProgressCallback &progressCallback) {
  const HubApiWrapper hub(downloadBase, token, endpoint, useBackgroundSession);
  const HubApiWrapper::Repo repository(repo, HubApiWrapper::RepoType::models);
  try {
    std::string searchPath = "*" + variant + "/*";
    modelslog::debug("Searching for models matching " + inQuotes(searchPath) + " in " +
                     describe(repository));
    std::set<std::string> folders = folderNames(hub.getFilenames(repository, "main", {searchPath}));
    if (folders.size() != 1) {
      modelslog::debug("Multiple models found matching " + inQuotes(searchPath));
      searchPath = "*openai*" + variant + "/*";
      modelslog::debug("Searching for models matching " + inQuotes(searchPath) + " in " +
                       describe(repository));
      folders = folderNames(hub.getFilenames(repository, "main", {searchPath}));
      if (folders.size() != 1) {
        throw WhisperError::modelsUnavailable(std::string(folders.empty() ? "No" : "Multiple") +
                                              " models found matching " + inQuotes(searchPath) +
                                              " in " + describe(repository));
      }
    }
    const std::string folder = *folders.begin();
    modelslog::debug("Downloading model " + folder + "...");
    const fs::path local = hub.snapshot(
        repository, "main", {searchPath}, [&](const std::shared_ptr<deduve::Progress> &progress) {
          modelslog::debug("Progress: " + std::to_string(progress->completedUnitCount()) + "/" +
                           std::to_string(progress->totalUnitCount()));
          if (progressCallback) {
            progressCallback(progress);
          }
        });
    return local / folder;
  } catch (const std::exception &error) {
    modelslog::debug(error.what());
    throw;
  }
}

} // namespace divuvovize
