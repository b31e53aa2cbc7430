#include "DeduveCore/Support/ConcurrencyUtilities.hpp"
#include "DeduveCore/Support/EarlyStopActor.hpp"
#include "DeduveCore/Support/PropertyLock.hpp"
#include "DeduveCore/Support/WeakSendableWrapper.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace deduve {
namespace {

TEST(PropertyLockTest, ConcurrentInPlaceChangesLoseNoUpdates) {
  PropertyLock<std::vector<int>> segments;
  PropertyLock<long> counter(0);
  constexpr int kThreads = 8;
  constexpr int kChanges = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kChanges; ++i) {
        segments.modify([&](std::vector<int> &list) { list.push_back(t * kChanges + i); });
        counter.modify([](long &value) { value += 1; });
      }
    });
  }
  for (auto &thread : threads) {
    thread.join();
  }
  EXPECT_EQ(counter.get(), kThreads * kChanges);
  EXPECT_EQ(segments.get().size(), static_cast<std::size_t>(kThreads * kChanges));
}

TEST(PropertyLockTest, CopiesShareTheLockButNotTheValue) {
  PropertyLock<std::string> original(std::string("a"));
  PropertyLock<std::string> copy = original;
  EXPECT_TRUE(copy.sharesLockWith(original));
  copy = std::string("b");
  EXPECT_EQ(original.get(), "a");
  EXPECT_EQ(copy.get(), "b");
  EXPECT_FALSE(PropertyLock<std::string>(std::string("a")).sharesLockWith(original));
  // Copy assignment is a copy too: the target takes the value and the lock.
  PropertyLock<std::string> assigned(std::string("c"));
  assigned = original;
  EXPECT_TRUE(assigned.sharesLockWith(original));
  EXPECT_EQ(assigned.get(), "a");
}

TEST(PropertyLockTest, ModifyReturnsAndReleasesOnThrow) {
  PropertyLock<int> value(1);
  EXPECT_EQ(value.modify([](int &v) { return v += 2; }), 3);
  EXPECT_THROW(value.modify([](int &v) {
    v = 10;
    throw std::runtime_error("stop");
  }),
               std::runtime_error);
  EXPECT_EQ(value.get(), 10); // the lock was released: this would deadlock otherwise
}

TEST(PropertyLockTest, EncodesAsTheBareValue) {
  PropertyLock<std::vector<int>> wrapped(std::vector<int>{1, 2, 3});
  const nlohmann::json document = wrapped;
  EXPECT_EQ(document.dump(), nlohmann::json(std::vector<int>{1, 2, 3}).dump());
  const auto decoded = document.get<PropertyLock<std::vector<int>>>();
  EXPECT_EQ(decoded.get(), (std::vector<int>{1, 2, 3}));
  EXPECT_THROW((void)nlohmann::json("x").get<PropertyLock<std::vector<int>>>(),
               nlohmann::json::exception);
}

TEST(EarlyStopActorTest, FlagsPerWindow) {
  EarlyStopActor actor;
  const platform::UUID window;
  const platform::UUID never;
  EXPECT_FALSE(actor.get(never));
  EXPECT_EQ(actor.remove(never), std::nullopt);
  EXPECT_EQ(actor.count(), 0u);

  actor.set(true, window);
  EXPECT_TRUE(actor.get(window));
  EXPECT_EQ(actor.count(), 1u);
  EXPECT_EQ(actor.remove(never), std::nullopt);
  EXPECT_EQ(actor.count(), 1u);
  EXPECT_EQ(actor.remove(window), true);
  EXPECT_FALSE(actor.get(window));
  EXPECT_EQ(actor.count(), 0u);

  actor.set(false, window);
  EXPECT_EQ(actor.remove(window), false);
}

TEST(WeakSendableWrapperTest, BecomesEmptyWhenTheObjectIsReleased) {
  auto engine = std::make_shared<std::string>("engine");
  const WeakSendableWrapper<std::string> wrapper(engine);
  std::shared_ptr<std::string> seen;
  std::thread([&] { seen = wrapper.value(); }).join();
  EXPECT_EQ(seen, engine);
  seen.reset();
  engine.reset();
  EXPECT_EQ(wrapper.value(), nullptr);
  EXPECT_EQ(WeakSendableWrapper<std::string>().value(), nullptr);
}

TEST(ConcurrencyUtilitiesTest, ReportsAtLeastOneProcessor) {
  EXPECT_GE(ConcurrencyUtilities::activeProcessorCount(), 1);
}

} // namespace
} // namespace deduve
