#include "DeduveCore/Hub/CancellationToken.hpp"

#include <gtest/gtest.h>

namespace {

using deduve::CancellationToken;

TEST(CancellationTokenTest, HandlersRunOnceUnlessUnregisteredAndLateOnesRunAtOnce) {
  CancellationToken token;
  const CancellationToken copy = token;
  int kept = 0;
  int dropped = 0;
  auto keptRegistration = copy.onCancel([&] { ++kept; });
  {
    auto droppedRegistration = copy.onCancel([&] { ++dropped; });
  }
  EXPECT_FALSE(copy.isCancelled());

  token.cancel();
  token.cancel();
  EXPECT_TRUE(copy.isCancelled());
  EXPECT_EQ(kept, 1);
  EXPECT_EQ(dropped, 0);

  int late = 0;
  auto lateRegistration = copy.onCancel([&] { ++late; });
  EXPECT_EQ(late, 1);
}

} // namespace
