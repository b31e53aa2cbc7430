#include "tests/support/TempDir.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace mqtest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "mq-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("TempDir: mkdtemp failed for " + pattern);
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::write(std::string_view relative, std::string_view contents) const {
  const auto file = path_ / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out) {
    throw std::runtime_error("TempDir: cannot write " + file.string());
  }
  return file;
}

std::string TempDir::read(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    throw std::runtime_error("TempDir: cannot read " + file.string());
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::filesystem::path fixturePath(std::string_view relative) {
  return std::filesystem::path(MQ_SOURCE_DIR) / "tests" / "fixtures" / relative;
}

} // namespace mqtest
