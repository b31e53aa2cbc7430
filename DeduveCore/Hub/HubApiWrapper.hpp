#pragma once

#include "DeduveCore/Hub/HubApi.hpp"
#include "platform/system/CancellationToken.hpp"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace deduve {

// The public face of the model-hub client for the app, the speech engine and the tokenizer
// loaders: list a repository, snapshot it, and tell where it lives on disk. A value: copies
// share only the client's network monitor. Operations block and may run on any thread.
class HubApiWrapper {
public:
  enum class RepoType { models, datasets, spaces };
  // "models", "datasets", "spaces": also the folder under the download base and the listing's
  // path segment.
  static std::string_view rawValue(RepoType type);
  // Exactly the three raw values, case-sensitive.
  static std::optional<RepoType> repoTypeFromRawValue(std::string_view raw);

  // A document that does not hold a repository value.
  class DecodingError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
  };

  struct Repo {
    std::string id; // "owner/name"
    RepoType type = RepoType::models;

    Repo() = default;
    Repo(std::string id, RepoType type) : id(std::move(id)), type(type) {}
    friend bool operator==(const Repo &, const Repo &) = default;

    // {"id": <id>, "type": <raw value>}.
    nlohmann::ordered_json encode() const;
    // Throws DecodingError for a missing key, a value of the wrong type or an unknown kind.
    static Repo decode(const nlohmann::ordered_json &document);
    // The client's twin, member for member.
    HubApi::Repo toHubApi() const;
  };

  // Builds `impl` from the four settings with no offline preference (the network state
  // decides). Never fails.
  explicit HubApiWrapper(std::optional<std::filesystem::path> downloadBase = std::nullopt,
                         std::optional<std::string> hfToken = std::nullopt,
                         std::optional<std::string> endpoint = std::nullopt,
                         bool useBackgroundSession = false);

  // The process-wide default (every setting at its default), made once; returns a copy.
  static HubApiWrapper shared();

  // The repository's file names at `revision` matching any of `matching` (none: every name).
  std::vector<std::string> getFilenames(const Repo &repo, std::string_view revision,
                                        const std::vector<std::string> &matching) const;

  // Snapshot of the matching files; returns localRepoLocation(repo). Errors pass through.
  std::filesystem::path snapshot(const Repo &repo, std::string_view revision,
                                 const std::vector<std::string> &matching,
                                 const HubApi::ProgressHandler &progressHandler = {},
                                 const platform::CancellationToken &cancellation = {}) const;

  // <downloadBase>/<type>/<id>; touches neither disk nor network.
  std::filesystem::path localRepoLocation(const Repo &repo) const;

  HubApi impl;
};

} // namespace deduve

template <> struct std::hash<deduve::HubApiWrapper::Repo> {
  // Feeds the id, then the raw value of the type.
  std::size_t operator()(const deduve::HubApiWrapper::Repo &repo) const noexcept;
};
