#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "platform/net/UrlError.hpp"

namespace deduve::Hub {

// The error of the whole hub client: web requests, sidecars, file downloads, the JSON reader
// and the configuration loader throw it. what() is the case's fixed English text.
class HubClientError : public std::runtime_error {
public:
  enum class Kind {
    httpStatusCode,
    jsonSerialization,
    downloadError,
    fileNotFound,
    networkError,
    resourceNotFound,
    configurationMissing,
    fileSystemError,
    parseError,
    authorizationRequired,
    parse,
    unexpectedError,
  };

  // "HTTP error with status code: <code>"
  static HubClientError httpStatusCode(int code);
  // The message itself.
  static HubClientError jsonSerialization(std::string fileURL, std::string message);
  // "Download failed: <text>"
  static HubClientError downloadError(std::string text);
  // "File not found: <text>"
  static HubClientError fileNotFound(std::string text);
  // "Network error: <the URL error's description>"
  static HubClientError networkError(const platform::UrlError &error);
  // "Resource not found: <text>"
  static HubClientError resourceNotFound(std::string text);
  // "Required configuration file missing: <text>"
  static HubClientError configurationMissing(std::string text);
  // "File system error: <the error's description>"
  static HubClientError fileSystemError(std::string errorDescription);
  // "Parse error: <text>"
  static HubClientError parseError(std::string text);
  // "Authentication required. Please provide a valid Hugging Face token."
  static HubClientError authorizationRequired();
  // "Failed to parse server response."
  static HubClientError parse();
  // "An unexpected error occurred."
  static HubClientError unexpectedError();

  Kind kind() const noexcept { return kind_; }
  // The text payload: the string of the string cases, the message of jsonSerialization, the
  // description of networkError and fileSystemError; empty for the others.
  const std::string &payload() const noexcept { return payload_; }
  // The file URL of jsonSerialization.
  const std::string &fileURL() const noexcept { return fileURL_; }
  // The code of networkError.
  std::optional<platform::UrlError::Code> urlErrorCode() const noexcept { return urlErrorCode_; }
  // The localized description (what()).
  std::string errorDescription() const { return what(); }

private:
  HubClientError(Kind kind, const std::string &description, std::string payload = {});

  Kind kind_;
  std::string payload_;
  std::string fileURL_;
  std::optional<platform::UrlError::Code> urlErrorCode_;
};

} // namespace deduve::Hub
