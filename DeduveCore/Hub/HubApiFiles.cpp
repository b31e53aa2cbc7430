// Local files of the hub client: safe paths from server names, the local file listing, the
// metadata sidecars and file digests.

#include "DeduveCore/Hub/HubApi.hpp"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DeduveCore/Hub/TextFile.hpp"
#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Text/Utf8.hpp"
#include "platform/net/HttpUrl.hpp"
#include "platform/system/AtomicFileWriter.hpp"
#include "platform/system/FileDescriptor.hpp"

namespace deduve {

namespace {

constexpr std::size_t kHashBlockSize = 1024 * 1024;

bool hasControlCharacter(std::string_view text) {
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f) {
      return true;
    }
  }
  return false;
}

// Line breaks as the sidecar reader splits them: LF, VT, FF, CR, U+0085, U+2028, U+2029.
// Returns the length of the break starting at `i`, or 0.
std::size_t lineBreakAt(std::string_view text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c == '\n' || c == '\v' || c == '\f' || c == '\r') {
    return 1;
  }
  if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
    return 2;
  }
  if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
      (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
       static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
    return 3;
  }
  return 0;
}

bool hasLineBreak(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (lineBreakAt(text, i) > 0) {
      return true;
    }
  }
  return false;
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = lineBreakAt(text, i);
    if (length == 0) {
      ++i;
      continue;
    }
    pieces.push_back(text.substr(start, i - start));
    i += length;
    start = i;
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

std::optional<double> parseDouble(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
      return std::nullopt;
    }
  }
  if (text.empty()) {
    return std::nullopt;
  }
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// Shortest text that reads back to the same double, always with a fractional part or an
// exponent ("12.5", "12.0", "1e+16").
std::string formatDouble(double value) {
  std::array<char, 64> buffer{};
  const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  std::string text(buffer.data(), error == std::errc() ? end : buffer.data());
  if (text.find_first_of(".eEn") == std::string::npos) {
    text += ".0";
  }
  return text;
}

std::string fileUrlText(const std::filesystem::path &path) {
  return "file://" + platform::percentEncodePath(std::filesystem::absolute(path).generic_string());
}

struct DigestDeleter {
  void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

} // namespace

bool HubApi::isSafeRelativeFilename(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.find('\\') != std::string_view::npos ||
      hasControlCharacter(name)) {
    return false;
  }
  // The client's own bookkeeping (sidecars, partial files) lives in this folder of the local
  // repository: a server-chosen file there, or in its place, could replace or block it.
  for (const std::string_view bookkeeping : {".cache", ".cache/huggingface"}) {
    if (name == bookkeeping) {
      return false;
    }
  }
  if (name.rfind(".cache/huggingface/", 0) == 0) {
    return false;
  }
  std::size_t start = 0;
  while (true) {
    const auto slash = name.find('/', start);
    const auto segment = name.substr(start, slash - start);
    if (segment.empty() || segment == "." || segment == "..") {
      return false;
    }
    if (slash == std::string_view::npos) {
      return true;
    }
    start = slash + 1;
  }
}

std::filesystem::path HubApi::localPath(const std::filesystem::path &folder,
                                        std::string_view name) {
  if (!isSafeRelativeFilename(name)) {
    throw Hub::HubClientError::parseError("unsafe repository file path \"" + std::string(name) +
                                          "\"");
  }
  return folder / std::filesystem::path(std::string(name));
}

bool HubApi::isSafeMetadataValue(std::string_view value) {
  return !value.empty() && value.find('/') == std::string_view::npos &&
         value.find('\\') == std::string_view::npos && value.find("..") == std::string_view::npos &&
         !hasControlCharacter(value) && !hasLineBreak(value);
}

std::vector<std::filesystem::path> HubApi::localFiles(const std::filesystem::path &folder) {
  std::vector<std::filesystem::path> files;
  std::error_code openError;
  std::filesystem::recursive_directory_iterator it(folder, openError);
  if (openError) {
    return files;
  }
  for (; it != std::filesystem::recursive_directory_iterator(); it.increment(openError)) {
    if (openError) {
      throw std::filesystem::filesystem_error("cannot list", folder, openError);
    }
    const auto &entry = *it;
    const std::string name = entry.path().filename().string();
    const bool hidden = !name.empty() && name.front() == '.';
    // The entry itself, not a link's target, decides what it is.
    const auto status = entry.symlink_status();
    if (hidden) {
      if (status.type() == std::filesystem::file_type::directory) {
        it.disable_recursion_pending();
      }
      continue;
    }
    if (status.type() == std::filesystem::file_type::regular) {
      files.push_back(std::filesystem::absolute(entry.path()));
    }
  }
  if (openError) {
    throw std::filesystem::filesystem_error("cannot list", folder, openError);
  }
  return files;
}

std::optional<HubApi::LocalDownloadFileMetadata>
HubApi::readDownloadMetadata(const std::filesystem::path &metadataPath) {
  std::error_code existsError;
  if (!std::filesystem::exists(std::filesystem::symlink_status(metadataPath, existsError))) {
    return std::nullopt;
  }
  try {
    const std::string text = readWholeFile(metadataPath);
    if (!isValidUtf8(text)) {
      throw std::runtime_error("The file \"" + metadataPath.filename().string() +
                               "\" couldn't be opened because the text encoding of its "
                               "contents can't be determined.");
    }
    const auto pieces = splitLines(text);
    if (pieces.size() < 3) {
      throw EnvironmentError::invalidMetadataError("Metadata file is missing required fields");
    }
    const auto commitHash = trimmingWhiteSpace(pieces[0]);
    const auto etag = trimmingWhiteSpace(pieces[1]);
    const auto timestamp = parseDouble(trimmingWhiteSpace(pieces[2]));
    if (!timestamp) {
      throw EnvironmentError::invalidMetadataError("Invalid timestamp format");
    }
    std::string filename = metadataPath.filename().string();
    for (auto at = filename.find(".metadata"); at != std::string::npos;
         at = filename.find(".metadata")) {
      filename.erase(at, std::string_view(".metadata").size());
    }
    return LocalDownloadFileMetadata{std::string(commitHash), std::string(etag),
                                     std::move(filename), *timestamp};
  } catch (const std::exception &error) {
    const bool invalid = dynamic_cast<const EnvironmentError *>(&error) != nullptr;
    logError((invalid ? "Invalid metadata file " : "Error reading metadata file ") +
             fileUrlText(metadataPath) + ": " + error.what() +
             ". Removing it from disk and continuing.");
    std::error_code removeError;
    std::filesystem::remove(metadataPath, removeError);
    if (removeError) {
      throw EnvironmentError::invalidMetadataError("Could not remove corrupted metadata file: " +
                                                   removeError.message());
    }
    return std::nullopt;
  }
}

void HubApi::writeDownloadMetadata(const std::string &commitHash, const std::string &etag,
                                   const std::filesystem::path &metadataPath) {
  const double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  writeDownloadMetadata(commitHash, etag, metadataPath, now);
}

void HubApi::writeDownloadMetadata(const std::string &commitHash, const std::string &etag,
                                   const std::filesystem::path &metadataPath,
                                   double secondsSince1970) {
  // A line break inside a value would shift the lines and make the sidecar lie.
  if (hasLineBreak(commitHash) || hasLineBreak(etag)) {
    throw EnvironmentError::invalidMetadataError(
        "a commit hash or ETag with a line break cannot be recorded in " + metadataPath.string());
  }
  const std::string text = commitHash + "\n" + etag + "\n" + formatDouble(secondsSince1970) + "\n";
  auto fail = [&](const std::string &reason) {
    return EnvironmentError::fileWriteError("Failed to write metadata to " + metadataPath.string() +
                                            ": " + reason);
  };
  std::error_code folderError;
  std::filesystem::create_directories(metadataPath.parent_path(), folderError);
  if (folderError) {
    throw fail(folderError.message());
  }
  try {
    platform::replaceFileAtomically(metadataPath, text);
  } catch (const std::system_error &error) {
    throw fail(error.code().message());
  }
}

std::string HubApi::computeFileHash(const std::filesystem::path &file) {
  const platform::FileDescriptor input(open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!input.isOpen()) {
    throw Hub::HubClientError::fileNotFound(file.filename().string());
  }
  std::unique_ptr<EVP_MD_CTX, DigestDeleter> context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    throw Hub::HubClientError::fileSystemError("cannot start a SHA-256 digest");
  }
  std::vector<unsigned char> block(kHashBlockSize);
  while (true) {
    const ssize_t n = read(input.get(), block.data(), block.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      // A digest of the bytes read so far would pass for the file's and let a damaged copy
      // through the integrity check.
      throw Hub::HubClientError::fileSystemError("cannot read " + file.string() + ": " +
                                                 std::strerror(errno));
    }
    if (n == 0) {
      break;
    }
    if (EVP_DigestUpdate(context.get(), block.data(), static_cast<std::size_t>(n)) != 1) {
      throw Hub::HubClientError::fileSystemError("SHA-256 digest failed for " + file.string());
    }
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
    throw Hub::HubClientError::fileSystemError("SHA-256 digest failed for " + file.string());
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0x0f]);
  }
  return hex;
}

} // namespace deduve
