#include "DeduveCore/Hub/Progress.hpp"

#include <gtest/gtest.h>

namespace {

using deduve::Progress;

TEST(ProgressTest, ParentFractionIsTheMeanOfItsFilesAndFinishedChildrenCountAsUnits) {
  auto parent = Progress::make(3);
  auto first = Progress::make(100, parent, 1);
  auto second = Progress::make(100, parent, 1);
  EXPECT_DOUBLE_EQ(parent->fractionCompleted(), 0.0);

  first->setCompletedUnitCount(50);
  EXPECT_DOUBLE_EQ(parent->fractionCompleted(), 0.5 / 3.0);
  EXPECT_EQ(parent->completedUnitCount(), 0);

  first->setCompletedUnitCount(100);
  second->setCompletedUnitCount(25);
  EXPECT_EQ(parent->completedUnitCount(), 1);
  EXPECT_DOUBLE_EQ(parent->fractionCompleted(), 1.25 / 3.0);

  // Setting a finished child again does not count it twice.
  first->setCompletedUnitCount(100);
  EXPECT_EQ(parent->completedUnitCount(), 1);

  second->setCompletedUnitCount(100);
  auto third = Progress::make(100, parent, 1);
  third->setCompletedUnitCount(100);
  EXPECT_EQ(parent->completedUnitCount(), 3);
  EXPECT_DOUBLE_EQ(parent->fractionCompleted(), 1.0);
  EXPECT_TRUE(parent->isFinished());
}

TEST(ProgressTest, FractionStaysWithinZeroAndOne) {
  struct Case {
    int64_t total;
    int64_t completed;
    double expected;
  };
  const Case cases[] = {
      {0, 0, 0.0}, {0, 5, 0.0}, {100, -20, 0.0}, {100, 250, 1.0}, {-4, 2, 0.0}, {4, 1, 0.25},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.total) + "/" + std::to_string(c.completed));
    auto parent = Progress::make(1);
    auto child = Progress::make(c.total, parent, 1);
    child->setCompletedUnitCount(c.completed);
    EXPECT_DOUBLE_EQ(child->fractionCompleted(), c.expected);
    EXPECT_GE(parent->fractionCompleted(), 0.0);
    EXPECT_LE(parent->fractionCompleted(), 1.0);
  }
}

TEST(ProgressTest, ThroughputIsKeptInUserInfo) {
  auto progress = Progress::make(1);
  EXPECT_FALSE(progress->throughput().has_value());
  progress->setUserInfoObject(deduve::kProgressThroughputKey, 1024.5);
  EXPECT_EQ(progress->throughput(), 1024.5);
}

} // namespace
