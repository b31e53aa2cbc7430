#include "platform/net/HttpUrl.hpp"

#include <algorithm>
#include <cctype>
#include <memory>

#include <curl/curl.h>

namespace platform {

namespace {

struct UrlHandleDeleter {
  void operator()(CURLU *handle) const { curl_url_cleanup(handle); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlHandleDeleter>;

std::optional<std::string> getPart(CURLU *handle, CURLUPart part, unsigned int flags = 0) {
  char *text = nullptr;
  if (curl_url_get(handle, part, &text, flags) != CURLUE_OK || text == nullptr) {
    return std::nullopt;
  }
  std::string result(text);
  curl_free(text);
  return result;
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool hasControlOrSpace(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](unsigned char c) { return c <= 0x20 || c == 0x7f; });
}

std::optional<UrlParts> partsOf(CURLU *handle) {
  UrlParts parts;
  auto scheme = getPart(handle, CURLUPART_SCHEME);
  auto host = getPart(handle, CURLUPART_HOST);
  auto port = getPart(handle, CURLUPART_PORT, CURLU_DEFAULT_PORT);
  auto path = getPart(handle, CURLUPART_PATH);
  if (!scheme || !host || !port || host->empty()) {
    return std::nullopt;
  }
  parts.scheme = lowered(*scheme);
  if (parts.scheme != "http" && parts.scheme != "https") {
    return std::nullopt;
  }
  parts.host = lowered(*host);
  try {
    parts.port = std::stoi(*port);
  } catch (...) {
    return std::nullopt;
  }
  parts.path = path && !path->empty() ? *path : "/";
  parts.query = getPart(handle, CURLUPART_QUERY);
  return parts;
}

} // namespace

std::optional<UrlParts> parseHttpUrl(std::string_view url) {
  if (url.empty() || hasControlOrSpace(url)) {
    return std::nullopt;
  }
  UrlHandle handle(curl_url());
  if (!handle) {
    return std::nullopt;
  }
  const std::string text(url);
  if (curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
    return std::nullopt;
  }
  return partsOf(handle.get());
}

std::string formatUrl(const UrlParts &parts) {
  std::string url = parts.scheme + "://" + parts.host;
  const bool defaultPort = (parts.scheme == "http" && parts.port == 80) ||
                           (parts.scheme == "https" && parts.port == 443);
  if (!defaultPort && parts.port > 0) {
    url.append(":").append(std::to_string(parts.port));
  }
  url += parts.path.empty() ? "/" : parts.path;
  if (parts.query) {
    url += "?" + *parts.query;
  }
  return url;
}

bool sameOrigin(std::string_view a, std::string_view b) {
  const auto first = parseHttpUrl(a);
  const auto second = parseHttpUrl(b);
  return first && second && first->scheme == second->scheme && first->host == second->host &&
         first->port == second->port;
}

std::optional<std::string> resolveUrlReference(std::string_view base, std::string_view reference) {
  if (hasControlOrSpace(base) || hasControlOrSpace(reference) || reference.empty()) {
    return std::nullopt;
  }
  UrlHandle handle(curl_url());
  if (!handle) {
    return std::nullopt;
  }
  const std::string baseText(base);
  const std::string referenceText(reference);
  if (curl_url_set(handle.get(), CURLUPART_URL, baseText.c_str(), 0) != CURLUE_OK ||
      curl_url_set(handle.get(), CURLUPART_URL, referenceText.c_str(), 0) != CURLUE_OK) {
    return std::nullopt;
  }
  const auto parts = partsOf(handle.get());
  if (!parts) {
    return std::nullopt;
  }
  return formatUrl(*parts);
}

std::string percentEncodePathSegment(std::string_view segment) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  static constexpr std::string_view kKept = "-._~!$&'()*+,;=:@";
  std::string out;
  out.reserve(segment.size());
  for (const char ch : segment) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) != 0 || kKept.find(ch) != std::string_view::npos) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0f]);
    }
  }
  return out;
}

std::string percentEncodePath(std::string_view path) {
  std::string out;
  std::size_t start = 0;
  while (true) {
    const auto slash = path.find('/', start);
    out += percentEncodePathSegment(path.substr(start, slash - start));
    if (slash == std::string_view::npos) {
      break;
    }
    out.push_back('/');
    start = slash + 1;
  }
  return out;
}

std::string percentDecode(std::string_view text) {
  auto hexValue = [](char c) -> int {
    if (c >= '0' && c <= '9') {
      return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
      return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
      return c - 'A' + 10;
    }
    return -1;
  };
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = hexValue(text[i + 1]);
      const int low = hexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string lastPathComponent(std::string_view url) {
  std::string_view path = url;
  if (const auto parts = parseHttpUrl(url)) {
    return lastPathComponent(parts->path);
  }
  if (const auto query = path.find_first_of("?#"); query != std::string_view::npos) {
    path = path.substr(0, query);
  }
  while (path.size() > 1 && path.back() == '/') {
    path.remove_suffix(1);
  }
  const auto slash = path.rfind('/');
  return percentDecode(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace platform
