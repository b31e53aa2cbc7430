#pragma once

#include "platform/system/Executor.hpp"
#include "platform/ui/View.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform::ui {

// A change of an animatable attribute of one view between two renders, under the animation
// in effect there: a number ("opacity", "scale", "phase", "width") from `from` to `to`, or a colour
// ("fill", "foreground") from `fromColour` to `toColour`.
struct AnimatedChange {
  AnimatedChange() = default;
  AnimatedChange(std::string identity, std::string property, double from, double to,
                 Animation animation, std::optional<RGBA> fromColour = std::nullopt,
                 std::optional<RGBA> toColour = std::nullopt)
      : identity(std::move(identity)), property(std::move(property)), from(from), to(to),
        animation(animation), fromColour(fromColour), toColour(toColour) {}

  std::string identity;
  std::string property;
  double from = 0;
  double to = 0;
  Animation animation;
  std::optional<RGBA> fromColour;
  std::optional<RGBA> toColour;
};

// Progress along `curve` at `fraction` (0..1) of the duration: the platform's timing curves
// (cubic Béziers; ease-in-out is (0.42, 0, 0.58, 1)).
double eased(Animation::Curve curve, double fraction);

// The running animations of one hosting view. Started by the animated changes its renders
// find; while any runs, a frame timer on the executor (about 60 a second) asks the view to
// redraw; with none running no timer is set, so an idle application's main thread sleeps.
// Drawing reads each animated attribute's value at the executor's current time, so tests on
// a virtual clock see the value drawn at any instant they choose. Without an executor nothing
// animates and drawing shows end states. Main thread (the executor's) only.
class Animator {
public:
  // `redraw` runs on every frame.
  explicit Animator(std::function<void()> redraw);
  ~Animator();
  Animator(const Animator &) = delete;
  Animator &operator=(const Animator &) = delete;

  void setExecutor(std::shared_ptr<Executor> executor);

  void start(const AnimatedChange &change);
  // Ends the animations of views that are no longer shown.
  void retainOnly(const std::set<std::string> &identities);
  void stop(const std::string &identity, const std::string &property);
  void stopAll();
  bool isRunning() const { return !running_.empty(); }

  // The value drawn now for `property` ("opacity", "scale") of the view at `identity`;
  // absent when it does not animate.
  std::optional<double> value(const std::string &identity, const std::string &property) const;
  // The colour drawn now for a colour `property` ("fill", "foreground"); absent when it does
  // not animate.
  std::optional<RGBA> colour(const std::string &identity, const std::string &property) const;

  static constexpr std::chrono::microseconds kFrameInterval{16'667};

private:
  struct Running {
    AnimatedChange change;
    Executor::Clock::time_point start;
  };

  double valueAt(const Running &running, Executor::Clock::time_point now) const;
  RGBA colourAt(const Running &running, Executor::Clock::time_point now) const;
  const Running *find(const std::string &identity, const std::string &property) const;
  bool finished(const Running &running, Executor::Clock::time_point now) const;
  void scheduleFrame();
  void frame();

  std::function<void()> redraw_;
  std::shared_ptr<Executor> executor_;
  std::vector<Running> running_;
  TimerHandle timer_;
  bool scheduled_ = false;
  // Frame timers hold this weakly: a frame due after the animator died does nothing.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace platform::ui
