#pragma once

#include "platform/input/KeystrokePoster.hpp"

#include <cstddef>
#include <functional>
#include <limits>
#include <vector>

namespace platform {

// A keystroke poster for tests: it records what is posted. The test grants or refuses the
// post-event permission and can make posting fail. Not thread-safe.
class InMemoryKeystrokePoster final : public KeystrokePoster {
public:
  struct Post {
    Keystroke keystroke;
    EventTapLocation location;
  };

  bool canPostEvents() const override { return canPost_; }
  // Records the post and runs the observer, unless posting fails (see failPostsFrom).
  bool post(const Keystroke &keystroke, EventTapLocation location) override;

  void setCanPostEvents(bool canPost) { canPost_ = canPost; }
  bool focusedApplicationUndoes() override { return undoes_; }
  void setFocusedApplicationUndoes(bool undoes) { undoes_ = undoes; }
  // Every post from the `index`-th on (counting from 0 over all attempts) fails.
  void failPostsFrom(std::size_t index) { failFrom_ = index; }
  // Called after each successful post (for example to let a stand-in application react).
  void setObserver(std::function<void(const Post &)> observer) { observer_ = std::move(observer); }

  const std::vector<Post> &posts() const { return posts_; }
  std::size_t attemptCount() const { return attempts_; }

private:
  bool canPost_ = true;
  bool undoes_ = true;
  std::size_t failFrom_ = std::numeric_limits<std::size_t>::max();
  std::size_t attempts_ = 0;
  std::vector<Post> posts_;
  std::function<void(const Post &)> observer_;
};

} // namespace platform
