#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mqtest {

// A model hub on 127.0.0.1 for tests: two HTTP listeners on ephemeral ports, the hub and a
// "CDN", serving repositories from a folder. Started by the constructor, stopped (and every
// stalled answer released) by the destructor, so scope exit tears it down.
//
// Repository tree: <root>/<kind>/<id>/..., kind "models", "datasets" or "spaces", id "owner/name"
// (or a single "name"). Files and folders whose name starts with "." are not part of a
// repository. Files are read from disk at every request, so a test may change them between
// requests.
//
// Routes of the hub listener (baseUrl()); path segments are percent-decoded one by one, so a
// revision "feature%2Fx" is the revision "feature/x":
//   GET  /api/<kind>/<id>/revision/<rev>
//        200 {"id":..., "sha": <commit>, "siblings":[{"rfilename": path}, ...]}, every file of
//        the repository, sorted by path. Any revision resolves to the same tree.
//   HEAD|GET /<id>/resolve/<rev>/<path>               (models)
//   HEAD|GET /datasets/<id>/resolve/<rev>/<path>      (datasets; "spaces/" likewise)
//        A file smaller than Options::largeFileThreshold: 200 with the bytes, "ETag" = quoted
//        git blob SHA-1 of the content (40 hex digits), "X-Repo-Commit" = commit(),
//        "Content-Length". A larger file: 302 with "Location" = the absolute CDN URL,
//        "X-Linked-Etag" = quoted SHA-256 of the content (64 hex digits), "X-Linked-Size",
//        "ETag" = quoted git blob SHA-1, "X-Repo-Commit"; the GET has no body.
//        Missing repository or file: 404 ("X-Error-Code": "RepoNotFound" / "EntryNotFound").
// Routes of the CDN listener (cdnBaseUrl()):
//   HEAD|GET /cdn/<kind>/<id as one segment, "owner%2Fname">/<path>: 200 with the bytes,
//        "ETag" = quoted SHA-256, "Content-Length"; no "X-Repo-Commit".
// Byte ranges on every file answer (both listeners): "Range: bytes=a-b", "bytes=a-" and
// "bytes=-n" give 206 with "Content-Range: bytes a-b/size"; a start at or past the end gives 416
// with "Content-Range: bytes */size".
//
// Faults (addFault) change answers for tests; relative redirects (addRelativeRedirect) send
// requests under one path prefix to another with a path-only Location. Every request on both
// listeners is logged (requests()). A third listener, "raw" (rawBaseUrl()), answers requests
// with bytes set by setRawAnswers, for answers the HTTP library will not send as a hostile
// server would (folded header lines, oversized header blocks, a 206 whose Content-Range is not
// the range asked for); its requests are logged too.
class TestHub {
public:
  struct Options {
    // Folder holding <kind>/<id>/... trees.
    std::filesystem::path root;
    // Files of at least this many bytes are served through the CDN redirect.
    std::uint64_t largeFileThreshold = 1024 * 1024;
    // Commit reported in "X-Repo-Commit" and the listing's "sha" (40 lower-case hex digits).
    std::string commit = "0123456789abcdef0123456789abcdef01234567";
    // When set, every hub-listener request must carry "Authorization: Bearer <token>", else
    // 401. The CDN listener never asks for a token.
    std::optional<std::string> requiredToken;
  };

  // A change to the answers of matching requests. A request matches when its method equals
  // `method` (empty: any), its listener equals `listener` (empty: any; "hub" or "cdn") and its
  // decoded path starts with `pathPrefix` (empty: any). The first matching fault with uses left
  // applies, then its count drops by one.
  struct Fault {
    std::string method;
    std::string listener;
    std::string pathPrefix;
    // Uses left; -1: every matching request.
    int usesLeft = -1;
    // Answer with this status, the headers below and `body` instead of the normal answer.
    std::optional<int> status;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // Normal answer, but the connection is closed after this many body bytes (headers, with
    // the full Content-Length, were sent).
    std::optional<std::uint64_t> dropAfterBytes;
    // Normal answer, but after this many body bytes the server sends nothing more until the
    // hub is destroyed or releaseStalls() is called (for idle time-outs and cancellation).
    // A HEAD and a listing, which have no streamed body, get no answer at all until then.
    std::optional<std::uint64_t> stallAfterBytes;
    // Normal answer, but "Range" is ignored: 200 with the whole file (sent chunked, without
    // Content-Length).
    bool ignoreRange = false;
    // Normal answer (a file's bytes or a listing), but its body is sent one byte per interval:
    // often enough to beat an idle timeout, too slowly for a speed floor. Stops when the hub is
    // destroyed or releaseStalls() is called.
    std::optional<std::chrono::milliseconds> trickleInterval;
    // Added to the normal answer (after its own fields).
    std::vector<std::pair<std::string, std::string>> extraHeaders;
    // Listing: the normal answer followed by this many spaces (valid JSON of any size; sent
    // chunked, without Content-Length), for a server that streams without end.
    std::optional<std::uint64_t> listingPadding;
    // Listing and resolve also take names with a hidden segment (".cache/x"), as a hostile
    // server would; "." and ".." stay refused.
    bool serveHiddenFiles = false;

    // Shorthands for the common faults (set further fields on the result as needed).
    static Fault answering(int status, std::string pathPrefix = {});
    static Fault droppingAfter(std::uint64_t bytes, std::string pathPrefix = {});
    static Fault stallingAfter(std::uint64_t bytes, std::string pathPrefix = {});
    static Fault ignoringRange(std::string pathPrefix = {});
    static Fault trickling(std::chrono::milliseconds interval, std::string pathPrefix = {});
    // The same fault for the next `count` matching requests only.
    Fault times(int count) &&;
  };

  struct Request {
    std::string listener; // "hub", "cdn" or "raw"
    std::string method;
    std::string target; // raw request target, with the query
    std::string path;   // decoded path without the query
    std::vector<std::pair<std::string, std::string>> headers;

    // First header of that name (any case), if present.
    std::optional<std::string> header(const std::string &name) const;
  };

  explicit TestHub(Options options);
  // A hub with default options over `root`.
  explicit TestHub(std::filesystem::path root);
  ~TestHub();
  TestHub(const TestHub &) = delete;
  TestHub &operator=(const TestHub &) = delete;

  // "http://127.0.0.1:<port>", no trailing "/".
  std::string baseUrl() const;
  std::string cdnBaseUrl() const;
  // "http://127.0.0.1:<port>" of the raw listener.
  std::string rawBaseUrl() const;
  int port() const;
  int cdnPort() const;
  const std::string &commit() const;
  const std::filesystem::path &root() const;

  // Writes a file into a repository tree (creating folders) and returns its path.
  std::filesystem::path addFile(const std::string &kind, const std::string &repoId,
                                const std::string &relativePath, const std::string &contents);

  // Resolve URL of a file as this hub serves it (models: <base>/<id>/resolve/<rev>/<path>),
  // with the revision and each path segment percent-encoded.
  std::string resolveUrl(const std::string &kind, const std::string &repoId,
                         const std::string &revision, const std::string &relativePath) const;

  void addFault(Fault fault);
  void clearFaults();
  // Requests to the hub listener whose path as sent (still percent-encoded) starts with
  // `fromPrefix` are answered with `status` and "Location: <toPrefix><rest of the path>[?query]"
  // (a location without scheme and host). A matching fault with a status wins over it; it wins
  // over the normal routes and the token check.
  void addRelativeRedirect(std::string fromPrefix, std::string toPrefix, int status = 307);
  // What the raw listener writes, verbatim, after reading a request's header block, before it
  // closes the connection: the n-th request gets answers[n] (counted from this call), requests
  // past the end get the last one. Default: nothing (the connection closes at once).
  void setRawAnswers(std::vector<std::string> answers);
  // The raw listener's answer made per request instead: `answer(request, index)`, index
  // counted from this call; for answers that depend on the request (its "Range").
  using RawAnswerMaker = std::function<std::string(const Request &request, std::size_t index)>;
  void setRawAnswerMaker(RawAnswerMaker answer);
  // Ends every stalled answer now and makes later stall faults close at once.
  void releaseStalls();
  // Blocks until `count` answers in all have begun to stall (or releaseStalls() was called),
  // so a test can act while a request is surely in flight.
  void waitForStalls(std::size_t count);

  // Snapshot of every request so far, in arrival order.
  std::vector<Request> requests() const;
  void clearRequests();

  // SHA-256 and git blob SHA-1 of bytes, lower-case hex.
  static std::string sha256Hex(const std::string &bytes);
  static std::string gitBlobSha1Hex(const std::string &bytes);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

} // namespace mqtest
