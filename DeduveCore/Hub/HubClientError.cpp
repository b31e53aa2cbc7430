#include "DeduveCore/Hub/HubClientError.hpp"

namespace deduve::Hub {

HubClientError::HubClientError(Kind kind, const std::string &description, std::string payload)
    : std::runtime_error(description), kind_(kind), payload_(std::move(payload)) {}

HubClientError HubClientError::httpStatusCode(int code) {
  HubClientError error(Kind::httpStatusCode,
                       "HTTP error with status code: " + std::to_string(code));
  return error;
}

HubClientError HubClientError::jsonSerialization(std::string fileURL, std::string message) {
  HubClientError error(Kind::jsonSerialization, message, message);
  error.fileURL_ = std::move(fileURL);
  return error;
}

HubClientError HubClientError::downloadError(std::string text) {
  return {Kind::downloadError, "Download failed: " + text, text};
}

HubClientError HubClientError::fileNotFound(std::string text) {
  return {Kind::fileNotFound, "File not found: " + text, text};
}

HubClientError HubClientError::networkError(const platform::UrlError &urlError) {
  HubClientError error(Kind::networkError, std::string("Network error: ") + urlError.what(),
                       urlError.what());
  error.urlErrorCode_ = urlError.code();
  return error;
}

HubClientError HubClientError::resourceNotFound(std::string text) {
  return {Kind::resourceNotFound, "Resource not found: " + text, text};
}

HubClientError HubClientError::configurationMissing(std::string text) {
  return {Kind::configurationMissing, "Required configuration file missing: " + text, text};
}

HubClientError HubClientError::fileSystemError(std::string errorDescription) {
  return {Kind::fileSystemError, "File system error: " + errorDescription, errorDescription};
}

HubClientError HubClientError::parseError(std::string text) {
  return {Kind::parseError, "Parse error: " + text, text};
}

HubClientError HubClientError::authorizationRequired() {
  return {Kind::authorizationRequired,
          "Authentication required. Please provide a valid Hugging Face token."};
}

HubClientError HubClientError::parse() { return {Kind::parse, "Failed to parse server response."}; }

HubClientError HubClientError::unexpectedError() {
  return {Kind::unexpectedError, "An unexpected error occurred."};
}

} // namespace deduve::Hub
