#include "DeduveCore/Hub/HubApiWrapper.hpp"

#include <mutex>

namespace deduve {

namespace {

HubApi makeClient(std::optional<std::filesystem::path> downloadBase,
                  std::optional<std::string> hfToken, std::optional<std::string> endpoint,
                  bool useBackgroundSession) {
  HubApi::Settings settings;
  settings.downloadBase = std::move(downloadBase);
  settings.hfToken = std::move(hfToken);
  settings.endpoint = std::move(endpoint);
  settings.useBackgroundSession = useBackgroundSession;
  return HubApi(std::move(settings));
}

HubApi::RepoType toHubApi(HubApiWrapper::RepoType type) {
  switch (type) {
  case HubApiWrapper::RepoType::datasets:
    return HubApi::RepoType::datasets;
  case HubApiWrapper::RepoType::spaces:
    return HubApi::RepoType::spaces;
  case HubApiWrapper::RepoType::models:
    break;
  }
  return HubApi::RepoType::models;
}

} // namespace

std::string_view HubApiWrapper::rawValue(RepoType type) {
  return HubApi::rawValue(deduve::toHubApi(type));
}

std::optional<HubApiWrapper::RepoType> HubApiWrapper::repoTypeFromRawValue(std::string_view raw) {
  for (const auto type : {RepoType::models, RepoType::datasets, RepoType::spaces}) {
    if (rawValue(type) == raw) {
      return type;
    }
  }
  return std::nullopt;
}

nlohmann::ordered_json HubApiWrapper::Repo::encode() const {
  nlohmann::ordered_json document = nlohmann::ordered_json::object();
  document["id"] = id;
  document["type"] = std::string(rawValue(type));
  return document;
}

HubApiWrapper::Repo HubApiWrapper::Repo::decode(const nlohmann::ordered_json &document) {
  if (!document.is_object()) {
    throw DecodingError("Repo: expected an object, found " + std::string(document.type_name()));
  }
  const auto stringField = [&document](const char *key) {
    const auto found = document.find(key);
    if (found == document.end()) {
      throw DecodingError(std::string("Repo: no value for key \"") + key + "\"");
    }
    if (!found->is_string()) {
      throw DecodingError(std::string("Repo: \"") + key + "\" is not a string but " +
                          found->type_name());
    }
    return found->get<std::string>();
  };
  Repo repo;
  repo.id = stringField("id");
  const auto raw = stringField("type");
  const auto type = repoTypeFromRawValue(raw);
  if (!type) {
    throw DecodingError("Cannot initialize RepoType from invalid String value " + raw);
  }
  repo.type = *type;
  return repo;
}

HubApi::Repo HubApiWrapper::Repo::toHubApi() const {
  return HubApi::Repo{id, deduve::toHubApi(type)};
}

HubApiWrapper::HubApiWrapper(std::optional<std::filesystem::path> downloadBase,
                             std::optional<std::string> hfToken,
                             std::optional<std::string> endpoint, bool useBackgroundSession)
    : impl(makeClient(std::move(downloadBase), std::move(hfToken), std::move(endpoint),
                      useBackgroundSession)) {}

HubApiWrapper HubApiWrapper::shared() {
  static const HubApiWrapper instance; // made once, thread-safe
  return instance;
}

std::vector<std::string>
HubApiWrapper::getFilenames(const Repo &repo, std::string_view revision,
                            const std::vector<std::string> &matching) const {
  return impl.getFilenames(repo.toHubApi(), revision, matching);
}

std::filesystem::path HubApiWrapper::snapshot(const Repo &repo, std::string_view revision,
                                              const std::vector<std::string> &matching,
                                              const HubApi::ProgressHandler &progressHandler,
                                              const platform::CancellationToken &cancellation) const {
  return impl.snapshot(repo.toHubApi(), revision, matching, progressHandler, cancellation);
}

std::filesystem::path HubApiWrapper::localRepoLocation(const Repo &repo) const {
  return impl.downloadBase / std::string(rawValue(repo.type)) / repo.id;
}

} // namespace deduve

std::size_t std::hash<deduve::HubApiWrapper::Repo>::operator()(
    const deduve::HubApiWrapper::Repo &repo) const noexcept {
  const std::size_t idHash = std::hash<std::string>{}(repo.id);
  const std::size_t typeHash =
      std::hash<std::string_view>{}(deduve::HubApiWrapper::rawValue(repo.type));
  return idHash ^ (typeHash + 0x9e3779b97f4a7c15ULL + (idHash << 6) + (idHash >> 2));
}
