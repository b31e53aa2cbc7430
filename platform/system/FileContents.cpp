#include "platform/system/FileContents.hpp"

#include <algorithm>
#include <fstream>

namespace platform {

FileContents FileContents::read(const std::filesystem::path &file, std::uintmax_t maxBytes) {
  FileContents contents;
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) {
    return contents;
  }
  contents.opened = true;
  constexpr std::size_t kPiece = 64 * 1024;
  char piece[kPiece];
  while (in) {
    in.read(piece, static_cast<std::streamsize>(
                       std::min<std::uintmax_t>(kPiece, maxBytes + 1 - contents.bytes.size())));
    contents.bytes.append(piece, static_cast<std::size_t>(in.gcount()));
    if (contents.bytes.size() > maxBytes) {
      contents.tooLarge = true;
      return contents;
    }
  }
  contents.failed = in.bad();
  return contents;
}

} // namespace platform
