#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace deduve {

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// The whole file as bytes. Throws std::runtime_error with a readable description when it cannot
// be opened (a folder included) or read.
std::string readWholeFile(const std::filesystem::path &file);

} // namespace deduve
