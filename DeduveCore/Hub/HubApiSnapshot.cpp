// The repository snapshot and the per-file download of the hub client.

#include "DeduveCore/Hub/HubApi.hpp"

#include "DeduveCore/Hub/Downloader.hpp"
#include "DeduveCore/Hub/HubFileDownloader.hpp"
#include "platform/net/UrlError.hpp"
#include "platform/system/CancellationError.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <regex>
#include <string_view>
#include <system_error>
#include <unordered_set>

namespace deduve {

namespace fs = std::filesystem;

namespace {

// Whole-text match of one of the client's patterns; a pattern that does not compile matches
// nothing.
bool matchesPattern(const std::string &pattern, const std::string &text) {
  try {
    return std::regex_search(text, std::regex(pattern));
  } catch (const std::regex_error &) {
    return false;
  }
}

// Only a regular file (or a link to one) counts as a local copy; a folder in its place never
// passes for a current file.
bool regularFileExists(const fs::path &path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

std::string lastComponent(const fs::path &path) { return path.filename().string(); }

fs::path metadataFolder(const fs::path &repoDestination) {
  return repoDestination / ".cache" / "huggingface" / "download";
}

// Keeps the first of each repeated name, in the listing's order. A listing without patterns
// passes the server's repeats through, and each would be asked for again: a listing of one
// name many times over would cost a request per copy.
void dropRepeatedNames(std::vector<std::string> &names) {
  std::vector<bool> first(names.size());
  {
    std::unordered_set<std::string_view> seen;
    for (std::size_t i = 0; i < names.size(); ++i) {
      first[i] = seen.insert(names[i]).second;
    }
  }
  std::vector<std::string> kept;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (first[i]) {
      kept.push_back(std::move(names[i]));
    }
  }
  names = std::move(kept);
}

} // namespace

// --- HubFileDownloader ----------------------------------------------------------------------

fs::path HubApi::HubFileDownloader::destination() const {
  return HubApi::localPath(repoDestination, relativeFilename);
}

fs::path HubApi::HubFileDownloader::metadataDestination() const {
  return HubApi::localPath(repoMetadataDestination, relativeFilename + ".metadata");
}

fs::path HubApi::HubFileDownloader::incompleteDestination(const std::string &etag) const {
  return HubApi::localPath(repoMetadataDestination, relativeFilename + "." + etag + ".incomplete");
}

std::string HubApi::HubFileDownloader::source() const {
  return HubApi::resolveUrl(endpoint.value_or(std::string(HubApi::kDefaultEndpoint)), repo,
                            revision, relativeFilename);
}

void HubApi::HubFileDownloader::prepareDestination(const fs::path &file) {
  if (file.has_parent_path()) {
    fs::create_directories(file.parent_path());
  }
  if (!fs::exists(file)) {
    std::ofstream create(file, std::ios::binary);
    if (!create) {
      throw std::system_error(errno, std::generic_category(), "cannot create " + file.string());
    }
  }
}

// --- Progress -------------------------------------------------------------------------------

void HubApi::updateDownloadProgress(double fraction, std::optional<double> speed,
                                    Progress &fileProgress, const std::shared_ptr<Progress> &parent,
                                    const ProgressHandler &progressHandler) {
  if (!std::isfinite(fraction)) {
    fraction = 0.0;
  }
  fraction = std::clamp(fraction, 0.0, 1.0);
  fileProgress.setCompletedUnitCount(static_cast<int64_t>(fraction * 100.0));
  if (speed) {
    fileProgress.setUserInfoObject(kProgressThroughputKey, *speed);
    if (parent) {
      parent->setUserInfoObject(kProgressThroughputKey, *speed);
    }
  }
  if (progressHandler) {
    progressHandler(parent);
  }
}

// --- One file -------------------------------------------------------------------------------

fs::path HubApi::downloadSnapshotFile(const HubFileDownloader &file,
                                      const std::shared_ptr<Progress> &fileProgress,
                                      const std::shared_ptr<Progress> &parent,
                                      const ProgressHandler &progressHandler,
                                      const platform::CancellationToken &cancellation) {
  const fs::path destination = file.destination();
  const fs::path metadataPath = file.metadataDestination();

  const auto local = HubApi::readDownloadMetadata(metadataPath);
  const FileMetadata remote = file.hub.getFileMetadata(file.source(), cancellation);

  // A sidecar naming the commit the hub serves vouches for the file without further checks.
  const std::string remoteCommit = remote.commitHash.value_or("");
  if (matchesPattern(file.hub.commitHashPattern, remoteCommit) && regularFileExists(destination) &&
      local && local->commitHash == remoteCommit) {
    return destination;
  }

  if (!remote.commitHash || !remote.etag || !remote.size || remote.location.empty()) {
    throw EnvironmentError::invalidMetadataError(
        "File metadata must have been retrieved from server");
  }
  const std::string &commitHash = *remote.commitHash;
  const std::string &etag = *remote.etag;
  const bool etagIsDigest = matchesPattern(file.hub.sha256Pattern, etag);

  if (regularFileExists(destination)) {
    if ((local && local->etag == etag) ||
        (etagIsDigest && HubApi::computeFileHash(destination) == etag)) {
      HubApi::writeDownloadMetadata(commitHash, etag, metadataPath);
      return destination;
    }
  }

  const fs::path incomplete = file.incompleteDestination(etag);
  HubFileDownloader::prepareDestination(incomplete);

  // With a digest for an ETag the transferred bytes are checked before they replace anything,
  // so a corrupted transfer is never taken for the current file. The partial file goes too:
  // resuming it could only reproduce the same wrong bytes.
  std::function<void(const fs::path &)> verify;
  if (etagIsDigest) {
    verify = [etag, name = lastComponent(destination)](const fs::path &partial) {
      if (HubApi::computeFileHash(partial) != etag) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        throw EnvironmentError::fileIntegrityError("Hash mismatch for " + name);
      }
    };
  }

  Downloader downloader(destination, incomplete, file.backgroundSession);
  Downloader::Request request;
  request.url = file.source();
  request.authToken = file.hfToken;
  request.expectedSize = *remote.size;
  request.speedFloor = file.hub.speedFloor;
  request.verifyBeforeMove = std::move(verify);
  auto stream = downloader.download(std::move(request));
  // Declared after the downloader so it is gone (and its handler finished) before the
  // downloader is destroyed.
  auto cancelRegistration = cancellation.onCancel([&downloader] { downloader.cancel(); });

  bool completed = false;
  while (auto state = stream->next()) {
    using Kind = Downloader::DownloadState::Kind;
    if (state->kind == Kind::downloading) {
      HubApi::updateDownloadProgress(state->fraction, state->speed, *fileProgress, parent,
                                     progressHandler);
    } else if (state->kind == Kind::completed) {
      completed = true;
      break;
    } else if (state->kind == Kind::failed) {
      std::rethrow_exception(state->error);
    }
  }
  if (!completed) {
    // A stream that ends without a verdict has not delivered the file: never record it.
    throw Downloader::DownloadError(Downloader::DownloadErrorCode::unexpectedError);
  }

  HubApi::writeDownloadMetadata(commitHash, etag, metadataPath);
  return destination;
}

// --- Snapshot -------------------------------------------------------------------------------

fs::path HubApi::snapshot(const Repo &repo, std::string_view revision,
                          const std::vector<std::string> &globs,
                          const ProgressHandler &progressHandler,
                          const platform::CancellationToken &cancellation) const {
  // The hub's callers recognise cancellation by its network error, wherever it struck.
  try {
    return snapshotFiles(repo, revision, globs, progressHandler, cancellation);
  } catch (const platform::CancellationError &) {
    throw platform::UrlError(platform::UrlError::Code::cancelled);
  }
}

fs::path HubApi::snapshotFiles(const Repo &repo, std::string_view revision,
                               const std::vector<std::string> &globs,
                               const ProgressHandler &progressHandler,
                               const platform::CancellationToken &cancellation) const {
  const fs::path repoDestination =
      HubApi::localPath(downloadBase / std::string(HubApi::rawValue(repo.type)), repo.id);
  const fs::path repoMetadataDestination = metadataFolder(repoDestination);

  if (shouldWorkOffline()) {
    if (!fs::exists(repoDestination)) {
      throw EnvironmentError::offlineModeError("Repository not available locally");
    }
    const auto files = HubApi::localFiles(repoDestination);
    if (files.empty()) {
      throw EnvironmentError::offlineModeError("No files available locally for this repository");
    }
    // The listing gives absolute paths; a download base given relative to the working folder
    // must not make every file look like one without a sidecar.
    const fs::path absoluteRepo = fs::absolute(repoDestination);
    for (const auto &localFile : files) {
      // Digesting a large model takes a while; a caller that gave up is told so, not handed a
      // folder nobody checked.
      if (cancellation.isCancelled()) {
        throw platform::UrlError(platform::UrlError::Code::cancelled);
      }
      const fs::path relative = localFile.lexically_relative(absoluteRepo);
      fs::path metadataPath = repoMetadataDestination / relative;
      metadataPath += ".metadata";
      const auto metadata = HubApi::readDownloadMetadata(metadataPath);
      if (!metadata) {
        throw EnvironmentError::offlineModeError("Metadata not available for " +
                                                 lastComponent(localFile));
      }
      if (!matchesPattern(sha256Pattern, metadata->etag)) {
        continue;
      }
      if (HubApi::computeFileHash(localFile) != metadata->etag) {
        throw EnvironmentError::fileIntegrityError("Hash mismatch for " + lastComponent(localFile));
      }
    }
    return repoDestination;
  }

  if (cancellation.isCancelled()) {
    throw platform::UrlError(platform::UrlError::Code::cancelled);
  }
  std::vector<std::string> filenames;
  try {
    filenames = getFilenames(repo, revision, globs, cancellation);
  } catch (const Hub::HubClientError &) {
    // The listing reports a stopped request as a failed download; the snapshot's callers are
    // told of cancellation the same way wherever it struck.
    if (cancellation.isCancelled()) {
      throw platform::UrlError(platform::UrlError::Code::cancelled);
    }
    throw;
  }
  dropRepeatedNames(filenames);
  const auto parent = Progress::make(static_cast<int64_t>(filenames.size()));
  for (const auto &filename : filenames) {
    // Cancelled before a file starts: the folder is incomplete, so say so rather than return it.
    if (cancellation.isCancelled()) {
      throw platform::UrlError(platform::UrlError::Code::cancelled);
    }
    const auto fileProgress = Progress::make(100, parent, 1);
    HubFileDownloader file{*this,
                           repo,
                           std::string(revision),
                           repoDestination,
                           repoMetadataDestination,
                           filename,
                           hfToken,
                           endpoint,
                           useBackgroundSession};
    HubApi::downloadSnapshotFile(file, fileProgress, parent, progressHandler, cancellation);
    fileProgress->setCompletedUnitCount(100);
  }
  if (progressHandler) {
    progressHandler(parent);
  }
  return repoDestination;
}

} // namespace deduve
