#pragma once

#include <string_view>

// The speech engine's path into the leveled logger, kept in one place so every line of the
// engine's libraries (data model, audio, decoding) is emitted the same way.
namespace divuvovize::modelslog {

void debug(std::string_view message);
void info(std::string_view message);
void error(std::string_view message);
// True when a message at debug level would be emitted (callers skip composing otherwise).
bool debugEnabled();
// True when the log emits anything at all (its level is not none).
bool enabled();
// Logs `message` + " - Memory usage: " + the resident size + " MB" at debug level.
void memoryUsage(std::string_view message);

} // namespace divuvovize::modelslog
