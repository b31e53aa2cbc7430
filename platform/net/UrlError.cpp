#include "platform/net/UrlError.hpp"

namespace platform {

namespace {

std::string composeMessage(UrlError::Code code, const std::string &detail) {
  std::string text = UrlError::description(code);
  if (!detail.empty()) {
    text += " (" + detail + ")";
  }
  return text;
}

} // namespace

UrlError::UrlError(Code code, const std::string &detail)
    : std::runtime_error(composeMessage(code, detail)), code_(code) {}

std::string UrlError::description(Code code) {
  switch (code) {
  case Code::cancelled:
    return "cancelled";
  case Code::badURL:
    return "bad URL";
  case Code::timedOut:
    return "The request timed out.";
  case Code::unsupportedURL:
    return "unsupported URL";
  case Code::cannotFindHost:
    return "A server with the specified hostname could not be found.";
  case Code::cannotConnectToHost:
    return "Could not connect to the server.";
  case Code::networkConnectionLost:
    return "The network connection was lost.";
  case Code::httpTooManyRedirects:
    return "too many HTTP redirects";
  case Code::resourceUnavailable:
    return "The requested resource is unavailable.";
  case Code::badServerResponse:
    return "The server returned a response that could not be read.";
  case Code::notConnectedToInternet:
    return "The Internet connection appears to be offline.";
  case Code::secureConnectionFailed:
    return "An SSL error has occurred and a secure connection to the server cannot be made.";
  case Code::unknown:
    break;
  }
  return "An unknown network error occurred.";
}

} // namespace platform
