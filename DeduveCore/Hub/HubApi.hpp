#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "DeduveCore/Hub/Downloader.hpp"
#include "DeduveCore/Hub/HubClientError.hpp"
#include "DeduveCore/Hub/Progress.hpp"
#include "DeduveCore/Support/Config.hpp"
#include "platform/net/HttpClient.hpp"
#include "platform/system/CancellationToken.hpp"
#include "platform/system/Environment.hpp"

namespace platform {
class PathMonitor;
}

namespace deduve {

// The model-hub client: where repositories go, the access token, the hub's base URL, the
// session and offline preferences, and the patterns that recognise content digests and commit
// identifiers. A value: copies share only their network monitor. Every operation is a blocking
// call that may run on any thread; none keeps state between calls.
class HubApi {
public:
  // The public hub's base URL, used when neither an endpoint nor "HF_ENDPOINT" is given.
  static constexpr std::string_view kDefaultEndpoint = "https://huggingface.co";

  enum class RepoType { models, datasets, spaces };
  // "models", "datasets", "spaces".
  static std::string_view rawValue(RepoType type);
  // Exact raw values only ("Models" is no type).
  static std::optional<RepoType> repoTypeFromRawValue(std::string_view raw);

  struct Repo {
    std::string id; // "owner/name"
    RepoType type = RepoType::models;
    friend bool operator==(const Repo &, const Repo &) = default;
  };

  // One entry of a repository listing ("rfilename"), as the server sent it: never a local path
  // until checked with localPath().
  struct Sibling {
    std::string rfilename;
  };
  struct SiblingsResponse {
    std::vector<Sibling> siblings;
    // Reads {"siblings": [{"rfilename": ...}, ...]}, other keys ignored; throws
    // nlohmann::json::exception when the shape differs.
    static SiblingsResponse decode(const nlohmann::ordered_json &document);
    // The same reading straight from the listing's text, without building a document: linear
    // in the text, arrays and objects nested at most kMaximumNesting deep, the last of repeated
    // keys counting. Throws what decode() throws (nlohmann::json::parse_error also for a text
    // nested too deep), and UrlError(cancelled) once `cancellation` is cancelled, which it
    // checks as it reads.
    static SiblingsResponse parse(std::string_view text,
                                  const platform::CancellationToken &cancellation = {});
    nlohmann::ordered_json encode() const;

    // A listing is a flat list; anything nested deeper is not one, and a hostile server's
    // megabytes of "[" must not cost gigabytes to refuse.
    static constexpr std::size_t kMaximumNesting = 512;
  };

  // What a HEAD request tells of one file.
  struct FileMetadata {
    std::optional<std::string> commitHash; // "X-Repo-Commit"
    std::optional<std::string> etag;       // "X-Linked-Etag", else "ETag", normalised
    std::string location;                  // where the content lives
    std::optional<std::int64_t> size;      // "X-Linked-Size", else "Content-Length"
  };

  // A parsed metadata sidecar.
  struct LocalDownloadFileMetadata {
    std::string commitHash;
    std::string etag;
    std::string filename;   // the sidecar's name without ".metadata"
    double timestamp = 0.0; // seconds since 1970-01-01 00:00 UTC
  };

  class EnvironmentError;
  class NetworkStateActor;
  class NetworkMonitor;

  // Default limit of a JSON answer read whole: far above any listing, low enough that a server
  // streaming without end cannot exhaust memory.
  static constexpr std::size_t kMaxDocumentBytes = 64 * 1024 * 1024;

  struct Settings {
    // Root of the local cache; default: <Documents>/huggingface.
    std::optional<std::filesystem::path> downloadBase;
    // Access token; given (even empty) it is used as is; default: the token search.
    std::optional<std::string> hfToken;
    // Hub base URL; default: "HF_ENDPOINT" when set (even empty), else kDefaultEndpoint.
    std::optional<std::string> endpoint;
    // File downloads run in a background session.
    bool useBackgroundSession = false;
    // true: always offline; false: always online; absent: the shared network state decides.
    std::optional<bool> useOfflineMode;
    // Network state consulted by shouldWorkOffline(); default: NetworkMonitor::shared().
    std::shared_ptr<NetworkMonitor> sharedMonitor;
    // Makes the path monitor of this client's own networkMonitor; default: the system's.
    std::function<std::unique_ptr<platform::PathMonitor>()> makePathMonitor;
    // Bytes a JSON answer read whole (the listing) may have before the request fails.
    std::size_t maxDocumentBytes = kMaxDocumentBytes;
    // Every request of the client (listing, metadata, file transfers) slower than this for
    // that long fails; a transfer is then retried like one that broke off.
    platform::SpeedFloor speedFloor = Downloader::kDefaultSpeedFloor;
  };

  // Never fails. Reads the variables and the home and Documents folders from `environment`
  // (tests pass a controlled one); the default is this process's.
  HubApi();
  explicit HubApi(Settings settings);
  HubApi(Settings settings, platform::Environment environment);

  std::filesystem::path downloadBase;
  std::optional<std::string> hfToken;
  std::string endpoint;
  bool useBackgroundSession = false;
  std::optional<bool> useOfflineMode;
  // This client's own monitor (started at creation; its state is not consulted).
  std::shared_ptr<NetworkMonitor> networkMonitor;
  // Monitor whose state answers the offline question.
  std::shared_ptr<NetworkMonitor> sharedMonitor;
  std::string sha256Pattern = "^[0-9a-f]{64}$";
  std::string commitHashPattern = "^[0-9a-f]{40}$";
  // Bytes a JSON answer read whole may have (see Settings).
  std::size_t maxDocumentBytes = kMaxDocumentBytes;
  // The slowest request accepted (see Settings).
  platform::SpeedFloor speedFloor = Downloader::kDefaultSpeedFloor;
  // The environment the client was made with.
  platform::Environment environment;

  // The six token sources in order ("HF_TOKEN", "HUGGING_FACE_HUB_TOKEN", the file named by
  // "HF_TOKEN_PATH", <"HF_HOME">/token, ~/.cache/huggingface/token, ~/.huggingface/token); the
  // first non-empty one, as read (not trimmed). Never fails.
  static std::optional<std::string> hfTokenFromEnvironment(const platform::Environment &env);

  // Asks the shared network state (always) and returns useOfflineMode when set, else its
  // verdict.
  bool shouldWorkOffline() const;

  // Reads a local JSON document into a Config. Throws HubClientError::fileSystemError when the
  // file cannot be read; jsonSerialization when it is not JSON ("JSON Serialization failed for
  // <file URL>. Please verify that you have set the HF_TOKEN environment variable.", also for
  // truncated or too deeply nested documents); parse when its top level is not an object.
  static Config configuration(const std::filesystem::path &fileURL);

  // --- Web requests -------------------------------------------------------------------------

  // GET with the bearer token, for a JSON document read whole. Redirects are followed (the
  // token is dropped once one leaves the URL's origin) and the final answer's status counts:
  // 2xx returns the answer; 401/403 authorizationRequired, 404 fileNotFound(last path
  // component), any other status httpStatusCode (3xx included), a transport failure
  // downloadError(its description), cancellation through `cancellation` included. A body past
  // maxDocumentBytes stops the transfer with downloadError naming the limit.
  platform::HttpResponse httpGet(const std::string &url,
                                 const platform::CancellationToken &cancellation = {}) const;
  // HEAD with the bearer token and "Accept-Encoding: identity"; relative redirects are
  // followed (capped), others are not. 2xx and 3xx return the answer; statuses map as for GET;
  // transport failures are thrown unchanged (UrlError; UrlError(cancelled) once `cancellation`
  // is cancelled, also while the server has not answered yet).
  platform::HttpResponse httpHead(const std::string &url,
                                  const platform::CancellationToken &cancellation = {}) const;

  // <endpoint>/api/<type>/<id>/revision/<revision>, the revision one encoded segment. Throws
  // HubClientError::parseError for an empty or malformed endpoint.
  std::string listingUrl(const Repo &repo, std::string_view revision) const;
  // <endpoint>[/datasets|/spaces]/<id>/resolve/<revision>/<relativeFilename>; the revision is
  // one encoded segment, the file name's "/" stay separators. Throws as listingUrl.
  static std::string resolveUrl(std::string_view endpoint, const Repo &repo,
                                std::string_view revision, std::string_view relativeFilename);

  // Names of the repository's files at the revision. No patterns: all of them in listing
  // order. Otherwise the names matching any pattern (shell globs, "*" crosses "/"), each once,
  // in listing order. Throws the GET's errors, the JSON decoder's error
  // (nlohmann::json::exception) for a body that is not a listing, and
  // HubClientError::parseError when a returned name is an unsafe path (see
  // isSafeRelativeFilename).
  // `cancellation` stops the listing request, or the reading of its answer, as a transport
  // failure of the GET.
  std::vector<std::string> getFilenames(const Repo &repo, std::string_view revision,
                                        const std::vector<std::string> &globs = {},
                                        const platform::CancellationToken &cancellation = {}) const;

  // HEAD of a resolve URL read into FileMetadata. Throws the errors of httpHead.
  FileMetadata getFileMetadata(const std::string &url,
                               const platform::CancellationToken &cancellation = {}) const;
  // The header reading of getFileMetadata for one answer to `requestedUrl`. A commit or ETag
  // that could not be kept safely (see isSafeMetadataValue) reads as absent.
  static FileMetadata fileMetadata(const platform::HttpResponse &answer,
                                   const std::string &requestedUrl);
  // Absent stays absent; one leading "W/" removed, then every '"' at either end.
  static std::optional<std::string> normalizeEtag(const std::optional<std::string> &etag);
  // Optional sign, then ASCII digits only, within 64 bits; anything else is absent.
  static std::optional<std::int64_t> parseSize(std::string_view text);

  // --- Local files --------------------------------------------------------------------------

  // True for a repository-relative file name that is safe to join to a local folder: not
  // empty, not absolute, no empty, "." or ".." segment, no backslash, no control character,
  // and not the client's bookkeeping folder ".cache/huggingface" (nor inside it, nor one of
  // its folders).
  static bool isSafeRelativeFilename(std::string_view name);
  // `folder` / `name`, after isSafeRelativeFilename; throws HubClientError::parseError naming
  // the file otherwise.
  static std::filesystem::path localPath(const std::filesystem::path &folder,
                                         std::string_view name);
  // True for a commit hash or ETag that can name a partial file and sit on one sidecar line:
  // not empty, no "/", "\", "..", nor control characters (line breaks included).
  static bool isSafeMetadataValue(std::string_view value);

  // Regular, non-hidden files under `folder`, recursively, hidden folders not entered; empty
  // when the folder cannot be listed. Throws std::filesystem::filesystem_error when an entry's
  // type cannot be read.
  static std::vector<std::filesystem::path> localFiles(const std::filesystem::path &folder);

  // Reads a sidecar. Nothing when there is none; a bad one is logged, removed, and reads as
  // nothing. Throws EnvironmentError (invalidMetadataError) only when a bad one cannot be
  // removed.
  static std::optional<LocalDownloadFileMetadata>
  readDownloadMetadata(const std::filesystem::path &metadataPath);
  // Writes a sidecar atomically (temporary file, then rename), creating its folders, stamped
  // with the current time. Throws EnvironmentError: fileWriteError when it cannot be written,
  // invalidMetadataError for a commit or ETag with a line break (it would corrupt the file).
  static void writeDownloadMetadata(const std::string &commitHash, const std::string &etag,
                                    const std::filesystem::path &metadataPath);
  static void writeDownloadMetadata(const std::string &commitHash, const std::string &etag,
                                    const std::filesystem::path &metadataPath,
                                    double secondsSince1970);
  // SHA-256 of the file's bytes as 64 lower-case hex digits, read in 1 MiB blocks. Throws
  // HubClientError::fileNotFound(last path component) when the file cannot be opened and
  // fileSystemError when a read fails.
  static std::string computeFileHash(const std::filesystem::path &file);

  // Receives the client's diagnostic lines (the sidecar reader's); default: the system log.
  // Returns the previous sink. Thread-safe.
  using LogSink = std::function<void(const std::string &line)>;
  static LogSink setLogSink(LogSink sink);
  static void logError(const std::string &line);

  // --- Snapshots and file downloads (HubApiSnapshot.cpp, HubFileDownloader.hpp) -------------

  struct HubFileDownloader;
  // Receives the snapshot's parent progress (the same object every time), from the thread that
  // runs the snapshot.
  using ProgressHandler = std::function<void(const std::shared_ptr<Progress> &parent)>;

  // Brings the repository's files matching `globs` (none: all) at `revision` into
  // <downloadBase>/<type>/<id> and returns that folder. Online (see shouldWorkOffline) it lists
  // the repository and fetches, one file after the other, every file that is not current;
  // offline it only verifies the files already there against their sidecars. Cancelling
  // `cancellation` stops the listing, the metadata request or the transfer in flight, or the
  // loop between two files on either road, with UrlError(cancelled); a CancellationError
  // thrown by the progress handler is reported as UrlError(cancelled) too. Blocking.
  std::filesystem::path snapshot(const Repo &repo, std::string_view revision,
                                 const std::vector<std::string> &globs = {},
                                 const ProgressHandler &progressHandler = {},
                                 const platform::CancellationToken &cancellation = {}) const;

  // Brings one file up to date (skipped when current, adopted when its digest matches, else
  // downloaded and recorded) and returns its local path. `fileProgress` is a child of `parent`.
  static std::filesystem::path
  downloadSnapshotFile(const HubFileDownloader &file, const std::shared_ptr<Progress> &fileProgress,
                       const std::shared_ptr<Progress> &parent,
                       const ProgressHandler &progressHandler,
                       const platform::CancellationToken &cancellation = {});

  // Sets the file's progress to `fraction` (clamped to 0...1; not finite counts as 0) in
  // hundredths, records a known speed as throughput on both progresses, then calls the handler
  // with the parent.
  static void updateDownloadProgress(double fraction, std::optional<double> speed,
                                     Progress &fileProgress,
                                     const std::shared_ptr<Progress> &parent,
                                     const ProgressHandler &progressHandler);

private:
  static const platform::HttpClient &client();
  // snapshot() before cancellation is mapped to the hub's own error.
  std::filesystem::path snapshotFiles(const Repo &repo, std::string_view revision,
                                      const std::vector<std::string> &globs,
                                      const ProgressHandler &progressHandler,
                                      const platform::CancellationToken &cancellation) const;
};

// The client's own error. what() is the case's prefix followed by the message.
class HubApi::EnvironmentError : public std::runtime_error {
public:
  enum class Kind { invalidMetadataError, offlineModeError, fileIntegrityError, fileWriteError };

  static EnvironmentError invalidMetadataError(std::string message); // "Invalid metadata: "
  static EnvironmentError offlineModeError(std::string message);     // "Offline mode error: "
  static EnvironmentError
  fileIntegrityError(std::string message);                     // "File integrity check failed: "
  static EnvironmentError fileWriteError(std::string message); // "Failed to write file: "

  Kind kind() const noexcept { return kind_; }
  const std::string &message() const noexcept { return message_; }
  std::string errorDescription() const { return what(); }

private:
  EnvironmentError(Kind kind, const std::string &prefix, std::string message);

  Kind kind_;
  std::string message_;
};

} // namespace deduve
