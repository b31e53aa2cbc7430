#include "platform/system/FileContents.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

FileContents FileContents::read(const std::filesystem::path &file, std::uintmax_t maxBytes) {
  FileContents contents;
  // Non-blocking only for the open, which would otherwise wait for a FIFO's writer.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return contents;
  }
  contents.opened = true;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    contents.notRegular = true;
    contents.failed = true;
    ::close(fd);
    return contents;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  constexpr std::size_t kPiece = 64 * 1024;
  char piece[kPiece];
  for (;;) {
    const auto wanted = static_cast<std::size_t>(
        std::min<std::uintmax_t>(kPiece, maxBytes + 1 - contents.bytes.size()));
    const ssize_t got = ::read(fd, piece, wanted);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      contents.failed = true;
      break;
    }
    if (got == 0) {
      break;
    }
    contents.bytes.append(piece, static_cast<std::size_t>(got));
    if (contents.bytes.size() > maxBytes) {
      contents.tooLarge = true;
      break;
    }
  }
  ::close(fd);
  return contents;
}

} // namespace platform
