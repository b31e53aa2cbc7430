#include "DeduveCore/Hub/TextFile.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace deduve {

std::string readWholeFile(const std::filesystem::path &file) {
  std::error_code typeError;
  std::ifstream in(file, std::ios::binary);
  if (!in || std::filesystem::is_directory(file, typeError)) {
    throw std::runtime_error("The file \"" + file.filename().string() + "\" couldn't be opened.");
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) {
    throw std::runtime_error("The file \"" + file.filename().string() + "\" couldn't be read.");
  }
  return buffer.str();
}

} // namespace deduve
