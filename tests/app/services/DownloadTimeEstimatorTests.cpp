#include "app/services/DivuvovIzeSpeechModule.hpp"
#include "app/services/DownloadTimeEstimator.hpp"

#include "DeduveCore/Hub/Progress.hpp"
#include "platform/system/ManualExecutor.hpp"

#include <gtest/gtest.h>

namespace murmurquill {
namespace {

using namespace std::chrono_literals;

TEST(DownloadTimeEstimatorTest, TheRestGoesAtTheAveragePaceSoFar) {
  const auto clock = std::make_shared<platform::ManualExecutor>();
  const DownloadTimeEstimator estimator(clock);
  EXPECT_FALSE(estimator.secondsRemaining(0.5)) << "no time has passed yet";
  clock->advance(20s);
  EXPECT_FALSE(estimator.secondsRemaining(0.0)) << "nothing done yet";
  EXPECT_FALSE(estimator.secondsRemaining(1.0)) << "all done";
  EXPECT_FALSE(estimator.secondsRemaining(std::nan("")));
  EXPECT_DOUBLE_EQ(estimator.secondsRemaining(0.5).value_or(-1), 20.0);
  EXPECT_DOUBLE_EQ(estimator.secondsRemaining(0.25).value_or(-1), 60.0);
}

// The speech module's reports carry the estimate, so the status shows "· Ns remaining".
TEST(DownloadTimeEstimatorTest, TheSpeechModulesReportsCarryTheEstimate) {
  const auto clock = std::make_shared<platform::ManualExecutor>();
  const DownloadTimeEstimator estimator(clock);
  const auto files = deduve::Progress::make(4);
  files->setCompletedUnitCount(1);
  clock->advance(30s);
  const SpeechDownloadProgress report = DivuvovIzeSpeechModule::progressReport(*files, estimator);
  EXPECT_DOUBLE_EQ(report.fractionCompleted, 0.25);
  EXPECT_EQ(report.completedUnitCount, 1);
  EXPECT_EQ(report.totalUnitCount, 4);
  EXPECT_DOUBLE_EQ(report.estimatedTimeRemaining.value_or(-1), 90.0);
}

} // namespace
} // namespace murmurquill
