#include "DeduveCore/Support/Logging.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>

namespace deduve {

namespace {

int messageLevel(Logging::LogType type) {
  switch (type) {
  case Logging::LogType::debug:
    return 1;
  case Logging::LogType::info:
  case Logging::LogType::default_:
    return 2;
  case Logging::LogType::error:
  case Logging::LogType::fault:
    return 3;
  }
  return 2;
}

int syslogPriority(Logging::LogType type) {
  switch (type) {
  case Logging::LogType::debug:
    return LOG_DEBUG;
  case Logging::LogType::info:
    return LOG_INFO;
  case Logging::LogType::default_:
    return LOG_NOTICE;
  case Logging::LogType::error:
    return LOG_ERR;
  case Logging::LogType::fault:
    return LOG_CRIT;
  }
  return LOG_NOTICE;
}

// One entry on the system log's socket, tagged with the logger's subsystem rather than the
// process's own syslog identity (which belongs to the program and is left alone).
void writeToSyslog(Logging::LogType type, const std::string &message) {
  const int priority = syslogPriority(type);
  // Honour the process's log mask as the system log honours its enabled types.
  const int mask = setlogmask(0);
  if ((mask & LOG_MASK(priority)) == 0) {
    return;
  }
  const std::string entry = Logging::systemLogEntry(type, message);
  const int socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket < 0) {
    return;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", "/dev/log");
  // A system without a log socket loses the entry, as the system log would.
  (void)::sendto(socket, entry.data(), entry.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr *>(&address), sizeof address);
  ::close(socket);
}

} // namespace

Logging::Logging(SystemLog systemLog) : systemLog_(std::move(systemLog)) {
  if (!systemLog_) {
    systemLog_ = writeToSyslog;
  }
}

std::string Logging::systemLogEntry(LogType type, std::string_view message) {
  return "<" + std::to_string(LOG_USER | syslogPriority(type)) + ">" + kSubsystem + "[" +
         std::to_string(::getpid()) + "]: [" + kCategory + "] " + std::string(message);
}

Logging &Logging::shared() {
  static Logging *instance = new Logging();
  return *instance;
}

std::optional<Logging::LogLevel> Logging::logLevelFromRawValue(int rawValue) {
  if (rawValue < 1 || rawValue > 4) {
    return std::nullopt;
  }
  return static_cast<LogLevel>(rawValue);
}

const char *Logging::description(LogLevel level) {
  switch (level) {
  case LogLevel::debug:
    return "debug";
  case LogLevel::info:
    return "info";
  case LogLevel::error:
    return "error";
  case LogLevel::none:
    return "none";
  }
  return "none";
}

Logging::LogLevel Logging::logLevel() const {
  std::lock_guard lock(mutex_);
  return logLevel_;
}

void Logging::setLogLevel(LogLevel level) {
  std::lock_guard lock(mutex_);
  logLevel_ = level;
}

Logging::Callback Logging::loggingCallback() const {
  std::lock_guard lock(mutex_);
  return callback_;
}

void Logging::setLoggingCallback(Callback callback) {
  Callback old;
  {
    std::lock_guard lock(mutex_);
    old = std::exchange(callback_, std::move(callback));
  }
  // `old` is released here, outside the lock: its captures may log.
}

bool Logging::isEnabled() const { return logLevel() != LogLevel::none; }

bool Logging::isEnabled(LogLevel level) const {
  const LogLevel current = logLevel();
  return current != LogLevel::none && static_cast<int>(current) <= static_cast<int>(level);
}

bool Logging::passes(LogType type) const {
  const LogLevel current = logLevel();
  return current != LogLevel::none && static_cast<int>(current) <= messageLevel(type);
}

void Logging::emit(LogType type, const std::string &message) const {
  Callback callback = loggingCallback();
  if (callback) {
    callback(message);
    return;
  }
  systemLog_(type, message);
}

void Logging::emitJoined(LogType type, std::string_view separator,
                         std::optional<std::string_view> terminator,
                         std::initializer_list<std::string> texts) const {
  std::string message;
  bool first = true;
  for (const auto &text : texts) {
    if (!first) {
      message += separator;
    }
    message += text;
    first = false;
  }
  if (terminator) {
    message += *terminator;
  }
  emit(type, message);
}

std::uint64_t Logging::getMemoryUsage() {
  // /proc/self/statm: total and resident sizes in pages.
  std::ifstream statm("/proc/self/statm");
  std::uint64_t totalPages = 0;
  std::uint64_t residentPages = 0;
  if (!(statm >> totalPages >> residentPages)) {
    return 0;
  }
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pageSize <= 0) {
    return 0;
  }
  return (residentPages * static_cast<std::uint64_t>(pageSize)) >> 20;
}

void Logging::logCurrentMemoryUsage(const std::string &message) {
  if (!shared().passes(LogType::debug)) {
    return;
  }
  debug(message + " - Memory usage: " + std::to_string(getMemoryUsage()) + " MB");
}

std::string Logging::formatTimeWithPercentage(double time, double runs,
                                              double fullPipelineDuration) {
  // A NaN made by a division may carry a sign bit, which the C library prints as "-nan";
  // the report shows every not-a-number as "nan".
  const auto unsignedNan = [](double value) {
    return std::isnan(value) ? std::fabs(value) : value;
  };
  const double milliseconds = unsignedNan(time * 1000);
  const double perRun = unsignedNan(runs > 0 ? milliseconds / runs : 0);
  const double percentage = unsignedNan(milliseconds / fullPipelineDuration * 100);
  runs = unsignedNan(runs);
  char line[128];
  std::snprintf(line, sizeof line, "%8.2f ms / %6.0f runs (%8.2f ms/run) %5.2f%%", milliseconds,
                runs, perRun, percentage);
  return line;
}

} // namespace deduve
