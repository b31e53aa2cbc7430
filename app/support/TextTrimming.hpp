#pragma once

#include <string>
#include <string_view>

namespace murmurquill {

// `text` without the Unicode white space (newlines included) at both ends.
std::string trimmingWhitespaceAndNewlines(std::string_view text);

} // namespace murmurquill
