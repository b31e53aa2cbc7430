#include "DeduveCore/Hub/Broadcaster.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using deduve::Broadcaster;

TEST(BroadcasterTest, NewSubscriberGetsInitialStateThenLatestStateThenEveryLaterOne) {
  Broadcaster<int> broadcaster([] { return std::optional<int>(-1); });

  auto early = broadcaster.subscribe();
  EXPECT_EQ(early->next(), -1);

  broadcaster.broadcast(1);
  broadcaster.broadcast(2);
  auto late = broadcaster.subscribe();
  broadcaster.broadcast(3);

  EXPECT_EQ(early->next(), 1);
  EXPECT_EQ(early->next(), 2);
  EXPECT_EQ(early->next(), 3);
  EXPECT_EQ(late->next(), 2); // the replayed latest state, not the earlier ones
  EXPECT_EQ(late->next(), 3);
}

TEST(BroadcasterTest, StreamsEndWhenTheBroadcasterGoesAndDroppedSubscribersAreForgotten) {
  auto broadcaster = std::make_unique<Broadcaster<int>>();
  auto stream = broadcaster->subscribe();
  { auto dropped = broadcaster->subscribe(); }
  std::thread producer([&] {
    broadcaster->broadcast(7);
    broadcaster.reset();
  });
  EXPECT_EQ(stream->next(), 7);
  EXPECT_EQ(stream->next(), std::nullopt);
  producer.join();
}

} // namespace
