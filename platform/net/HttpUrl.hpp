#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The parts of an absolute URL, as sent on the wire. `path` keeps its percent-encoding and is
// "/" at least; `query` is absent when the URL has no "?"; `port` is the explicit port or the
// scheme's default (80, 443).
struct UrlParts {
  std::string scheme; // lower case
  std::string host;   // lower case
  int port = 0;
  std::string path;
  std::optional<std::string> query;
};

// Splits an absolute http or https URL. Returns nothing for text that is not one (no scheme,
// no host, another scheme, an invalid port).
std::optional<UrlParts> parseHttpUrl(std::string_view url);

// Writes the parts back as an absolute URL; the default port is omitted.
std::string formatUrl(const UrlParts &parts);

// True when both URLs parse and name the same scheme, host and port. A bearer token may only go
// to the origin it was given for.
bool sameOrigin(std::string_view a, std::string_view b);

// Resolves `reference` (absolute, or relative in any form a Location header may use) against
// the absolute `base`. Returns nothing when either cannot be read or the result is not http(s).
std::optional<std::string> resolveUrlReference(std::string_view base, std::string_view reference);

// Percent-encodes one path segment: everything except letters, digits and -._~!$&'()*+,;=:@ is
// written as %XX (upper-case hex), so "/" becomes %2F and " " becomes %20.
std::string percentEncodePathSegment(std::string_view segment);

// Percent-encodes each "/"-separated segment of a relative path and keeps the separators.
std::string percentEncodePath(std::string_view path);

// Decodes %XX escapes; a malformed escape is kept as written.
std::string percentDecode(std::string_view text);

// Text of a URL's last path segment, decoded ("file.bin" for .../a/file.bin?x=1).
std::string lastPathComponent(std::string_view url);

} // namespace platform
