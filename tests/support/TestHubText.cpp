#include "tests/support/TestHubImpl.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace mqtest::hubdetail {

bool equalsIgnoringCase(const std::string &a, const std::string &b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string hexDigest(const EVP_MD *md, const std::string &prefix, const std::string &bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_MD_CTX *context = EVP_MD_CTX_new();
  if (context == nullptr || EVP_DigestInit_ex(context, md, nullptr) != 1 ||
      EVP_DigestUpdate(context, prefix.data(), prefix.size()) != 1 ||
      EVP_DigestUpdate(context, bytes.data(), bytes.size()) != 1 ||
      EVP_DigestFinal_ex(context, digest, &length) != 1) {
    EVP_MD_CTX_free(context);
    throw std::runtime_error("TestHub: digest failed");
  }
  EVP_MD_CTX_free(context);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out.push_back(kHex[digest[i] >> 4]);
    out.push_back(kHex[digest[i] & 0x0f]);
  }
  return out;
}

std::string encodeSegment(const std::string &segment) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : segment) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) != 0 || std::string_view("-._~").find(ch) != std::string_view::npos) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0f]);
    }
  }
  return out;
}

std::string encodePath(const std::string &path) {
  std::string out;
  std::size_t start = 0;
  while (true) {
    const auto slash = path.find('/', start);
    out += encodeSegment(
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) {
      return out;
    }
    out.push_back('/');
    start = slash + 1;
  }
}

std::string decode(const std::string &text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) != 0 &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2])) != 0) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::vector<std::string> split(const std::string &path) {
  std::vector<std::string> segments;
  std::size_t start = path.empty() || path[0] != '/' ? 0 : 1;
  while (start <= path.size()) {
    const auto slash = path.find('/', start);
    const auto end = slash == std::string::npos ? path.size() : slash;
    segments.push_back(decode(path.substr(start, end - start)));
    if (slash == std::string::npos) {
      break;
    }
    start = slash + 1;
  }
  return segments;
}

std::string join(const std::vector<std::string> &segments, std::size_t from, std::size_t to) {
  std::string out;
  for (std::size_t i = from; i < to; ++i) {
    if (i > from) {
      out += "/";
    }
    out += segments[i];
  }
  return out;
}

bool servablePath(const std::string &path, bool allowHidden) {
  if (path.empty() || path.find('\\') != std::string::npos) {
    return false;
  }
  for (const auto &segment : split(path)) {
    if (segment.empty() || segment == "." || segment == ".." ||
        (segment[0] == '.' && !allowHidden)) {
      return false;
    }
  }
  return true;
}

bool isKind(const std::string &word) {
  return word == "models" || word == "datasets" || word == "spaces";
}

std::string readFile(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

RangeAnswer examineRange(const httplib::Request &req, std::uint64_t size) {
  RangeAnswer answer;
  if (!req.has_header("Range")) {
    return answer;
  }
  answer.present = true;
  if (req.ranges.empty()) {
    return answer;
  }
  const auto [first, last] = req.ranges.front();
  if (first < 0) {
    answer.satisfiable = last > 0 && size > 0; // suffix range
  } else {
    answer.satisfiable = static_cast<std::uint64_t>(first) < size;
  }
  return answer;
}

} // namespace mqtest::hubdetail
