#include "DeduveCore/Support/Logging.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace deduve {
namespace {

using LogLevel = Logging::LogLevel;
using LogType = Logging::LogType;

// A logger whose system log is a list in memory.
struct RecordingLogger {
  std::vector<std::pair<LogType, std::string>> systemLog;
  Logging logging{
      [this](LogType type, const std::string &message) { systemLog.emplace_back(type, message); }};
};

TEST(LoggingTest, SystemLogEntriesCarryTheSubsystemAndCategory) {
  const std::string pid = std::to_string(::getpid());
  // LOG_USER (8) plus the priority: error 3, debug 7, fault (critical) 2.
  EXPECT_EQ(Logging::systemLogEntry(LogType::error, "disk full"),
            "<11>org.deduve.deduvecore[" + pid + "]: [Deduve] disk full");
  EXPECT_EQ(Logging::systemLogEntry(LogType::debug, ""),
            "<15>org.deduve.deduvecore[" + pid + "]: [Deduve] ");
  EXPECT_EQ(Logging::systemLogEntry(LogType::fault, "x").substr(0, 4), "<10>");
}

TEST(LoggingTest, StartsSilent) {
  RecordingLogger logger;
  logger.logging.log(LogType::info, " ", std::nullopt, "hello");
  logger.logging.log(LogType::fault, " ", std::nullopt, "hello");
  EXPECT_TRUE(logger.systemLog.empty());
  EXPECT_FALSE(logger.logging.isEnabled());
  EXPECT_EQ(logger.logging.logLevel(), LogLevel::none);
}

TEST(LoggingTest, LevelFiltersMessageTypes) {
  const std::vector<LogType> types = {LogType::debug, LogType::info, LogType::default_,
                                      LogType::error, LogType::fault};
  struct Case {
    LogLevel level;
    std::vector<LogType> emitted;
  };
  const std::vector<Case> cases = {
      {LogLevel::debug, types},
      {LogLevel::info, {LogType::info, LogType::default_, LogType::error, LogType::fault}},
      {LogLevel::error, {LogType::error, LogType::fault}},
      {LogLevel::none, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(Logging::description(c.level));
    RecordingLogger logger;
    logger.logging.setLogLevel(c.level);
    for (LogType type : types) {
      logger.logging.log(type, " ", std::nullopt, "m");
    }
    std::vector<LogType> emitted;
    for (const auto &entry : logger.systemLog) {
      emitted.push_back(entry.first);
    }
    EXPECT_EQ(emitted, c.emitted);
    EXPECT_EQ(logger.logging.isEnabled(), c.level != LogLevel::none);
  }
}

TEST(LoggingTest, IsEnabledForLevel) {
  Logging logging([](LogType, const std::string &) {});
  logging.setLogLevel(LogLevel::info);
  EXPECT_FALSE(logging.isEnabled(LogLevel::debug));
  EXPECT_TRUE(logging.isEnabled(LogLevel::info));
  EXPECT_TRUE(logging.isEnabled(LogLevel::error));
  logging.setLogLevel(LogLevel::none);
  EXPECT_FALSE(logging.isEnabled(LogLevel::none));
}

TEST(LoggingTest, JoinsItemsWithSeparatorAndOptionalTerminator) {
  RecordingLogger logger;
  logger.logging.setLogLevel(LogLevel::debug);
  logger.logging.log(LogType::info, " ", std::nullopt, "a", 1, 2.5);
  logger.logging.log(LogType::info, ", ", "\n", std::string("x"), true, 1.0f);
  logger.logging.log(LogType::info, " ", std::nullopt);
  ASSERT_EQ(logger.systemLog.size(), 3u);
  EXPECT_EQ(logger.systemLog[0].second, "a 1 2.5");
  EXPECT_EQ(logger.systemLog[1].second, "x, true, 1.0\n");
  EXPECT_EQ(logger.systemLog[2].second, "");
}

TEST(LoggingTest, CallbackTakesOverTheSystemLogAndMayLogItself) {
  RecordingLogger logger;
  logger.logging.setLogLevel(LogLevel::info);
  std::vector<std::string> received;
  logger.logging.setLoggingCallback([&](const std::string &message) {
    received.push_back(message);
    if (message == "first") {
      // Re-entering the logger from its callback must not deadlock.
      logger.logging.setLogLevel(LogLevel::error);
      logger.logging.log(LogType::error, " ", std::nullopt, "nested");
    }
  });
  logger.logging.log(LogType::info, " ", std::nullopt, "first");
  EXPECT_EQ(received, (std::vector<std::string>{"first", "nested"}));
  EXPECT_TRUE(logger.systemLog.empty());

  logger.logging.setLoggingCallback(nullptr);
  logger.logging.log(LogType::error, " ", std::nullopt, "back");
  ASSERT_EQ(logger.systemLog.size(), 1u);
  EXPECT_EQ(logger.systemLog[0].second, "back");
}

TEST(LoggingTest, LogLevelRawValues) {
  EXPECT_EQ(Logging::logLevelFromRawValue(0), std::nullopt);
  EXPECT_EQ(Logging::logLevelFromRawValue(5), std::nullopt);
  EXPECT_EQ(Logging::logLevelFromRawValue(4), LogLevel::none);
  EXPECT_EQ(Logging::logLevelFromRawValue(1), LogLevel::debug);
  EXPECT_LT(LogLevel::debug, LogLevel::info);
  EXPECT_LT(LogLevel::error, LogLevel::none);
}

TEST(LoggingTest, TimingReportLine) {
  EXPECT_EQ(Logging::formatTimeWithPercentage(0.5, 10, 2000),
            "  500.00 ms /     10 runs (   50.00 ms/run) 25.00%");
  EXPECT_EQ(Logging::formatTimeWithPercentage(0.001, 0, 1000),
            "    1.00 ms /      0 runs (    0.00 ms/run)  0.10%");
  EXPECT_EQ(Logging::formatTimeWithPercentage(1, 1, 0),
            " 1000.00 ms /      1 runs ( 1000.00 ms/run)   inf%");
  // 0 / 0 yields a NaN whose sign bit the C library would print as "-nan".
  EXPECT_EQ(Logging::formatTimeWithPercentage(0, 0, 0),
            "    0.00 ms /      0 runs (    0.00 ms/run)   nan%");
  EXPECT_EQ(Logging::formatTimeWithPercentage(0, 0, -std::numeric_limits<double>::quiet_NaN()),
            "    0.00 ms /      0 runs (    0.00 ms/run)   nan%");
}

TEST(LoggingTest, SharedInstanceStaticsAndMemoryLine) {
  // The shared instance is process-wide: restore it for other tests.
  const LogLevel savedLevel = Logging::shared().logLevel();
  const Logging::Callback savedCallback = Logging::shared().loggingCallback();

  std::vector<std::string> received;
  Logging::updateCallback([&](const std::string &message) { received.push_back(message); });
  Logging::updateLogLevel(LogLevel::info);
  EXPECT_TRUE(Logging::isLoggingEnabled());
  EXPECT_FALSE(Logging::isLoggingEnabled(LogLevel::debug));
  Logging::debug("dropped");
  Logging::info("Loading", 3, "models");
  Logging::error("failed:", std::string("reason"));
  Logging::logCurrentMemoryUsage("dropped too");
  Logging::updateLogLevel(LogLevel::debug);
  Logging::logCurrentMemoryUsage("After load");

  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0], "Loading 3 models");
  EXPECT_EQ(received[1], "failed: reason");
  EXPECT_TRUE(received[2].starts_with("After load - Memory usage: ")) << received[2];
  EXPECT_TRUE(received[2].ends_with(" MB")) << received[2];
  EXPECT_GT(Logging::getMemoryUsage(), 0u);

  Logging::updateCallback(savedCallback);
  Logging::updateLogLevel(savedLevel);
}

} // namespace
} // namespace deduve
