// Web requests of the hub client: the authorised GET and HEAD, the listing and resolve URLs,
// the file listing and the metadata of one file.

#include "DeduveCore/Hub/HubApi.hpp"

#include <charconv>
#include <unordered_set>

#include "DeduveCore/Support/CollectionUtilities.hpp"
#include "platform/net/HttpUrl.hpp"
#include "platform/net/UrlError.hpp"
#include "platform/text/Excerpt.hpp"

namespace deduve {

namespace {

constexpr double kRequestTimeoutSeconds = 60.0;
// Relative redirects a HEAD follows before giving up (a server answering in a loop).
constexpr int kMaxRelativeRedirects = 10;

// The endpoint without trailing "/", checked to be an absolute http(s) URL.
std::string endpointBase(std::string_view endpoint) {
  if (endpoint.empty()) {
    throw Hub::HubClientError::parseError(
        "the hub endpoint is empty; give an endpoint URL or set HF_ENDPOINT");
  }
  if (!platform::parseHttpUrl(endpoint)) {
    throw Hub::HubClientError::parseError("the hub endpoint \"" + std::string(endpoint) +
                                          "\" is not an absolute http or https URL");
  }
  std::string base(endpoint);
  while (!base.empty() && base.back() == '/') {
    base.pop_back();
  }
  return base;
}

void throwForStatus(const platform::HttpResponse &answer, const std::string &url, int lastSuccess) {
  const int status = answer.status;
  if (status >= 200 && status <= lastSuccess) {
    return;
  }
  if (status == 401 || status == 403) {
    throw Hub::HubClientError::authorizationRequired();
  }
  if (status == 404) {
    throw Hub::HubClientError::fileNotFound(platform::lastPathComponent(url));
  }
  throw Hub::HubClientError::httpStatusCode(status);
}

// The redirect rule of HEAD requests: a redirect whose Location has no host goes to the
// original request's scheme, host and port with the location's path and query, carrying the
// original header fields plus "Location"; any other redirect is handed back to the caller.
std::optional<platform::HttpRequest> relativeRedirect(const platform::HttpRequest &original,
                                                      const platform::HttpResponse &redirect) {
  const auto location = redirect.headers.value("Location");
  // A path next to a host must begin with "/"; "//host/..." names a host.
  if (!location || location->empty() || (*location)[0] != '/' || location->rfind("//", 0) == 0) {
    return std::nullopt;
  }
  auto parts = platform::parseHttpUrl(original.url);
  if (!parts) {
    return std::nullopt;
  }
  std::string reference = location->substr(0, location->find('#'));
  const auto question = reference.find('?');
  parts->path = reference.substr(0, question);
  parts->query = question == std::string::npos
                     ? std::nullopt
                     : std::optional<std::string>(reference.substr(question + 1));
  const std::string target = platform::formatUrl(*parts);
  if (!platform::parseHttpUrl(target)) {
    return std::nullopt;
  }
  platform::HttpRequest next = original;
  next.url = target;
  next.timeoutSeconds = kRequestTimeoutSeconds;
  next.headers.set("Location", target);
  return next;
}

// "64 MiB" for whole mebibytes, else "1000 bytes".
std::string byteCount(std::size_t bytes) {
  constexpr std::size_t kMiB = 1024 * 1024;
  return bytes % kMiB == 0 ? std::to_string(bytes / kMiB) + " MiB"
                           : std::to_string(bytes) + " bytes";
}

// Copies of a token share its state, so the check may outlive the caller's copy.
platform::CancellationCheck cancellationCheck(const platform::CancellationToken &cancellation) {
  return [cancellation] { return cancellation.isCancelled(); };
}

// The request both kinds start from: method, URL, time-out, speed floor, bearer token and
// cancellation.
platform::HttpRequest authorisedRequest(std::string method, const std::string &url,
                                        const HubApi &hub,
                                        const platform::CancellationToken &cancellation) {
  platform::HttpRequest request;
  request.method = std::move(method);
  request.url = url;
  request.timeoutSeconds = kRequestTimeoutSeconds;
  request.speedFloor = hub.speedFloor;
  request.setBearerToken(hub.hfToken);
  request.isCancelled = cancellationCheck(cancellation);
  return request;
}

} // namespace

const platform::HttpClient &HubApi::client() {
  static const platform::HttpClient shared;
  return shared;
}

platform::HttpResponse HubApi::httpGet(const std::string &url,
                                       const platform::CancellationToken &cancellation) const {
  platform::HttpRequest request = authorisedRequest("GET", url, *this, cancellation);
  // As the platform's session does: redirects are followed and the final answer's status
  // counts; the client drops the token once a redirect leaves the hub's origin.
  request.followRedirects = true;
  platform::HttpResponse answer;
  std::string body;
  try {
    answer = client().stream(request, nullptr, [&](std::string_view chunk) {
      if (body.size() + chunk.size() > maxDocumentBytes) {
        throw Hub::HubClientError::downloadError("the answer from " + url + " is larger than the " +
                                                 byteCount(maxDocumentBytes) +
                                                 " limit of a JSON document");
      }
      body.append(chunk);
    });
  } catch (const Hub::HubClientError &) {
    throw;
  } catch (const std::exception &error) {
    throw Hub::HubClientError::downloadError(error.what());
  }
  answer.body = std::move(body);
  throwForStatus(answer, url, 299);
  return answer;
}

platform::HttpResponse HubApi::httpHead(const std::string &url,
                                        const platform::CancellationToken &cancellation) const {
  platform::HttpRequest request = authorisedRequest("HEAD", url, *this, cancellation);
  request.headers.set("Accept-Encoding", "identity");
  request.redirectPolicy = &relativeRedirect;
  request.maxRedirects = kMaxRelativeRedirects;
  platform::HttpResponse answer = client().send(request);
  throwForStatus(answer, url, 399);
  return answer;
}

std::string HubApi::listingUrl(const Repo &repo, std::string_view revision) const {
  return endpointBase(endpoint) + "/api/" + std::string(rawValue(repo.type)) + "/" +
         platform::percentEncodePath(repo.id) + "/revision/" +
         platform::percentEncodePathSegment(revision);
}

std::string HubApi::resolveUrl(std::string_view endpoint, const Repo &repo,
                               std::string_view revision, std::string_view relativeFilename) {
  std::string url = endpointBase(endpoint);
  if (repo.type != RepoType::models) {
    url += "/" + std::string(rawValue(repo.type));
  }
  return url + "/" + platform::percentEncodePath(repo.id) + "/resolve/" +
         platform::percentEncodePathSegment(revision) + "/" +
         platform::percentEncodePath(relativeFilename);
}

std::vector<std::string>
HubApi::getFilenames(const Repo &repo, std::string_view revision,
                     const std::vector<std::string> &globs,
                     const platform::CancellationToken &cancellation) const {
  const std::string url = listingUrl(repo, revision);
  const platform::HttpResponse answer = httpGet(url, cancellation);
  // A body that is not a file list (an error page, say) fails with the JSON decoder's own
  // error, unchanged, as callers of the listing expect. Reading a large listing takes a while;
  // a cancellation that strikes then ends the call as one that stopped the request would.
  SiblingsResponse listing;
  try {
    listing = SiblingsResponse::parse(answer.body, cancellation);
  } catch (const platform::UrlError &error) {
    throw Hub::HubClientError::downloadError(error.what());
  }
  std::vector<std::string> names;
  names.reserve(listing.siblings.size());
  for (auto &sibling : listing.siblings) {
    names.push_back(std::move(sibling.rfilename));
  }
  std::vector<std::string> result;
  if (globs.empty()) {
    result = std::move(names);
  } else {
    std::unordered_set<std::string> matched;
    for (const auto &glob : globs) {
      for (auto &name : matching(names, glob)) {
        matched.insert(std::move(name));
      }
    }
    for (const auto &name : names) {
      if (matched.erase(name) > 0) {
        result.push_back(name);
      }
    }
  }
  if (cancellation.isCancelled()) {
    throw Hub::HubClientError::downloadError(
        platform::UrlError(platform::UrlError::Code::cancelled).what());
  }
  // Every returned name becomes a local path; one that could leave the repository folder
  // fails the listing instead of being fetched. Names the caller did not ask for do not matter.
  for (const auto &name : result) {
    if (!isSafeRelativeFilename(name)) {
      throw Hub::HubClientError::parseError("the repository listing of " + repo.id +
                                            " names an unsafe file path: \"" +
                                            platform::excerpt(name) + "\"");
    }
  }
  return result;
}

HubApi::FileMetadata
HubApi::getFileMetadata(const std::string &url,
                        const platform::CancellationToken &cancellation) const {
  return fileMetadata(httpHead(url, cancellation), url);
}

HubApi::FileMetadata HubApi::fileMetadata(const platform::HttpResponse &answer,
                                          const std::string &requestedUrl) {
  FileMetadata metadata;
  if (answer.status == 302) {
    metadata.location = answer.headers.value("Location").value_or("");
  } else {
    metadata.location = answer.url;
  }
  if (metadata.location.empty()) {
    metadata.location = requestedUrl;
  }
  metadata.commitHash = answer.headers.value("X-Repo-Commit");
  if (metadata.commitHash && !isSafeMetadataValue(*metadata.commitHash)) {
    metadata.commitHash.reset();
  }
  auto etag = answer.headers.value("X-Linked-Etag");
  if (!etag) {
    etag = answer.headers.value("ETag");
  }
  metadata.etag = normalizeEtag(etag);
  if (metadata.etag && !isSafeMetadataValue(*metadata.etag)) {
    metadata.etag.reset();
  }
  auto size = answer.headers.value("X-Linked-Size");
  if (!size) {
    size = answer.headers.value("Content-Length");
  }
  if (size) {
    metadata.size = parseSize(*size);
  }
  return metadata;
}

std::optional<std::string> HubApi::normalizeEtag(const std::optional<std::string> &etag) {
  if (!etag) {
    return std::nullopt;
  }
  std::string_view text = *etag;
  if (text.rfind("W/", 0) == 0) {
    text.remove_prefix(2);
  }
  while (!text.empty() && text.front() == '"') {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == '"') {
    text.remove_suffix(1);
  }
  return std::string(text);
}

std::optional<std::int64_t> HubApi::parseSize(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) {
    return std::nullopt;
  }
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
  }
  // Parse with the sign so that the most negative value fits.
  const std::string signedText = (negative ? "-" : "") + std::string(text);
  std::int64_t value = 0;
  const auto [end, error] =
      std::from_chars(signedText.data(), signedText.data() + signedText.size(), value);
  if (error != std::errc() || end != signedText.data() + signedText.size()) {
    return std::nullopt;
  }
  return value;
}

} // namespace deduve
