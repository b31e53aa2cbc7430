#include "tests/support/TestHub.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>

namespace mqtest {

namespace {

constexpr std::size_t kPiece = 64 * 1024;

bool equalsIgnoringCase(const std::string &a, const std::string &b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string hexDigest(const EVP_MD *md, const std::string &prefix, const std::string &bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_MD_CTX *context = EVP_MD_CTX_new();
  if (context == nullptr || EVP_DigestInit_ex(context, md, nullptr) != 1 ||
      EVP_DigestUpdate(context, prefix.data(), prefix.size()) != 1 ||
      EVP_DigestUpdate(context, bytes.data(), bytes.size()) != 1 ||
      EVP_DigestFinal_ex(context, digest, &length) != 1) {
    EVP_MD_CTX_free(context);
    throw std::runtime_error("TestHub: digest failed");
  }
  EVP_MD_CTX_free(context);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out.push_back(kHex[digest[i] >> 4]);
    out.push_back(kHex[digest[i] & 0x0f]);
  }
  return out;
}

std::string encodeSegment(const std::string &segment) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : segment) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) != 0 || std::string_view("-._~").find(ch) != std::string_view::npos) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0f]);
    }
  }
  return out;
}

std::string encodePath(const std::string &path) {
  std::string out;
  std::size_t start = 0;
  while (true) {
    const auto slash = path.find('/', start);
    out += encodeSegment(
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) {
      return out;
    }
    out.push_back('/');
    start = slash + 1;
  }
}

std::string decode(const std::string &text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) != 0 &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2])) != 0) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::vector<std::string> split(const std::string &path) {
  std::vector<std::string> segments;
  std::size_t start = path.empty() || path[0] != '/' ? 0 : 1;
  while (start <= path.size()) {
    const auto slash = path.find('/', start);
    const auto end = slash == std::string::npos ? path.size() : slash;
    segments.push_back(decode(path.substr(start, end - start)));
    if (slash == std::string::npos) {
      break;
    }
    start = slash + 1;
  }
  return segments;
}

std::string join(const std::vector<std::string> &segments, std::size_t from, std::size_t to) {
  std::string out;
  for (std::size_t i = from; i < to; ++i) {
    if (i > from) {
      out += "/";
    }
    out += segments[i];
  }
  return out;
}

// A repository-relative path the test server is willing to read: no empty, ".", ".." or (unless
// allowed) hidden segment, no backslash.
bool servablePath(const std::string &path, bool allowHidden = false) {
  if (path.empty() || path.find('\\') != std::string::npos) {
    return false;
  }
  for (const auto &segment : split(path)) {
    if (segment.empty() || segment == "." || segment == ".." ||
        (segment[0] == '.' && !allowHidden)) {
      return false;
    }
  }
  return true;
}

bool isKind(const std::string &word) {
  return word == "models" || word == "datasets" || word == "spaces";
}

std::string readFile(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// Single byte range of "bytes=a-b", "bytes=a-" or "bytes=-n" against a size: first byte and
// length; nothing when unsatisfiable. Only the first range of a list is honoured.
struct RangeAnswer {
  bool present = false;
  bool satisfiable = false;
};

RangeAnswer examineRange(const httplib::Request &req, std::uint64_t size) {
  RangeAnswer answer;
  if (!req.has_header("Range")) {
    return answer;
  }
  answer.present = true;
  if (req.ranges.empty()) {
    return answer;
  }
  const auto [first, last] = req.ranges.front();
  if (first < 0) {
    answer.satisfiable = last > 0 && size > 0; // suffix range
  } else {
    answer.satisfiable = static_cast<std::uint64_t>(first) < size;
  }
  return answer;
}

} // namespace

std::optional<std::string> TestHub::Request::header(const std::string &name) const {
  for (const auto &[key, value] : headers) {
    if (equalsIgnoringCase(key, name)) {
      return value;
    }
  }
  return std::nullopt;
}

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
                                 const std::string &path) {
    std::lock_guard lock(mutex);
    for (auto &fault : faults) {
      if (fault.usesLeft == 0) {
        continue;
      }
      if ((!fault.method.empty() && fault.method != method) ||
          (!fault.listener.empty() && fault.listener != listener) ||
          path.rfind(fault.pathPrefix, 0) != 0) {
        continue;
      }
      if (fault.usesLeft > 0) {
        --fault.usesLeft;
      }
      return fault;
    }
    return std::nullopt;
  }

  void startRaw() {
    rawFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    rawWake = ::eventfd(0, EFD_CLOEXEC);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (rawFd < 0 || rawWake < 0 ||
        ::bind(rawFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(rawFd, 16) != 0 ||
        ::getsockname(rawFd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
      throw std::runtime_error("TestHub: cannot start the raw listener");
    }
    rawPort = ntohs(address.sin_port);
    rawThread = std::thread([this] { serveRaw(); });
  }

  void stopRaw() {
    if (rawThread.joinable()) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const auto written = ::write(rawWake, &one, sizeof one);
      rawThread.join();
    }
    for (const int fd : {rawFd, rawWake}) {
      if (fd >= 0) {
        ::close(fd);
      }
    }
  }

  // One connection at a time: read the header block, log it, write the answer, close.
  void serveRaw() {
    while (true) {
      pollfd waiting[2] = {{rawFd, POLLIN, 0}, {rawWake, POLLIN, 0}};
      if (::poll(waiting, 2, -1) < 0 || (waiting[1].revents & POLLIN) != 0) {
        return;
      }
      const int client = ::accept4(rawFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) {
        continue;
      }
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos && request.size() < kPiece) {
        pollfd reading[2] = {{client, POLLIN, 0}, {rawWake, POLLIN, 0}};
        if (::poll(reading, 2, 10'000) <= 0 || (reading[1].revents & POLLIN) != 0) {
          break;
        }
        const auto received = ::recv(client, buffer, sizeof buffer, 0);
        if (received <= 0) {
          break;
        }
        request.append(buffer, static_cast<std::size_t>(received));
      }
      RawAnswerMaker maker;
      std::size_t index = 0;
      const Request entry = parseRawRequest(request);
      {
        std::lock_guard lock(mutex);
        log.push_back(entry);
        maker = rawAnswer;
        index = rawServed++;
      }
      const std::string answer = maker ? maker(entry, index) : std::string();
      for (std::size_t offset = 0; offset < answer.size();) {
        const auto sent =
            ::send(client, answer.data() + offset, answer.size() - offset, MSG_NOSIGNAL);
        if (sent <= 0) {
          break; // the client gave up on the answer
        }
        offset += static_cast<std::size_t>(sent);
      }
      ::shutdown(client, SHUT_RDWR);
      ::close(client);
    }
  }

  static Request parseRawRequest(const std::string &text) {
    Request entry;
    entry.listener = "raw";
    std::size_t start = 0;
    bool first = true;
    while (start < text.size()) {
      auto end = text.find("\r\n", start);
      if (end == std::string::npos || end == start) {
        break;
      }
      const std::string line = text.substr(start, end - start);
      start = end + 2;
      if (first) {
        first = false;
        const auto space = line.find(' ');
        const auto second = line.find(' ', space + 1);
        entry.method = line.substr(0, space);
        if (space != std::string::npos) {
          entry.target = line.substr(space + 1, second - space - 1);
          entry.path = decode(entry.target.substr(0, entry.target.find('?')));
        }
        continue;
      }
      const auto colon = line.find(':');
      if (colon != std::string::npos) {
        const auto value = line.find_first_not_of(' ', colon + 1);
        entry.headers.emplace_back(line.substr(0, colon),
                                   value == std::string::npos ? "" : line.substr(value));
      }
    }
    return entry;
  }

  // Waits one trickle interval; false once the stalls are released (the answer should end).
  bool trickleWait(std::chrono::milliseconds interval) {
    std::unique_lock lock(stallMutex);
    return !stallChanged.wait_for(lock, interval, [this] { return stallsReleased; });
  }

  // A content provider that sends `body` from `offset` one byte per interval.
  httplib::ContentProvider trickleProvider(std::shared_ptr<const std::string> body,
                                           std::chrono::milliseconds interval) {
    return [this, body, interval](std::size_t offset, std::size_t, httplib::DataSink &sink) {
      return offset < body->size() && sink.write(body->data() + offset, 1) &&
             trickleWait(interval);
    };
  }

  void waitForRelease() {
    std::unique_lock lock(stallMutex);
    ++stallCount;
    stallChanged.notify_all();
    stallChanged.wait(lock, [this] { return stallsReleased; });
  }

  void handle(const std::string &listener, const httplib::Request &req, httplib::Response &res) {
    const auto query = req.target.find('?');
    const std::string rawPath = req.target.substr(0, query);
    const std::string queryText =
        query == std::string::npos ? std::string() : req.target.substr(query + 1);
    const auto segments = split(rawPath);
    const std::string path = "/" + join(segments, 0, segments.size());
    {
      Request entry{listener, req.method, req.target, path, {}};
      for (const auto &[key, value] : req.headers) {
        entry.headers.emplace_back(key, value);
      }
      std::lock_guard lock(mutex);
      log.push_back(std::move(entry));
    }

    const auto fault = takeFault(listener, req.method, path);
    if (fault && fault->stallAfterBytes && req.method == "HEAD") {
      waitForRelease(); // a HEAD has no body: its whole answer is held back
    }
    if (fault && fault->status) {
      res.status = *fault->status;
      for (const auto &[key, value] : fault->headers) {
        res.set_header(key, value);
      }
      if (!fault->body.empty()) {
        res.set_content(fault->body, "application/json");
      }
      return;
    }
    auto addExtras = [&] {
      if (fault) {
        for (const auto &[key, value] : fault->extraHeaders) {
          res.set_header(key, value);
        }
      }
    };

    if (listener == "hub") {
      {
        std::lock_guard lock(mutex);
        for (const auto &redirect : redirects) {
          if (rawPath.rfind(redirect.from, 0) == 0) {
            res.status = redirect.status;
            std::string location = redirect.to + rawPath.substr(redirect.from.size());
            if (query != std::string::npos) {
              location += "?" + queryText;
            }
            res.set_header("Location", location);
            addExtras();
            return;
          }
        }
      }
      if (options.requiredToken &&
          req.get_header_value("Authorization") != "Bearer " + *options.requiredToken) {
        res.status = 401;
        res.set_header("X-Error-Code", "Unauthorized");
        return;
      }
      if (segments.size() >= 5 && segments[0] == "api" && isKind(segments[1])) {
        if (fault && fault->stallAfterBytes) {
          waitForRelease(); // the listing is sent in one piece: it is held back whole
        }
        serveListing(segments, res, fault && fault->serveHiddenFiles);
        if (fault && fault->listingPadding && res.status == 200) {
          padListing(res, *fault->listingPadding);
        }
        if (fault && fault->trickleInterval && res.status == 200) {
          auto body = std::make_shared<const std::string>(std::move(res.body));
          res.body.clear();
          res.set_content_provider(body->size(), "application/json",
                                   trickleProvider(body, *fault->trickleInterval));
        }
        addExtras();
        return;
      }
      std::size_t offset = 0;
      std::string kind = "models";
      if (!segments.empty() && (segments[0] == "datasets" || segments[0] == "spaces")) {
        kind = segments[0];
        offset = 1;
      }
      for (const std::size_t idLength : {std::size_t{2}, std::size_t{1}}) {
        const std::size_t keyword = offset + idLength;
        if (keyword + 2 < segments.size() && segments[keyword] == "resolve") {
          const std::string id = join(segments, offset, keyword);
          const std::string file = join(segments, keyword + 2, segments.size());
          serveResolve(req, res, kind, id, file, fault);
          addExtras();
          return;
        }
      }
      res.status = 404;
      return;
    }

    // CDN: /cdn/<kind>/<encoded id>/<path>
    if (segments.size() >= 4 && segments[0] == "cdn" && isKind(segments[1])) {
      const auto located = locate(segments[1], segments[2], join(segments, 3, segments.size()));
      if (!located.second.empty()) {
        res.status = 404;
        res.set_header("X-Error-Code", located.second);
        return;
      }
      const std::string bytes = readFile(located.first);
      res.set_header("ETag", "\"" + sha256Hex(bytes) + "\"");
      addExtras();
      serveBytes(req, res, bytes, fault);
      return;
    }
    res.status = 404;
  }

  // File path, or an error code for the 404 answer.
  std::pair<std::filesystem::path, std::string> locate(const std::string &kind,
                                                       const std::string &id,
                                                       const std::string &file,
                                                       bool allowHidden = false) const {
    const auto folder = options.root / kind / id;
    if (!servablePath(id) || !std::filesystem::is_directory(folder)) {
      return {{}, "RepoNotFound"};
    }
    const auto target = folder / file;
    if (!servablePath(file, allowHidden) || !std::filesystem::is_regular_file(target)) {
      return {{}, "EntryNotFound"};
    }
    return {target, ""};
  }

  void serveListing(const std::vector<std::string> &segments, httplib::Response &res,
                    bool listHidden) {
    const std::string &kind = segments[1];
    for (const std::size_t idLength : {std::size_t{2}, std::size_t{1}}) {
      const std::size_t keyword = 2 + idLength;
      if (keyword + 2 != segments.size() || segments[keyword] != "revision") {
        continue;
      }
      const std::string id = join(segments, 2, keyword);
      const auto folder = options.root / kind / id;
      if (!servablePath(id) || !std::filesystem::is_directory(folder)) {
        break;
      }
      std::vector<std::string> names;
      for (auto it = std::filesystem::recursive_directory_iterator(folder);
           it != std::filesystem::recursive_directory_iterator(); ++it) {
        const std::string name = it->path().filename().string();
        if (!name.empty() && name[0] == '.' && !listHidden) {
          if (it->is_directory()) {
            it.disable_recursion_pending();
          }
          continue;
        }
        if (it->is_regular_file()) {
          names.push_back(std::filesystem::relative(it->path(), folder).generic_string());
        }
      }
      std::sort(names.begin(), names.end());
      nlohmann::ordered_json body;
      body["id"] = id;
      body["sha"] = options.commit;
      body["siblings"] = nlohmann::ordered_json::array();
      for (const auto &name : names) {
        body["siblings"].push_back({{"rfilename", name}});
      }
      res.status = 200;
      res.set_content(body.dump(), "application/json");
      return;
    }
    res.status = 404;
    res.set_header("X-Error-Code", "RepoNotFound");
  }

  // Re-sends a finished listing answer chunked, followed by `padding` spaces.
  static void padListing(httplib::Response &res, std::uint64_t padding) {
    auto body = std::make_shared<const std::string>(std::move(res.body));
    res.body.clear();
    res.headers.erase("Content-Type");
    auto sent = std::make_shared<std::uint64_t>(0);
    const std::uint64_t total = body->size() + padding;
    res.set_chunked_content_provider("application/json", [body, sent, total](
                                                             std::size_t, httplib::DataSink &sink) {
      if (*sent >= total) {
        sink.done();
        return true;
      }
      std::string piece;
      if (*sent < body->size()) {
        piece = body->substr(static_cast<std::size_t>(*sent), kPiece);
      } else {
        piece.assign(static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, total - *sent)), ' ');
      }
      *sent += piece.size();
      return sink.write(piece.data(), piece.size());
    });
  }

  void serveResolve(const httplib::Request &req, httplib::Response &res, const std::string &kind,
                    const std::string &id, const std::string &file,
                    const std::optional<Fault> &fault) {
    const auto located = locate(kind, id, file, fault && fault->serveHiddenFiles);
    if (!located.second.empty()) {
      res.status = 404;
      res.set_header("X-Error-Code", located.second);
      return;
    }
    const std::string bytes = readFile(located.first);
    res.set_header("X-Repo-Commit", options.commit);
    res.set_header("ETag", "\"" + gitBlobSha1Hex(bytes) + "\"");
    if (bytes.size() >= options.largeFileThreshold) {
      res.status = 302;
      res.set_header("Location", "http://127.0.0.1:" + std::to_string(cdnPort) + "/cdn/" + kind +
                                     "/" + encodeSegment(id) + "/" + encodePath(file));
      res.set_header("X-Linked-Etag", "\"" + sha256Hex(bytes) + "\"");
      res.set_header("X-Linked-Size", std::to_string(bytes.size()));
      return;
    }
    serveBytes(req, res, bytes, fault);
  }

  void serveBytes(const httplib::Request &req, httplib::Response &res, const std::string &bytes,
                  const std::optional<Fault> &fault) {
    const auto size = static_cast<std::uint64_t>(bytes.size());
    const auto range = examineRange(req, size);
    const bool ignoreRange = fault && fault->ignoreRange;
    if (range.present && !range.satisfiable && !ignoreRange) {
      res.status = 416;
      res.set_header("Content-Range", "bytes */" + std::to_string(size));
      return;
    }
    if (req.method == "HEAD") {
      res.status = 200;
      res.set_header("Content-Length", std::to_string(size));
      return;
    }
    auto data = std::make_shared<const std::string>(bytes);
    auto sent = std::make_shared<std::uint64_t>(0);
    std::optional<std::uint64_t> dropAfter = fault ? fault->dropAfterBytes : std::nullopt;
    std::optional<std::uint64_t> stallAfter = fault ? fault->stallAfterBytes : std::nullopt;
    // Writes the next piece from `offset` within [offset, end); false ends the answer early.
    auto writePiece = [this, data, sent, dropAfter, stallAfter](
                          std::size_t offset, std::size_t length, httplib::DataSink &sink) {
      std::uint64_t piece = std::min<std::uint64_t>(length, kPiece);
      std::optional<std::uint64_t> limit = dropAfter;
      if (stallAfter && (!limit || *stallAfter < *limit)) {
        limit = stallAfter;
      }
      if (limit) {
        piece = std::min<std::uint64_t>(piece, *limit > *sent ? *limit - *sent : 0);
      }
      if (piece > 0 && !sink.write(data->data() + offset, static_cast<std::size_t>(piece))) {
        return false;
      }
      *sent += piece;
      if (limit && *sent >= *limit) {
        if (stallAfter && *limit == *stallAfter) {
          waitForRelease();
        }
        return false;
      }
      return true;
    };
    if (ignoreRange && range.present) {
      res.status = 200;
      auto position = std::make_shared<std::size_t>(0);
      res.set_chunked_content_provider(
          "application/octet-stream",
          [data, position, writePiece](std::size_t, httplib::DataSink &sink) {
            if (*position >= data->size()) {
              sink.done();
              return true;
            }
            const std::size_t before = *position;
            const std::size_t length = data->size() - before;
            const bool more = writePiece(before, length, sink);
            *position = before + std::min(length, kPiece);
            return more;
          });
      return;
    }
    if (fault && fault->trickleInterval && size > 0) {
      res.set_content_provider(static_cast<std::size_t>(size), "application/octet-stream",
                               trickleProvider(data, *fault->trickleInterval));
      return;
    }
    if (size == 0) {
      // A provider of no bytes is never asked and leaves the answer without a length, so the
      // empty body would only end when the connection does.
      res.set_content(std::string(), "application/octet-stream");
      return;
    }
    res.set_content_provider(static_cast<std::size_t>(size), "application/octet-stream",
                             writePiece);
  }
};

TestHub::TestHub(Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  if (impl_->options.root.empty()) {
    throw std::invalid_argument("TestHub: a root folder is required");
  }
  std::filesystem::create_directories(impl_->options.root);
  Impl *impl = impl_.get();
  impl->hub.Get(".*", [impl](const httplib::Request &req, httplib::Response &res) {
    impl->handle("hub", req, res);
  });
  impl->cdn.Get(".*", [impl](const httplib::Request &req, httplib::Response &res) {
    impl->handle("cdn", req, res);
  });
  for (auto *server : {&impl->hub, &impl->cdn}) {
    server->set_keep_alive_timeout(1);
    server->set_read_timeout(10);
    server->set_write_timeout(10);
  }
  impl->hubPort = impl->hub.bind_to_any_port("127.0.0.1");
  impl->cdnPort = impl->cdn.bind_to_any_port("127.0.0.1");
  if (impl->hubPort <= 0 || impl->cdnPort <= 0) {
    throw std::runtime_error("TestHub: cannot bind to 127.0.0.1");
  }
  impl->startRaw();
  impl->hubThread = std::thread([impl] {
    impl->hub.listen_after_bind();
    impl->hubEnded = true;
  });
  impl->cdnThread = std::thread([impl] {
    impl->cdn.listen_after_bind();
    impl->cdnEnded = true;
  });
  // stop() only acts on a running server, so wait until both accept loops have started.
  while ((!impl->hub.is_running() && !impl->hubEnded) ||
         (!impl->cdn.is_running() && !impl->cdnEnded)) {
    std::this_thread::yield();
  }
}

TestHub::TestHub(std::filesystem::path root)
    : TestHub([&] {
        Options options;
        options.root = std::move(root);
        return options;
      }()) {}

TestHub::Fault TestHub::Fault::answering(int status, std::string pathPrefix) {
  Fault fault;
  fault.status = status;
  fault.pathPrefix = std::move(pathPrefix);
  return fault;
}

TestHub::Fault TestHub::Fault::droppingAfter(std::uint64_t bytes, std::string pathPrefix) {
  Fault fault;
  fault.dropAfterBytes = bytes;
  fault.pathPrefix = std::move(pathPrefix);
  return fault;
}

TestHub::Fault TestHub::Fault::stallingAfter(std::uint64_t bytes, std::string pathPrefix) {
  Fault fault;
  fault.stallAfterBytes = bytes;
  fault.pathPrefix = std::move(pathPrefix);
  return fault;
}

TestHub::Fault TestHub::Fault::ignoringRange(std::string pathPrefix) {
  Fault fault;
  fault.ignoreRange = true;
  fault.pathPrefix = std::move(pathPrefix);
  return fault;
}

TestHub::Fault TestHub::Fault::trickling(std::chrono::milliseconds interval,
                                         std::string pathPrefix) {
  Fault fault;
  fault.trickleInterval = interval;
  fault.pathPrefix = std::move(pathPrefix);
  return fault;
}

TestHub::Fault TestHub::Fault::times(int count) && {
  usesLeft = count;
  return std::move(*this);
}

TestHub::~TestHub() {
  releaseStalls();
  impl_->hub.stop();
  impl_->cdn.stop();
  impl_->hubThread.join();
  impl_->cdnThread.join();
  impl_->stopRaw();
}

std::string TestHub::baseUrl() const { return "http://127.0.0.1:" + std::to_string(port()); }
std::string TestHub::cdnBaseUrl() const { return "http://127.0.0.1:" + std::to_string(cdnPort()); }
std::string TestHub::rawBaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(impl_->rawPort);
}
int TestHub::port() const { return impl_->hubPort; }
int TestHub::cdnPort() const { return impl_->cdnPort; }
const std::string &TestHub::commit() const { return impl_->options.commit; }
const std::filesystem::path &TestHub::root() const { return impl_->options.root; }

std::filesystem::path TestHub::addFile(const std::string &kind, const std::string &repoId,
                                       const std::string &relativePath,
                                       const std::string &contents) {
  const auto file = impl_->options.root / kind / repoId / relativePath;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out) {
    throw std::runtime_error("TestHub: cannot write " + file.string());
  }
  return file;
}

std::string TestHub::resolveUrl(const std::string &kind, const std::string &repoId,
                                const std::string &revision,
                                const std::string &relativePath) const {
  std::string url = baseUrl();
  if (kind != "models") {
    url += "/" + kind;
  }
  return url + "/" + encodePath(repoId) + "/resolve/" + encodeSegment(revision) + "/" +
         encodePath(relativePath);
}

void TestHub::addFault(Fault fault) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults.push_back(std::move(fault));
}

void TestHub::clearFaults() {
  std::lock_guard lock(impl_->mutex);
  impl_->faults.clear();
}

void TestHub::addRelativeRedirect(std::string fromPrefix, std::string toPrefix, int status) {
  std::lock_guard lock(impl_->mutex);
  impl_->redirects.push_back({std::move(fromPrefix), std::move(toPrefix), status});
}

void TestHub::setRawAnswers(std::vector<std::string> answers) {
  if (answers.empty()) {
    setRawAnswerMaker(nullptr);
    return;
  }
  setRawAnswerMaker([answers = std::move(answers)](const Request &, std::size_t index) {
    return answers[std::min(index, answers.size() - 1)];
  });
}

void TestHub::setRawAnswerMaker(RawAnswerMaker answer) {
  std::lock_guard lock(impl_->mutex);
  impl_->rawAnswer = std::move(answer);
  impl_->rawServed = 0;
}

void TestHub::waitForStalls(std::size_t count) {
  std::unique_lock lock(impl_->stallMutex);
  impl_->stallChanged.wait(
      lock, [this, count] { return impl_->stallCount >= count || impl_->stallsReleased; });
}

void TestHub::releaseStalls() {
  {
    std::lock_guard lock(impl_->stallMutex);
    impl_->stallsReleased = true;
  }
  impl_->stallChanged.notify_all();
}

std::vector<TestHub::Request> TestHub::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->log;
}

void TestHub::clearRequests() {
  std::lock_guard lock(impl_->mutex);
  impl_->log.clear();
}

std::string TestHub::sha256Hex(const std::string &bytes) {
  return hexDigest(EVP_sha256(), "", bytes);
}

std::string TestHub::gitBlobSha1Hex(const std::string &bytes) {
  return hexDigest(EVP_sha1(), "blob " + std::to_string(bytes.size()) + std::string(1, '\0'),
                   bytes);
}

} // namespace mqtest
