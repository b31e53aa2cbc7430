#pragma once

#include <filesystem>
#include <string_view>

namespace platform {

// Owns one open file descriptor and closes it when destroyed or reset. Move-only. A
// default-constructed owner holds none (-1).
class FileDescriptor {
public:
  FileDescriptor() = default;
  // Takes ownership of `fd` (a negative value: none).
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor &&other) noexcept : fd_(other.release()) {}
  FileDescriptor &operator=(FileDescriptor &&other) noexcept;
  FileDescriptor(const FileDescriptor &) = delete;
  FileDescriptor &operator=(const FileDescriptor &) = delete;

  int get() const { return fd_; }
  bool isOpen() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release();
  // Closes the descriptor held (errors of close are ignored) and takes `fd`.
  void reset(int fd = -1);

private:
  int fd_ = -1;
};

// Writes every byte of `bytes` to `fd`, retrying short and interrupted writes. Throws
// std::system_error with errno and the text "cannot write <path>" when a write fails.
void writeAll(int fd, std::string_view bytes, const std::filesystem::path &path);

} // namespace platform
