#pragma once

#include <cstdint>
#include <string>

namespace murmurquill {

// A file-size style text of a byte count in decimal units: "0 bytes", "1 byte", "999 bytes",
// "12 KB", "1.5 MB", "100 MB", "2.35 GB". Whole kilobytes; one decimal for megabytes and two
// for larger units, without trailing zeros.
std::string byteCountText(std::int64_t bytes);

} // namespace murmurquill
