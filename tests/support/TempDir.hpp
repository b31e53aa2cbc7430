#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace mqtest {

// A fresh, empty folder under the system's temporary folder, removed with everything in it
// when the object goes out of scope. Not copyable; one per test.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::filesystem::path &path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

  // Writes `contents` to `relative` inside the folder, creating parent folders.
  std::filesystem::path write(std::string_view relative, std::string_view contents) const;
  // Reads a whole file as bytes.
  static std::string read(const std::filesystem::path &file);

private:
  std::filesystem::path path_;
};

// Path of a file under the source tree's tests/fixtures folder.
std::filesystem::path fixturePath(std::string_view relative);

} // namespace mqtest
