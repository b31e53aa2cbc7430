#include "platform/ml/runner/importer/StagingFolder.hpp"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::runner::importer {

namespace fs = std::filesystem;

fs::path makeFolderBeside(const fs::path &destination, const char *infix) {
  std::string pattern = destination.string() + infix + "XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw fs::filesystem_error("cannot make a folder", fs::path(pattern),
                               std::error_code(errno, std::generic_category()));
  }
  using fs::perms;
  fs::permissions(pattern, perms::owner_all | perms::group_read | perms::group_exec |
                               perms::others_read | perms::others_exec);
  return pattern;
}

platform::FileDescriptor lockStaging(const fs::path &staging) {
  const fs::path lock = staging / kLockName;
  platform::FileDescriptor fd(
      ::open(lock.c_str(), O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR));
  if (!fd.isOpen() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    throw fs::filesystem_error("cannot lock the staging folder", lock,
                               std::error_code(errno, std::generic_category()));
  }
  return fd;
}

void sweepStalePartials(const fs::path &destination) {
  const std::string prefix = destination.filename().string() + ".partial-";
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(destination.parent_path(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() != prefix.size() + 6 || !name.starts_with(prefix) ||
        !fs::is_directory(fs::symlink_status(entry.path(), error))) {
      continue;
    }
    const fs::path lock = entry.path() / kLockName;
    if (!fs::is_regular_file(fs::symlink_status(lock, error))) {
      continue;
    }
    const platform::FileDescriptor fd(::open(lock.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (fd.isOpen() && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
      fs::remove_all(entry.path(), error);
    }
  }
}

void removeStaging(const fs::path &staging) {
  std::error_code error;
  if (!staging.empty()) {
    fs::remove_all(staging, error);
  }
}

} // namespace platform::runner::importer
