#include "platform/ml/runner/importer/ImportDestination.hpp"

#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/importer/ImportMarker.hpp"
#include "platform/ml/runner/importer/StagingFolder.hpp"

#include <algorithm>
#include <optional>
#include <system_error>

namespace platform::runner::importer {

namespace fs = std::filesystem;

namespace {

// True when `inner` is `outer` or lies inside it.
bool isWithin(const fs::path &inner, const fs::path &outer) {
  const fs::path relative = inner.lexically_relative(outer);
  return !relative.empty() && *relative.begin() != "..";
}

// Removes `file` and then the folders above it inside `root` that it leaves empty.
void removeWithEmptyFolders(const fs::path &root, const fs::path &relative) {
  std::error_code error;
  fs::remove(root / relative, error);
  for (fs::path folder = relative.parent_path(); !folder.empty(); folder = folder.parent_path()) {
    if (!fs::remove(root / folder, error)) { // only an empty folder goes
      break;
    }
  }
}

} // namespace

fs::path plainPath(const fs::path &path) {
  fs::path plain = fs::absolute(path).lexically_normal();
  return plain.has_filename() ? plain : plain.parent_path();
}

void checkDestination(const fs::path &source, const fs::path &destination) {
  const fs::path from = fs::weakly_canonical(source);
  const fs::path to = fs::weakly_canonical(destination);
  if (isWithin(to, from)) {
    throw MLModelError(MLModelError::Code::io,
                       destination.string() + ": is the checkpoint folder or lies inside it");
  }
  if (isWithin(from, to)) {
    throw MLModelError(MLModelError::Code::io,
                       destination.string() + ": holds the checkpoint folder " + source.string());
  }
  const fs::file_status status = fs::symlink_status(destination);
  if (fs::exists(status) && !readMarker(destination)) {
    throw MLModelError(MLModelError::Code::io,
                       destination.string() +
                           ": exists and is not an earlier import (it holds no " + kStampName +
                           " written by an import), so it is left as it is");
  }
}

void moveIntoPlace(const fs::path &source, const fs::path &staging, const fs::path &destination,
                   const std::vector<std::string> &wrote) {
  checkDestination(source, destination); // again: the folder may have appeared meanwhile
  if (!fs::exists(fs::symlink_status(destination))) {
    // The lock goes with the folder and is dropped there: a staging folder never lacks it.
    fs::rename(staging, destination);
    std::error_code error;
    fs::remove(destination / kLockName, error);
    return;
  }
  const std::optional<Marker> earlier = readMarker(destination);
  const auto wroteEarlier = [&](const std::string &name) {
    return std::find(earlier->wrote.begin(), earlier->wrote.end(), name) != earlier->wrote.end();
  };
  for (const std::string &name : wrote) {
    if (fs::exists(fs::symlink_status(destination / name)) && !wroteEarlier(name)) {
      throw MLModelError(MLModelError::Code::io,
                         (destination / name).string() +
                             ": was not written by an earlier import, so it is left as it is");
    }
  }
  // A model folder replaced by a link would have the import write or delete where it points.
  for (const auto *names : {&wrote, &earlier->wrote}) {
    for (const std::string &name : *names) {
      const fs::path folder = (destination / name).parent_path();
      if (folder != destination && fs::is_symlink(fs::symlink_status(folder))) {
        throw MLModelError(MLModelError::Code::io,
                           folder.string() + ": is a link, not a folder an import wrote, so it "
                                             "is left as it is");
      }
    }
  }
  for (const std::string &name : wrote) {
    fs::create_directories((destination / name).parent_path());
    fs::rename(staging / name, destination / name);
  }
  for (const std::string &name : earlier->wrote) {
    if (std::find(wrote.begin(), wrote.end(), name) == wrote.end()) {
      removeWithEmptyFolders(destination, name);
    }
  }
  fs::rename(staging / kStampName, destination / kStampName);
  std::error_code error;
  fs::remove_all(staging, error);
}

} // namespace platform::runner::importer
