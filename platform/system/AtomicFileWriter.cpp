#include "platform/system/AtomicFileWriter.hpp"

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void throwErrno(int code, const std::string &what, const fs::path &path) {
  throw std::system_error(code, std::generic_category(), what + " " + path.string());
}

// Opens a fresh temporary beside `target`; a name taken by another writer is skipped.
FileDescriptor createTemporary(const fs::path &target, fs::path &temporary) {
  static std::atomic<unsigned> created{0};
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  while (true) {
    temporary =
        folder / ("." + std::to_string(::getpid()) + "-" + std::to_string(++created) + ".tmp");
    FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (file.isOpen()) {
      return file;
    }
    if (errno != EEXIST) {
      throwErrno(errno, "cannot create a temporary file for", target);
    }
  }
}

} // namespace

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target)
    : target_(std::move(target)), file_(createTemporary(target_, temporary_)) {}

AtomicFileWriter::~AtomicFileWriter() {
  if (!committed_) {
    discard();
  }
}

void AtomicFileWriter::write(std::string_view bytes) {
  try {
    writeAll(file_.get(), bytes, target_);
  } catch (...) {
    discard();
    throw;
  }
}

void AtomicFileWriter::commit() {
  // Without the flush a crash soon after the rename could leave the new name on empty data.
  if (::fsync(file_.get()) != 0) {
    const int code = errno;
    discard();
    throwErrno(code, "cannot write", target_);
  }
  file_.reset();
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    const int code = errno;
    discard();
    throwErrno(code, "cannot replace", target_);
  }
  committed_ = true;
}

void AtomicFileWriter::discard() noexcept {
  file_.reset();
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

void replaceFileAtomically(const std::filesystem::path &path, std::string_view bytes) {
  AtomicFileWriter writer(path);
  writer.write(bytes);
  writer.commit();
}

void moveFileReplacing(const std::filesystem::path &from, const std::filesystem::path &to) {
  std::error_code error;
  fs::rename(from, to, error);
  if (!error) {
    return;
  }
  if (error != std::errc::cross_device_link) {
    throw fs::filesystem_error("cannot move file", from, to, error);
  }
  try {
    AtomicFileWriter writer(to);
    const FileDescriptor input(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input.isOpen()) {
      throwErrno(errno, "cannot read", from);
    }
    std::string block(1 << 16, '\0');
    while (true) {
      const ssize_t n = ::read(input.get(), block.data(), block.size());
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n < 0) {
        throwErrno(errno, "cannot read", from);
      }
      if (n == 0) {
        break;
      }
      writer.write(std::string_view(block.data(), static_cast<std::size_t>(n)));
    }
    writer.commit();
  } catch (const std::system_error &failure) {
    throw fs::filesystem_error("cannot move file", from, to, failure.code());
  }
  fs::remove(from);
}

} // namespace platform
