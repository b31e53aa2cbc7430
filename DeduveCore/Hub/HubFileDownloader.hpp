#pragma once

#include "DeduveCore/Hub/HubApi.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace deduve {

// One file of a hub repository and where it goes in the local repository folder. The snapshot
// makes one per listed file and hands it to HubApi::downloadSnapshotFile.
struct HubApi::HubFileDownloader {
  HubApi hub;                                    // token, endpoint and the two hash patterns
  Repo repo;                                     // repository id and kind
  std::string revision;                          // branch, tag or commit, e.g. "main"
  std::filesystem::path repoDestination;         // the repository folder
  std::filesystem::path repoMetadataDestination; // its .cache/huggingface/download folder
  std::string relativeFilename;                  // path inside the repository, may hold "/"
  std::optional<std::string> hfToken;            // bearer token of the transfer
  std::optional<std::string> endpoint;           // hub base URL; absent: the public hub
  bool backgroundSession = false;                // no effect on this platform

  // repoDestination / relativeFilename. Throws HubClientError::parseError for a name that is
  // not a safe relative path.
  std::filesystem::path destination() const;
  // repoMetadataDestination / (relativeFilename + ".metadata").
  std::filesystem::path metadataDestination() const;
  // repoMetadataDestination / (relativeFilename + "." + etag + ".incomplete"): a partial file
  // is only ever resumed for the same remote content.
  std::filesystem::path incompleteDestination(const std::string &etag) const;
  // The file's resolve URL on the hub.
  std::string source() const;

  // Creates the folders above `file` and, when no file is there, an empty one.
  static void prepareDestination(const std::filesystem::path &file);
};

} // namespace deduve
