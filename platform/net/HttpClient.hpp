#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// HTTP over libcurl for the hub client and the file downloader.
//
// Contract in short:
// - One call is one blocking transfer on the calling thread (plus redirects it follows). The
//   client holds no per-call state: one HttpClient may serve any number of threads at once.
// - A status code is never an error here: every complete answer (200, 302, 404, 500, ...)
//   comes back as an HttpResponse. Only a transfer that did not produce a complete answer
//   throws, as UrlError (cancelled, timedOut, cannotConnectToHost, networkConnectionLost,
//   notConnectedToInternet, cannotFindHost, httpTooManyRedirects, ...). A body cut short by the
//   server or the network (fewer bytes than Content-Length, a broken chunked body) is
//   UrlError::Code::networkConnectionLost, also after part of it was handed to the caller.
// - The timeout is an idle timeout, the way the platform's request timeout works: the transfer
//   fails with timedOut when no byte moves for that long (connect included). A slow but moving
//   download never times out, unless the request sets a speed floor (HttpRequest::speedFloor).
// - Cancellation: HttpRequest::isCancelled is polled at least every 100 ms and before every body
//   chunk; once it answers true the transfer stops and UrlError(cancelled) is thrown.
// - Redirects are not followed unless the request asks for it. When a redirect is followed the
//   "Authorization" field is removed as soon as the target's origin (scheme, host, port)
//   differs from the original request's, whatever the policy answered, so a bearer token never
//   reaches another host. More than HttpRequest::maxRedirects hops throw httpTooManyRedirects.
// - Header values must not hold CR, LF or NUL (std::invalid_argument before anything is sent).
// - An answer's header block (every header line of one call's hop, folded continuation lines
//   included) is capped at kMaxHeaderBytes; a larger one throws UrlError(badServerResponse)
//   naming the cap.

// Header fields in the order they were added; names compare without regard to case.
class HttpHeaders {
public:
  using Field = std::pair<std::string, std::string>;

  // Appends a field (duplicates allowed).
  void add(std::string name, std::string value);
  // Replaces every field of that name by one.
  void set(std::string name, std::string value);
  void remove(std::string_view name);
  // Appends `text` to the value of the last field (a folded continuation line); nothing when
  // there is no field.
  void appendToLastValue(std::string_view text);
  // The first field of that name.
  std::optional<std::string> value(std::string_view name) const;
  bool contains(std::string_view name) const { return value(name).has_value(); }
  const std::vector<Field> &fields() const { return fields_; }
  bool empty() const { return fields_.empty(); }

private:
  std::vector<Field> fields_;
};

// Polled during a transfer; true stops it with UrlError(cancelled). Any token adapts to it,
// e.g. [&token] { return token.isCancelled(); }. Must be cheap and thread-safe.
using CancellationCheck = std::function<bool()>;

struct HttpResponse;
struct HttpRequest;

// The slowest transfer a request accepts: one whose speed stays below `bytesPerSecond` for
// `seconds` in a row (waiting for the answer counts as no speed) fails with UrlError(timedOut).
// A server that sends a byte just often enough to beat the idle timeout cannot hold a call
// this way. Either field 0: no floor.
struct SpeedFloor {
  long bytesPerSecond = 0;
  long seconds = 0;
  bool operator==(const SpeedFloor &) const = default;
};

// Decides, for a redirect answer (status 300-399) to a request, whether to follow it: returns
// the next request, or nothing to hand the redirect answer itself to the caller. `original` is
// the request passed to HttpClient; `redirect.url` is the URL that gave the answer. Runs on the
// transfer's thread; an exception it throws ends the call.
using RedirectPolicy = std::function<std::optional<HttpRequest>(const HttpRequest &original,
                                                                const HttpResponse &redirect)>;

struct HttpRequest {
  // "GET" or "HEAD"; a HEAD never delivers a body.
  std::string method = "GET";
  // Absolute http(s) URL, already percent-encoded (see HttpUrl.hpp).
  std::string url;
  // Sent as given, in order. curl adds Host, User-Agent and Accept.
  HttpHeaders headers;
  // Idle timeout in seconds (see above); 0 or less: none.
  double timeoutSeconds = 60.0;
  // Sustained speed below which the transfer fails (see SpeedFloor); default: none.
  SpeedFloor speedFloor;
  // Follow 301, 302, 303, 307 and 308 answers with a Location to any http(s) URL, keeping
  // method and headers (minus "Authorization" across origins). Ignored when redirectPolicy is
  // set.
  bool followRedirects = false;
  // Custom rule for redirect answers; see RedirectPolicy.
  RedirectPolicy redirectPolicy;
  // Hops allowed before httpTooManyRedirects.
  int maxRedirects = 10;
  // Polled during the transfer; empty: never cancelled.
  CancellationCheck isCancelled;

  // Sets "Authorization: Bearer <token>" from an access token, or removes the field when the
  // token is absent or empty. Leading and trailing white space (a token file's final line
  // break) is dropped; a token that still holds a control character is not sent at all, so it
  // can never split the header.
  void setBearerToken(const std::optional<std::string> &token);
};

struct HttpResponse {
  // Status of the answer (after the redirects that were followed).
  int status = 0;
  // URL of the request that produced this answer (the final URL after followed redirects).
  std::string url;
  // Header fields of this answer (values with surrounding white space removed).
  HttpHeaders headers;
  // The body; filled only by HttpClient::send.
  std::string body;
};

class HttpClient {
public:
  // Header bytes one hop may receive (see the contract above): far above what a real server
  // sends, low enough that a hostile one cannot make the client collect headers without end.
  static constexpr std::size_t kMaxHeaderBytes = 256 * 1024;

  // Called once per call with the final answer's status, URL and headers, before the first
  // body chunk, also when there is no body. Returning false ends the transfer at once without
  // error (the body is not read); stream() then returns that head.
  using ResponseHandler = std::function<bool(const HttpResponse &head)>;
  // Called with successive pieces of the body in order (pieces of any size, never empty). An
  // exception thrown here stops the transfer and propagates out of stream() unchanged.
  using ChunkHandler = std::function<void(std::string_view chunk)>;

  struct Options {
    // "User-Agent" sent with every request.
    std::string userAgent = "murmurquill/0.1";
  };

  HttpClient();
  explicit HttpClient(Options options);

  // Sends the request and returns the answer with its whole body.
  HttpResponse send(const HttpRequest &request) const;

  // Sends the request and streams the body (see the handlers). Returns the head of the final
  // answer, with an empty body.
  HttpResponse stream(const HttpRequest &request, const ResponseHandler &onResponse,
                      const ChunkHandler &onChunk) const;

  // The standard redirect rule behind HttpRequest::followRedirects.
  static std::optional<HttpRequest> followingRedirect(const HttpRequest &original,
                                                      const HttpResponse &redirect);

private:
  Options options_;
};

} // namespace platform
