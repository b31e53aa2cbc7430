#include "DeduveCore/Hub/HubApi.hpp"

#include <iostream>
#include <mutex>
#include <utility>

#include <syslog.h>

#include "DeduveCore/Hub/NetworkMonitor.hpp"
#include "DeduveCore/Hub/TextFile.hpp"
#include "platform/net/HttpUrl.hpp"

namespace deduve {

namespace {

// The whole file as UTF-8 text, or nothing when it cannot be read or is not UTF-8.
std::optional<std::string> readTextFile(const std::filesystem::path &file) {
  std::string text;
  try {
    text = readWholeFile(file);
  } catch (const std::exception &) {
    return std::nullopt;
  }
  if (!isValidUtf8(text)) {
    return std::nullopt;
  }
  return text;
}

std::filesystem::path expandingTilde(const std::string &path, const platform::Environment &env) {
  if (path == "~") {
    return env.homeDirectory();
  }
  if (path.rfind("~/", 0) == 0) {
    return env.homeDirectory() / path.substr(2);
  }
  return path;
}

std::mutex &logMutex() {
  static std::mutex mutex;
  return mutex;
}

HubApi::LogSink &logSink() {
  static HubApi::LogSink sink;
  return sink;
}

} // namespace

std::string_view HubApi::rawValue(RepoType type) {
  switch (type) {
  case RepoType::datasets:
    return "datasets";
  case RepoType::spaces:
    return "spaces";
  case RepoType::models:
    break;
  }
  return "models";
}

std::optional<HubApi::RepoType> HubApi::repoTypeFromRawValue(std::string_view raw) {
  if (raw == "models") {
    return RepoType::models;
  }
  if (raw == "datasets") {
    return RepoType::datasets;
  }
  if (raw == "spaces") {
    return RepoType::spaces;
  }
  return std::nullopt;
}

HubApi::SiblingsResponse HubApi::SiblingsResponse::decode(const nlohmann::ordered_json &document) {
  SiblingsResponse response;
  for (const auto &sibling : document.at("siblings")) {
    response.siblings.push_back({sibling.at("rfilename").get<std::string>()});
  }
  return response;
}

nlohmann::ordered_json HubApi::SiblingsResponse::encode() const {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const auto &sibling : siblings) {
    list.push_back({{"rfilename", sibling.rfilename}});
  }
  return {{"siblings", std::move(list)}};
}

HubApi::HubApi() : HubApi(Settings()) {}

HubApi::HubApi(Settings settings) : HubApi(std::move(settings), platform::Environment::process()) {}

HubApi::HubApi(Settings settings, platform::Environment env) : environment(std::move(env)) {
  networkMonitor =
      NetworkMonitor::make(settings.makePathMonitor ? settings.makePathMonitor() : nullptr);
  hfToken = settings.hfToken ? settings.hfToken : hfTokenFromEnvironment(environment);
  if (environment.variable("CI_DISABLE_NETWORK_MONITOR") == "1") {
    std::cout << (hfToken ? "✅ got token" : "🔴 NO TOKEN **") << std::endl;
  }
  downloadBase = settings.downloadBase ? *settings.downloadBase
                                       : environment.documentsDirectory() / "huggingface";
  if (settings.endpoint) {
    endpoint = *settings.endpoint;
  } else {
    endpoint = environment.variable("HF_ENDPOINT").value_or(std::string(kDefaultEndpoint));
  }
  useBackgroundSession = settings.useBackgroundSession;
  useOfflineMode = settings.useOfflineMode;
  maxDocumentBytes = settings.maxDocumentBytes;
  speedFloor = settings.speedFloor;
  sharedMonitor = settings.sharedMonitor ? settings.sharedMonitor : NetworkMonitor::shared();
  sharedMonitor->restart();
}

std::optional<std::string> HubApi::hfTokenFromEnvironment(const platform::Environment &env) {
  auto nonEmpty = [](std::optional<std::string> value) -> std::optional<std::string> {
    if (value && !value->empty()) {
      return value;
    }
    return std::nullopt;
  };
  if (auto token = nonEmpty(env.variable("HF_TOKEN"))) {
    return token;
  }
  if (auto token = nonEmpty(env.variable("HUGGING_FACE_HUB_TOKEN"))) {
    return token;
  }
  if (const auto path = env.variable("HF_TOKEN_PATH")) {
    if (auto token = nonEmpty(readTextFile(expandingTilde(*path, env)))) {
      return token;
    }
  }
  if (const auto home = env.variable("HF_HOME")) {
    if (auto token = nonEmpty(readTextFile(expandingTilde(*home, env) / "token"))) {
      return token;
    }
  }
  const auto home = env.homeDirectory();
  if (auto token = nonEmpty(readTextFile(home / ".cache" / "huggingface" / "token"))) {
    return token;
  }
  return nonEmpty(readTextFile(home / ".huggingface" / "token"));
}

bool HubApi::shouldWorkOffline() const {
  const bool verdict = sharedMonitor->state().shouldUseOfflineMode(environment);
  return useOfflineMode.value_or(verdict);
}

Config HubApi::configuration(const std::filesystem::path &fileURL) {
  std::string bytes;
  try {
    bytes = readWholeFile(fileURL);
  } catch (const std::exception &error) {
    throw Hub::HubClientError::fileSystemError(error.what());
  }
  const std::string url =
      "file://" + platform::percentEncodePath(std::filesystem::absolute(fileURL).generic_string());
  Config document;
  try {
    document = Config::parse(bytes);
  } catch (const nlohmann::json::exception &) {
    throw Hub::HubClientError::jsonSerialization(
        url, "JSON Serialization failed for " + url +
                 ". Please verify that you have set the HF_TOKEN environment variable.");
  }
  if (document.kind() != Config::Kind::dictionary) {
    throw Hub::HubClientError::parse();
  }
  return document;
}

HubApi::LogSink HubApi::setLogSink(LogSink sink) {
  std::lock_guard lock(logMutex());
  return std::exchange(logSink(), std::move(sink));
}

void HubApi::logError(const std::string &line) {
  LogSink sink;
  {
    std::lock_guard lock(logMutex());
    sink = logSink();
  }
  if (sink) {
    sink(line);
  } else {
    syslog(LOG_ERR, "%s", line.c_str());
  }
}

HubApi::EnvironmentError::EnvironmentError(Kind kind, const std::string &prefix,
                                           std::string message)
    : std::runtime_error(prefix + message), kind_(kind), message_(std::move(message)) {}

HubApi::EnvironmentError HubApi::EnvironmentError::invalidMetadataError(std::string message) {
  return {Kind::invalidMetadataError, "Invalid metadata: ", std::move(message)};
}

HubApi::EnvironmentError HubApi::EnvironmentError::offlineModeError(std::string message) {
  return {Kind::offlineModeError, "Offline mode error: ", std::move(message)};
}

HubApi::EnvironmentError HubApi::EnvironmentError::fileIntegrityError(std::string message) {
  return {Kind::fileIntegrityError, "File integrity check failed: ", std::move(message)};
}

HubApi::EnvironmentError HubApi::EnvironmentError::fileWriteError(std::string message) {
  return {Kind::fileWriteError, "Failed to write file: ", std::move(message)};
}

} // namespace deduve
