#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace platform::runner::importer {

// `path` absolute, without "." and ".." parts or a trailing separator, so its name and parent are
// those of the folder meant ("." names the current directory, not a folder called ".").
std::filesystem::path plainPath(const std::filesystem::path &path);

// Refuses a destination where the import would delete or replace what it did not write: the
// checkpoint itself, a folder holding it, and anything but an earlier import, which holds the
// marker file. Symbolic links are not followed: one is not an earlier import.
void checkDestination(const std::filesystem::path &source,
                      const std::filesystem::path &destination);

// Puts the finished import in `staging` (which wrote `wrote`) at `destination`. A new
// destination is the staging folder renamed. An earlier import there is replaced file by file:
// the files it wrote are replaced or removed, anything a user added is left, and its marker is
// replaced last, so an interrupted replacement is redone by the next import.
void moveIntoPlace(const std::filesystem::path &source, const std::filesystem::path &staging,
                   const std::filesystem::path &destination, const std::vector<std::string> &wrote);

} // namespace platform::runner::importer
