#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace platform {

// What reading a file of outside data found, reading no more than the caller's bound.
struct FileContents {
  bool opened = false;   // false: missing or not readable; nothing else is set
  bool tooLarge = false; // the file holds more than the bound; `bytes` holds only a part of it
  bool failed = false;   // a read failed part way, or the file is not a regular one
  // The path names a folder, a FIFO, a device or a socket: nothing was read (`failed` is set).
  bool notRegular = false;
  std::string bytes;

  // Reads `file` up to `maxBytes`, in pieces, so a huge file costs no more than the bound and a
  // small one no more than its size. Only regular files are read: opening never waits (a FIFO
  // with no writer), and a device that never ends (/dev/zero) is not read at all. Blocking.
  static FileContents read(const std::filesystem::path &file, std::uintmax_t maxBytes);
};

} // namespace platform
