#pragma once

#include <functional>
#include <string>

namespace murmurquill {

// Where the application's log lines go: one call per line, without the newline. The sink must
// be thread-safe (the audio thread logs conversion errors).
using LogSink = std::function<void(const std::string &line)>;

// Writes each line and a newline to standard output, whole lines at a time.
LogSink standardOutputLog();

} // namespace murmurquill
