#pragma once

#include "platform/system/FileDescriptor.hpp"

#include <filesystem>

namespace platform::runner::importer {

// Names a lock file inside a staging folder, held while its import runs: a staging folder whose
// lock nobody holds was left by an import that was killed.
inline constexpr const char *kLockName = ".import-in-progress";

// A new, empty folder beside `destination` whose name starts with the destination's and `infix`;
// only the importer makes such a folder, so only the importer ever removes it.
std::filesystem::path makeFolderBeside(const std::filesystem::path &destination, const char *infix);

// Holds the lock of the staging folder `staging` until destroyed.
platform::FileDescriptor lockStaging(const std::filesystem::path &staging);

// Removes the staging folders of imports into `destination` that were killed before they
// finished: ours by name (`destination` ".partial-" and six characters, as mkdtemp makes them)
// and by their lock file, stale because no process holds that lock.
void sweepStalePartials(const std::filesystem::path &destination);

// Removes a staging folder this import made, if it is still there.
void removeStaging(const std::filesystem::path &staging);

} // namespace platform::runner::importer
