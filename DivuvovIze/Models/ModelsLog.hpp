#pragma once

#include <string_view>

// The data model's path into the engine's leveled logger, kept in one place so every line
// of this library is emitted the same way.
namespace divuvovize::modelslog {

void debug(std::string_view message);
void info(std::string_view message);
void error(std::string_view message);
// True when a message at debug level would be emitted (callers skip composing otherwise).
bool debugEnabled();

} // namespace divuvovize::modelslog
