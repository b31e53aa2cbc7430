#include "platform/net/HttpClient.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>

#include <curl/curl.h>

#include "platform/net/HttpUrl.hpp"
#include "platform/net/UrlError.hpp"

namespace platform {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

std::string_view trimmed(std::string_view text) {
  const auto isSpace = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
  };
  while (!text.empty() && isSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && isSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool hasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void ensureCurlInitialised() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
  void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
  void operator()(CURLM *handle) const { curl_multi_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

// Why a transfer was stopped from our side.
enum class Stop { none, cancelled, timedOut, handlerDeclined, handlerThrew };

// State of one hop (one request, one answer) shared with the curl callbacks.
struct Hop {
  const HttpRequest *original = nullptr;
  const HttpRequest *current = nullptr;
  const HttpClient::ResponseHandler *onResponse = nullptr;
  const HttpClient::ChunkHandler *onChunk = nullptr;

  HttpResponse head;
  bool headComplete = false;
  // Set when the answer is a redirect that will be followed; its body is discarded.
  std::optional<HttpRequest> next;
  Stop stop = Stop::none;
  std::exception_ptr error;
  // Header bytes received so far in this hop, checked against HttpClient::kMaxHeaderBytes.
  std::size_t headerBytes = 0;
  // Last time a byte of the answer arrived (or the request started).
  std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();

  bool cancelled() const { return current->isCancelled && current->isCancelled(); }
};

std::optional<HttpRequest> decideRedirect(const HttpRequest &original, const HttpResponse &answer) {
  if (answer.status < 300 || answer.status > 399) {
    return std::nullopt;
  }
  if (original.redirectPolicy) {
    return original.redirectPolicy(original, answer);
  }
  if (original.followRedirects) {
    return HttpClient::followingRedirect(original, answer);
  }
  return std::nullopt;
}

// Header block finished: decide between following and delivering.
void completeHead(Hop &hop) {
  hop.headComplete = true;
  hop.next = decideRedirect(*hop.original, hop.head);
  if (hop.next) {
    return;
  }
  if (hop.onResponse != nullptr && *hop.onResponse && !(*hop.onResponse)(hop.head)) {
    hop.stop = Stop::handlerDeclined;
  }
}

size_t headerCallback(char *data, size_t size, size_t count, void *user) {
  auto &hop = *static_cast<Hop *>(user);
  const size_t length = size * count;
  std::string_view line(data, length);
  hop.lastActivity = std::chrono::steady_clock::now();
  try {
    hop.headerBytes += length;
    if (hop.headerBytes > HttpClient::kMaxHeaderBytes) {
      throw UrlError(UrlError::Code::badServerResponse,
                     "the answer's header from " + hop.current->url + " is larger than " +
                         std::to_string(HttpClient::kMaxHeaderBytes / 1024) + " KB");
    }
    if (line.rfind("HTTP/", 0) == 0) {
      // A new answer starts (also after a 100 Continue): forget the previous block.
      hop.head.headers = HttpHeaders();
      hop.headComplete = false;
      const auto space = line.find(' ');
      hop.head.status = 0;
      if (space != std::string_view::npos) {
        int status = 0;
        for (std::size_t i = space + 1;
             i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i) {
          status = status * 10 + (line[i] - '0');
        }
        hop.head.status = status;
      }
      return length;
    }
    const auto content = trimmed(line);
    if (content.empty()) {
      if (hop.head.status >= 200 && !hop.headComplete) {
        completeHead(hop);
        if (hop.stop != Stop::none) {
          return 0;
        }
      }
      return length;
    }
    if (line.front() == ' ' || line.front() == '\t') {
      // Folded continuation of the previous field.
      hop.head.headers.appendToLastValue(" ");
      hop.head.headers.appendToLastValue(content);
      return length;
    }
    const auto colon = content.find(':');
    if (colon != std::string_view::npos) {
      hop.head.headers.add(std::string(trimmed(content.substr(0, colon))),
                           std::string(trimmed(content.substr(colon + 1))));
    }
    return length;
  } catch (...) {
    hop.error = std::current_exception();
    hop.stop = Stop::handlerThrew;
    return 0;
  }
}

size_t writeCallback(char *data, size_t size, size_t count, void *user) {
  auto &hop = *static_cast<Hop *>(user);
  const size_t length = size * count;
  if (length == 0) {
    return 0;
  }
  hop.lastActivity = std::chrono::steady_clock::now();
  try {
    if (hop.cancelled()) {
      hop.stop = Stop::cancelled;
      return 0;
    }
    if (!hop.headComplete) {
      // A body without a finished header block cannot happen with HTTP/1.x; be safe.
      completeHead(hop);
      if (hop.stop != Stop::none) {
        return 0;
      }
    }
    if (hop.next) {
      return length; // body of a redirect that is followed
    }
    if (hop.onChunk != nullptr && *hop.onChunk) {
      (*hop.onChunk)(std::string_view(data, length));
    }
    return length;
  } catch (...) {
    hop.error = std::current_exception();
    hop.stop = Stop::handlerThrew;
    return 0;
  }
}

int progressCallback(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto &hop = *static_cast<Hop *>(user);
  try {
    if (hop.cancelled()) {
      hop.stop = Stop::cancelled;
      return 1;
    }
  } catch (...) {
    hop.error = std::current_exception();
    hop.stop = Stop::handlerThrew;
    return 1;
  }
  return 0;
}

UrlError errorFor(CURLcode code, long osErrno, const char *detail) {
  using Code = UrlError::Code;
  const std::string text = detail != nullptr && *detail != '\0' ? detail : curl_easy_strerror(code);
  switch (code) {
  case CURLE_OPERATION_TIMEDOUT:
    return UrlError(Code::timedOut, text);
  case CURLE_COULDNT_RESOLVE_HOST:
  case CURLE_COULDNT_RESOLVE_PROXY:
    return UrlError(Code::cannotFindHost, text);
  case CURLE_COULDNT_CONNECT:
    if (osErrno == ENETUNREACH || osErrno == ENETDOWN) {
      return UrlError(Code::notConnectedToInternet, text);
    }
    return UrlError(Code::cannotConnectToHost, text);
  case CURLE_PARTIAL_FILE:
  case CURLE_RECV_ERROR:
  case CURLE_SEND_ERROR:
  case CURLE_GOT_NOTHING:
    return UrlError(Code::networkConnectionLost, text);
  case CURLE_URL_MALFORMAT:
    return UrlError(Code::badURL, text);
  case CURLE_UNSUPPORTED_PROTOCOL:
    return UrlError(Code::unsupportedURL, text);
  case CURLE_WEIRD_SERVER_REPLY:
  case CURLE_BAD_CONTENT_ENCODING:
    return UrlError(Code::badServerResponse, text);
  case CURLE_SSL_CONNECT_ERROR:
  case CURLE_PEER_FAILED_VERIFICATION:
  case CURLE_SSL_CERTPROBLEM:
  case CURLE_SSL_CIPHER:
  case CURLE_SSL_CACERT_BADFILE:
    return UrlError(Code::secureConnectionFailed, text);
  case CURLE_ABORTED_BY_CALLBACK:
    return UrlError(Code::cancelled, text);
  default:
    return UrlError(Code::unknown, text);
  }
}

void checkOption(CURLcode code) {
  if (code != CURLE_OK) {
    throw UrlError(UrlError::Code::unknown, curl_easy_strerror(code));
  }
}

// The request's header fields as curl's list, after checking that none can split a line.
std::unique_ptr<curl_slist, ListDeleter> headerListFor(const HttpRequest &request) {
  std::unique_ptr<curl_slist, ListDeleter> headerList;
  for (const auto &[name, value] : request.headers.fields()) {
    if (hasLineBreakOrNul(name) || hasLineBreakOrNul(value) ||
        name.find(':') != std::string::npos || trimmed(name).empty()) {
      throw std::invalid_argument("HttpClient: header field " + name +
                                  " holds a line break or is malformed");
    }
    // "Name;" is curl's way to send a field with an empty value.
    const std::string line = value.empty() ? name + ";" : name + ": " + value;
    curl_slist *extended = curl_slist_append(headerList.get(), line.c_str());
    if (extended == nullptr) {
      throw std::bad_alloc();
    }
    headerList.release();
    headerList.reset(extended);
  }
  return headerList;
}

// Sets up one transfer of `hop`'s request on `h`; `headerList` and `errorBuffer` must outlive
// it.
void configureTransfer(CURL *h, const HttpClient::Options &options, Hop &hop,
                       curl_slist *headerList, char *errorBuffer) {
  const HttpRequest &request = *hop.current;
  checkOption(curl_easy_setopt(h, CURLOPT_URL, request.url.c_str()));
  checkOption(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
  checkOption(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L));
  checkOption(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"));
  checkOption(curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer));
  checkOption(curl_easy_setopt(h, CURLOPT_USERAGENT, options.userAgent.c_str()));
  checkOption(curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList));
  if (request.method == "HEAD") {
    checkOption(curl_easy_setopt(h, CURLOPT_NOBODY, 1L));
  }
  // The idle timeout is watched by runTransfer (curl's low-speed check averages over several
  // seconds, so it would let a stalled transfer live well past the limit); the connect timeout
  // only bounds the connection phase, which is idle time too.
  if (request.timeoutSeconds > 0) {
    const long millis = std::max(1L, static_cast<long>(std::ceil(request.timeoutSeconds * 1000.0)));
    checkOption(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, millis));
  }
  // A floor, unlike the idle timeout, is about a sustained average, which is what curl's
  // low-speed check measures.
  if (request.speedFloor.bytesPerSecond > 0 && request.speedFloor.seconds > 0) {
    checkOption(curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, request.speedFloor.bytesPerSecond));
    checkOption(curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, request.speedFloor.seconds));
  }
  checkOption(curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &headerCallback));
  checkOption(curl_easy_setopt(h, CURLOPT_HEADERDATA, &hop));
  checkOption(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &writeCallback));
  checkOption(curl_easy_setopt(h, CURLOPT_WRITEDATA, &hop));
  checkOption(curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L));
  checkOption(curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &progressCallback));
  checkOption(curl_easy_setopt(h, CURLOPT_XFERINFODATA, &hop));
}

// Drives the transfer on `h` until curl ends it or `hop.stop` is set (cancellation, idle
// timeout, a handler's verdict). Returns curl's result.
CURLcode runTransfer(CURLM *multi, CURL *h, Hop &hop) {
  const HttpRequest &request = *hop.current;
  const auto idleLimit = std::chrono::duration<double>(request.timeoutSeconds);
  if (curl_multi_add_handle(multi, h) != CURLM_OK) {
    throw UrlError(UrlError::Code::unknown, "cannot start a transfer");
  }
  CURLcode result = CURLE_OK;
  bool finished = false;
  while (!finished) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      result = CURLE_RECV_ERROR;
      break;
    }
    int queued = 0;
    while (CURLMsg *message = curl_multi_info_read(multi, &queued)) {
      if (message->msg == CURLMSG_DONE) {
        result = message->data.result;
        finished = true;
      }
    }
    if (finished || running == 0) {
      break;
    }
    if (hop.stop == Stop::none && hop.cancelled()) {
      hop.stop = Stop::cancelled;
    }
    if (hop.stop == Stop::none && request.timeoutSeconds > 0 &&
        std::chrono::steady_clock::now() - hop.lastActivity > idleLimit) {
      hop.stop = Stop::timedOut;
    }
    if (hop.stop != Stop::none) {
      break;
    }
    curl_multi_poll(multi, nullptr, 0, 100, nullptr);
  }
  return result;
}

// Turns the end of a transfer into the hop's outcome: returns for an answer (or a handler that
// declined it), throws for everything else.
void finishHop(Hop &hop, CURLcode result, long osErrno, const char *errorBuffer) {
  const HttpRequest &request = *hop.current;
  switch (hop.stop) {
  case Stop::handlerThrew:
    std::rethrow_exception(hop.error);
  case Stop::cancelled:
    throw UrlError(UrlError::Code::cancelled);
  case Stop::timedOut:
    throw UrlError(UrlError::Code::timedOut,
                   "no data for " + std::to_string(request.timeoutSeconds) + " s");
  case Stop::handlerDeclined:
    return;
  case Stop::none:
    break;
  }
  if (result != CURLE_OK) {
    throw errorFor(result, osErrno, errorBuffer);
  }
  if (!hop.headComplete) {
    if (hop.head.status >= 200) {
      completeHead(hop);
    } else {
      throw UrlError(UrlError::Code::badServerResponse, "no complete answer from " + request.url);
    }
  }
}

// Runs one request without following anything. Returns the hop's state; throws UrlError for
// transport failures and rethrows handler exceptions.
void performHop(const HttpClient::Options &options, Hop &hop) {
  const HttpRequest &request = *hop.current;
  if (request.method != "GET" && request.method != "HEAD") {
    throw std::invalid_argument("HttpClient: unsupported method " + request.method);
  }
  if (!parseHttpUrl(request.url)) {
    throw UrlError(UrlError::Code::badURL, request.url);
  }
  const auto headerList = headerListFor(request);
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!easy || !multi) {
    throw UrlError(UrlError::Code::unknown, "cannot create a transfer");
  }
  char errorBuffer[CURL_ERROR_SIZE] = {};
  configureTransfer(easy.get(), options, hop, headerList.get(), errorBuffer);

  hop.head = HttpResponse();
  hop.head.url = request.url;
  hop.lastActivity = std::chrono::steady_clock::now();
  const CURLcode result = runTransfer(multi.get(), easy.get(), hop);
  long osErrno = 0;
  curl_easy_getinfo(easy.get(), CURLINFO_OS_ERRNO, &osErrno);
  curl_multi_remove_handle(multi.get(), easy.get());
  finishHop(hop, result, osErrno, errorBuffer);
}

} // namespace

void HttpHeaders::add(std::string name, std::string value) {
  fields_.emplace_back(std::move(name), std::move(value));
}

void HttpHeaders::set(std::string name, std::string value) {
  remove(name);
  add(std::move(name), std::move(value));
}

void HttpHeaders::remove(std::string_view name) {
  fields_.erase(
      std::remove_if(fields_.begin(), fields_.end(),
                     [&](const Field &field) { return equalsIgnoringCase(field.first, name); }),
      fields_.end());
}

void HttpHeaders::appendToLastValue(std::string_view text) {
  if (!fields_.empty()) {
    fields_.back().second.append(text);
  }
}

std::optional<std::string> HttpHeaders::value(std::string_view name) const {
  for (const auto &field : fields_) {
    if (equalsIgnoringCase(field.first, name)) {
      return field.second;
    }
  }
  return std::nullopt;
}

void HttpRequest::setBearerToken(const std::optional<std::string> &token) {
  headers.remove("Authorization");
  if (!token) {
    return;
  }
  const auto value = trimmed(*token);
  if (value.empty()) {
    return;
  }
  const bool hasControl = std::any_of(value.begin(), value.end(),
                                      [](unsigned char c) { return c < 0x20 || c == 0x7f; });
  if (hasControl) {
    return;
  }
  headers.add("Authorization", "Bearer " + std::string(value));
}

HttpClient::HttpClient() : HttpClient(Options()) {}

HttpClient::HttpClient(Options options) : options_(std::move(options)) { ensureCurlInitialised(); }

std::optional<HttpRequest> HttpClient::followingRedirect(const HttpRequest &original,
                                                         const HttpResponse &redirect) {
  switch (redirect.status) {
  case 301:
  case 302:
  case 303:
  case 307:
  case 308:
    break;
  default:
    return std::nullopt;
  }
  const auto location = redirect.headers.value("Location");
  if (!location || location->empty()) {
    return std::nullopt;
  }
  auto target = resolveUrlReference(redirect.url, *location);
  if (!target) {
    return std::nullopt;
  }
  HttpRequest next = original;
  next.url = std::move(*target);
  return next;
}

HttpResponse HttpClient::send(const HttpRequest &request) const {
  std::string body;
  HttpResponse head = stream(request, nullptr, [&](std::string_view chunk) { body.append(chunk); });
  head.body = std::move(body);
  return head;
}

HttpResponse HttpClient::stream(const HttpRequest &request, const ResponseHandler &onResponse,
                                const ChunkHandler &onChunk) const {
  HttpRequest current = request;
  bool authorizationDropped = false;
  for (int hops = 0;; ++hops) {
    if (request.isCancelled && request.isCancelled()) {
      throw UrlError(UrlError::Code::cancelled);
    }
    Hop hop;
    hop.original = &request;
    hop.current = &current;
    hop.onResponse = &onResponse;
    hop.onChunk = &onChunk;
    performHop(options_, hop);
    if (!hop.next) {
      return hop.head;
    }
    if (hops + 1 > request.maxRedirects) {
      throw UrlError(UrlError::Code::httpTooManyRedirects, request.url);
    }
    HttpRequest next = std::move(*hop.next);
    // A token given for one origin never travels to another, whatever the policy said, and
    // once dropped it stays dropped for the rest of the chain.
    if (authorizationDropped || !sameOrigin(request.url, next.url)) {
      next.headers.remove("Authorization");
      authorizationDropped = true;
    }
    next.isCancelled = request.isCancelled;
    current = std::move(next);
  }
}

} // namespace platform
