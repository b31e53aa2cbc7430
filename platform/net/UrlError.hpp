#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// A transfer that ended without a complete HTTP answer (the server's status codes are not
// errors at this level). The codes are the platform's URL error codes, so callers that retry
// "network errors" or recognise a cancellation can match them across the system.
class UrlError : public std::runtime_error {
public:
  enum class Code : int {
    unknown = -1,
    cancelled = -999,
    badURL = -1000,
    timedOut = -1001,
    unsupportedURL = -1002,
    cannotFindHost = -1003,
    cannotConnectToHost = -1004,
    networkConnectionLost = -1005,
    httpTooManyRedirects = -1007,
    resourceUnavailable = -1008,
    badServerResponse = -1011,
    notConnectedToInternet = -1009,
    secureConnectionFailed = -1200,
  };

  // `detail` (for example the transport's own message) is appended to the fixed text of the
  // code in what(); it may be empty.
  explicit UrlError(Code code, const std::string &detail = {});

  Code code() const noexcept { return code_; }

  // The fixed text of a code, without detail ("The request timed out.").
  static std::string description(Code code);

private:
  Code code_;
};

} // namespace platform
