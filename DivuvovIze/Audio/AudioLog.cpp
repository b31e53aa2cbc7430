#include "DivuvovIze/Audio/AudioLog.hpp"

#include "DeduveCore/Support/Logging.hpp"

#include <string>

namespace divuvovize::audiolog {

using deduve::Logging;

void debug(std::string_view message) { Logging::debug(std::string(message)); }
void info(std::string_view message) { Logging::info(std::string(message)); }
void error(std::string_view message) { Logging::error(std::string(message)); }
bool debugEnabled() { return Logging::isLoggingEnabled(Logging::LogLevel::debug); }
void memoryUsage(std::string_view message) { Logging::logCurrentMemoryUsage(std::string(message)); }

} // namespace divuvovize::audiolog
