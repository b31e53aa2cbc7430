#include "platform/system/FileDescriptor.hpp"

#include <cerrno>
#include <system_error>

#include <unistd.h>

namespace platform {

FileDescriptor &FileDescriptor::operator=(FileDescriptor &&other) noexcept {
  if (this != &other) {
    reset(other.release());
  }
  return *this;
}

int FileDescriptor::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void FileDescriptor::reset(int fd) {
  if (fd_ >= 0 && fd_ != fd) {
    ::close(fd_);
  }
  fd_ = fd;
}

void writeAll(int fd, std::string_view bytes, const std::filesystem::path &path) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      // write() reports no progress without an error only on a full device in practice.
      const int error = written < 0 ? errno : ENOSPC;
      throw std::system_error(error, std::generic_category(), "cannot write " + path.string());
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

} // namespace platform
