#pragma once

#include <filesystem>
#include <string_view>

#include "platform/system/FileDescriptor.hpp"

namespace platform {

// Writes a file under a temporary name in its target's folder and renames it over the target,
// so readers see the old file or the new one, never a part of one, and a crash or a failed
// write leaves the target as it was. The temporary is removed unless committed.
//
// Temporary names are ".<pid>-<count>.tmp": unique within the process and across processes,
// and of a fixed length, since the target's own name may already be as long as a name can be.
class AtomicFileWriter {
public:
  // Creates the temporary (mode 0666 less the umask, as a plain new file gets). Throws
  // std::system_error naming the target when the folder cannot take it.
  explicit AtomicFileWriter(std::filesystem::path target);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter &) = delete;
  AtomicFileWriter &operator=(const AtomicFileWriter &) = delete;

  const std::filesystem::path &target() const { return target_; }
  // For writers that open the file by name themselves (they must write in place, not replace it).
  const std::filesystem::path &temporaryPath() const { return temporary_; }
  int descriptor() const { return file_.get(); }

  // Throws std::system_error "cannot write <target>" when a write fails.
  void write(std::string_view bytes);
  // Flushes the data to the disk, then renames it over the target. Throws std::system_error
  // naming the target on failure, the temporary removed.
  void commit();

private:
  void discard() noexcept;

  std::filesystem::path target_;
  std::filesystem::path temporary_;
  FileDescriptor file_;
  bool committed_ = false;
};

// Replaces `path` with `bytes` through an AtomicFileWriter. Throws std::system_error.
void replaceFileAtomically(const std::filesystem::path &path, std::string_view bytes);

// Moves the finished file `from` over `to` in one step. Across file systems, where a rename
// cannot, the bytes are copied beside `to` and renamed over it, then `from` is removed.
// Throws std::filesystem::filesystem_error.
void moveFileReplacing(const std::filesystem::path &from, const std::filesystem::path &to);

} // namespace platform
