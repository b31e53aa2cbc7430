#pragma once

#include <string_view>

// The audio code's path into the engine's leveled logger, so every line of this library is
// emitted the same way.
namespace divuvovize::audiolog {

void debug(std::string_view message);
void info(std::string_view message);
void error(std::string_view message);
// True when a debug line would be emitted (callers skip composing long lines otherwise).
bool debugEnabled();
// Logs `message` + " - Memory usage: " + the resident size + " MB" at debug level.
void memoryUsage(std::string_view message);

} // namespace divuvovize::audiolog
