#include "platform/ui/Observation.hpp"

#include <gtest/gtest.h>

#include <string>

namespace platform::ui {
namespace {

TEST(Observation, OnlyValuesReadInTheLatestTrackingNotifyAndOnlyRealChanges) {
  Observable<int> read(1);
  Observable<int> unread(2);
  int changes = 0;
  ObservationTracking tracking([&] { ++changes; });
  const int seen = tracking.track([&] { return read.get() + unread.peek(); });
  EXPECT_EQ(seen, 3);
  unread.set(5);
  EXPECT_EQ(changes, 0);
  read.set(1); // equal: stored silently
  EXPECT_EQ(changes, 0);
  read.set(4);
  EXPECT_EQ(changes, 1);
  // A change notifies once; the next change needs a new read.
  read.set(6);
  EXPECT_EQ(changes, 1);
  tracking.track([&] { return unread.get(); });
  read.set(7);
  EXPECT_EQ(changes, 1);
  unread.set(8);
  EXPECT_EQ(changes, 2);
}

TEST(Observation, CancelledOrDestroyedTrackingIsNotCalled) {
  Observable<std::string> value(std::string("a"));
  int changes = 0;
  {
    ObservationTracking tracking([&] { ++changes; });
    tracking.track([&] { return value.get(); });
  }
  value.set("b");
  ObservationTracking cancelled([&] { ++changes; });
  cancelled.track([&] { return value.get(); });
  cancelled.cancel();
  value.set("c");
  EXPECT_EQ(changes, 0);
}

TEST(Observation, BindingReadsAndWritesTheObservable) {
  Observable<std::string> text(std::string("x"));
  Binding<std::string> binding = bind(text);
  binding.set(binding.get() + "y");
  EXPECT_EQ(text.peek(), "xy");
}

} // namespace
} // namespace platform::ui
