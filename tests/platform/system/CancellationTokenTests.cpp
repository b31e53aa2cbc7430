#include "platform/system/CancellationToken.hpp"

#include "platform/system/CancellationError.hpp"
#include "platform/system/CancellationScope.hpp"

#include <gtest/gtest.h>

namespace {

using platform::CancellationToken;

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

TEST(CancellationTokenTest, CheckCancellationThrowsOnlyOnceCancelled) {
  CancellationToken token;
  EXPECT_NO_THROW(token.checkCancellation());
  token.cancel();
  EXPECT_THROW(token.checkCancellation(), platform::CancellationError);
}

TEST(CancellationScopeTest, TaskSeesTheInnermostScopesTokenAndNoneOutside) {
  using platform::CancellationScope;
  using platform::Task;
  EXPECT_FALSE(Task::currentToken().has_value());
  EXPECT_NO_THROW(Task::checkCancellation());
  CancellationToken outer;
  CancellationToken inner;
  inner.cancel();
  {
    CancellationScope outerScope(outer);
    EXPECT_FALSE(Task::isCancelled());
    {
      CancellationScope innerScope(inner);
      EXPECT_TRUE(Task::isCancelled());
      EXPECT_THROW(Task::checkCancellation(), platform::CancellationError);
    }
    EXPECT_FALSE(Task::isCancelled()); // the outer token is back
    outer.cancel();
    EXPECT_THROW(Task::checkCancellation(), platform::CancellationError);
  }
  EXPECT_FALSE(Task::currentToken().has_value());
}

} // namespace
