#pragma once

// The test hub's insides, shared by the files that implement it: its state, the raw listener,
// the answers of the hub and CDN listeners, and the text helpers they use.

#include "tests/support/TestHub.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <httplib.h>
#include <openssl/evp.h>

namespace mqtest::hubdetail {

constexpr std::size_t kPiece = 64 * 1024;

// Single byte range of "bytes=a-b", "bytes=a-" or "bytes=-n" against a size: first byte and
// length; nothing when unsatisfiable. Only the first range of a list is honoured.
struct RangeAnswer {
  bool present = false;
  bool satisfiable = false;
};

bool equalsIgnoringCase(const std::string &a, const std::string &b);

std::string hexDigest(const EVP_MD *md, const std::string &prefix, const std::string &bytes);

std::string encodeSegment(const std::string &segment);

std::string encodePath(const std::string &path);

std::string decode(const std::string &text);

std::vector<std::string> split(const std::string &path);

std::string join(const std::vector<std::string> &segments, std::size_t from, std::size_t to);

// A repository-relative path the test server is willing to read: no empty, ".", ".." or (unless
// allowed) hidden segment, no backslash.
bool servablePath(const std::string &path, bool allowHidden = false);

bool isKind(const std::string &word);

std::string readFile(const std::filesystem::path &file);

RangeAnswer examineRange(const httplib::Request &req, std::uint64_t size);

} // namespace mqtest::hubdetail

namespace mqtest {

struct TestHub::Impl {
  struct Redirect {
    std::string from;
    std::string to;
    int status = 307;
  };

  Options options;
  httplib::Server hub;
  httplib::Server cdn;
  int hubPort = -1;
  int cdnPort = -1;
  std::thread hubThread;
  std::thread cdnThread;
  std::atomic<bool> hubEnded{false};
  std::atomic<bool> cdnEnded{false};

  mutable std::mutex mutex;
  std::vector<Fault> faults;
  std::vector<Redirect> redirects;
  std::vector<Request> log;

  // The raw listener: a plain socket served by one thread; `rawWake` (an eventfd) ends it.
  int rawFd = -1;
  int rawWake = -1;
  int rawPort = -1;
  std::thread rawThread;
  RawAnswerMaker rawAnswer; // guarded by `mutex`, as is rawServed
  std::size_t rawServed = 0;

  std::mutex stallMutex;
  std::condition_variable stallChanged;
  bool stallsReleased = false;
  std::size_t stallCount = 0;

  std::optional<Fault> takeFault(const std::string &listener, const std::string &method,
                                 const std::string &path);
  void startRaw();
  void stopRaw();
  // One connection at a time: read the header block, log it, write the answer, close.
  void serveRaw();
  static Request parseRawRequest(const std::string &text);
  // Waits one trickle interval; false once the stalls are released (the answer should end).
  bool trickleWait(std::chrono::milliseconds interval);
  // A content provider that sends `body` from `offset` one byte per interval.
  httplib::ContentProvider trickleProvider(std::shared_ptr<const std::string> body,
                                           std::chrono::milliseconds interval);
  void waitForRelease();
  void handle(const std::string &listener, const httplib::Request &req, httplib::Response &res);
  // File path, or an error code for the 404 answer.
  std::pair<std::filesystem::path, std::string> locate(const std::string &kind,
                                                       const std::string &id,
                                                       const std::string &file,
                                                       bool allowHidden = false) const;
  void serveListing(const std::vector<std::string> &segments, httplib::Response &res,
                    bool listHidden);
  // Re-sends a finished listing answer chunked, followed by `padding` spaces.
  static void padListing(httplib::Response &res, std::uint64_t padding);
  void serveResolve(const httplib::Request &req, httplib::Response &res, const std::string &kind,
                    const std::string &id, const std::string &file,
                    const std::optional<Fault> &fault);
  void serveBytes(const httplib::Request &req, httplib::Response &res, const std::string &bytes,
                  const std::optional<Fault> &fault);
};

} // namespace mqtest
