#include "DivuvovIze/Logging/ModelsLog.hpp"

#include <string>

#include "DeduveCore/Support/Logging.hpp"

namespace divuvovize::modelslog {

void debug(std::string_view message) { deduve::Logging::debug(std::string(message)); }
void info(std::string_view message) { deduve::Logging::info(std::string(message)); }
void error(std::string_view message) { deduve::Logging::error(std::string(message)); }
bool debugEnabled() { return deduve::Logging::isLoggingEnabled(deduve::Logging::LogLevel::debug); }
bool enabled() { return deduve::Logging::isLoggingEnabled(); }
void memoryUsage(std::string_view message) {
  deduve::Logging::logCurrentMemoryUsage(std::string(message));
}

} // namespace divuvovize::modelslog
