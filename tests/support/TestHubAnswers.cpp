#include "tests/support/TestHubImpl.hpp"

#include <algorithm>
#include <memory>

#include <nlohmann/json.hpp>

namespace mqtest {

using namespace hubdetail;

void TestHub::Impl::handle(const std::string &listener, const httplib::Request &req,
                           httplib::Response &res) {
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
std::pair<std::filesystem::path, std::string> TestHub::Impl::locate(const std::string &kind,
                                                                    const std::string &id,
                                                                    const std::string &file,
                                                                    bool allowHidden) const {
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

void TestHub::Impl::serveListing(const std::vector<std::string> &segments, httplib::Response &res,
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
void TestHub::Impl::padListing(httplib::Response &res, std::uint64_t padding) {
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

void TestHub::Impl::serveResolve(const httplib::Request &req, httplib::Response &res,
                                 const std::string &kind, const std::string &id,
                                 const std::string &file, const std::optional<Fault> &fault) {
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

void TestHub::Impl::serveBytes(const httplib::Request &req, httplib::Response &res,
                               const std::string &bytes, const std::optional<Fault> &fault) {
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
  auto writePiece = [this, data, sent, dropAfter,
                     stallAfter](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
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
  res.set_content_provider(static_cast<std::size_t>(size), "application/octet-stream", writePiece);
}

} // namespace mqtest
