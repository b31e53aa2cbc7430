#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "DeduveCore/Text/Utf8.hpp"

namespace deduve {

// The whole file as bytes. Throws std::runtime_error with a readable description when it cannot
// be opened (a folder included) or read.
std::string readWholeFile(const std::filesystem::path &file);

} // namespace deduve
