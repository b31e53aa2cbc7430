#pragma once

#include "DeduveCore/Support/Description.hpp"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace deduve {

// The engine's leveled logger. One process-wide instance (Logging::shared()) holds the level
// and an optional callback; the static debug/info/error entry points go through it. Silent
// until a level is set. Messages go to the callback when one is installed, else to the system
// log (syslog).
//
// Thread-safe: the lock guards only the level and the callback and is never held while a
// message is formatted, handed to the callback or written, so a callback may itself log or
// change the level.
class Logging {
public:
  enum class LogLevel : int { debug = 1, info = 2, error = 3, none = 4 };
  // The system log's message types.
  enum class LogType { default_, info, debug, error, fault };

  using Callback = std::function<void(const std::string &message)>;
  // Where messages go when no callback is installed.
  using SystemLog = std::function<void(LogType type, const std::string &message)>;

  // An instance with level none and no callback, writing to `systemLog` (syslog when empty).
  explicit Logging(SystemLog systemLog = {});

  // The process-wide instance, created on first use and never destroyed.
  static Logging &shared();

  // 1 ... 4; absent for any other number.
  static std::optional<LogLevel> logLevelFromRawValue(int rawValue);
  static const char *description(LogLevel level);

  LogLevel logLevel() const;
  void setLogLevel(LogLevel level);
  Callback loggingCallback() const;
  void setLoggingCallback(Callback callback);
  // True unless the level is none.
  bool isEnabled() const;
  // True when the level is not none and is at or below `level`.
  bool isEnabled(LogLevel level) const;

  // The core operation: drops the message when the level is none or above the message's
  // (debug 1, info and default 2, error and fault 3); otherwise joins the items' texts with
  // `separator`, appends `terminator` (no line break is added) and hands the message to the
  // callback or else to the system log.
  template <class... Items>
  void log(LogType type, std::string_view separator, std::optional<std::string_view> terminator,
           const Items &...items) {
    if (!passes(type)) {
      return;
    }
    emitJoined(type, separator, terminator, {describe(items)...});
  }

  // Items joined by single blanks, no terminator; through the shared instance.
  template <class... Items> static void debug(const Items &...items) {
    shared().log(LogType::debug, " ", std::nullopt, items...);
  }
  template <class... Items> static void info(const Items &...items) {
    shared().log(LogType::info, " ", std::nullopt, items...);
  }
  template <class... Items> static void error(const Items &...items) {
    shared().log(LogType::error, " ", std::nullopt, items...);
  }

  static bool isLoggingEnabled() { return shared().isEnabled(); }
  static bool isLoggingEnabled(LogLevel level) { return shared().isEnabled(level); }
  static void updateLogLevel(LogLevel level) { shared().setLogLevel(level); }
  static void updateCallback(Callback callback) {
    shared().setLoggingCallback(std::move(callback));
  }

  // The process's resident memory in whole mebibytes; 0 when it cannot be read.
  static std::uint64_t getMemoryUsage();
  // Logs "<message> - Memory usage: <n> MB" at debug level.
  static void logCurrentMemoryUsage(const std::string &message);

  // One timing report line: "%8.2f ms / %6.0f runs (%8.2f ms/run) %5.2f%%" of time * 1000,
  // runs, the time per run in ms (0 without runs) and the share of the pipeline duration.
  // `time` is in seconds, `fullPipelineDuration` in milliseconds. A zero duration is not
  // guarded: its share prints as "inf" or "nan" (never "-nan").
  static std::string formatTimeWithPercentage(double time, double runs,
                                              double fullPipelineDuration);

  // The logger's subsystem and category as written to the system log: the subsystem is the
  // entry's syslog identity, the category prefixes the message.
  static constexpr const char *kSubsystem = "org.deduve.deduvecore";
  static constexpr const char *kCategory = "Deduve";
  // The system-log entry of a message, as sent to the log socket:
  // "<priority>org.deduve.deduvecore[pid]: [Deduve] message".
  static std::string systemLogEntry(LogType type, std::string_view message);

private:
  bool passes(LogType type) const;
  void emit(LogType type, const std::string &message) const;
  void emitJoined(LogType type, std::string_view separator,
                  std::optional<std::string_view> terminator,
                  std::initializer_list<std::string> texts) const;

  mutable std::mutex mutex_;
  LogLevel logLevel_ = LogLevel::none;
  Callback callback_;
  SystemLog systemLog_;
};

} // namespace deduve
