#include "platform/ui/Animator.hpp"

#include <algorithm>
#include <cmath>

namespace platform::ui {

namespace {

// One coordinate of a cubic Bézier from (0,0) to (1,1) with control values a and b.
double bezier(double a, double b, double t) {
  const double u = 1 - t;
  return 3 * u * u * t * a + 3 * u * t * t * b + t * t * t;
}

double bezierSlope(double a, double b, double t) {
  const double u = 1 - t;
  return 3 * u * u * a + 6 * u * t * (b - a) + 3 * t * t * (1 - b);
}

// y at x on the curve with control points (x1, y1), (x2, y2).
double cubic(double x1, double y1, double x2, double y2, double x) {
  double t = x;
  for (int i = 0; i < 8; ++i) {
    const double slope = bezierSlope(x1, x2, t);
    if (std::abs(slope) < 1e-9) {
      break;
    }
    t = std::clamp(t - (bezier(x1, x2, t) - x) / slope, 0.0, 1.0);
  }
  return bezier(y1, y2, t);
}

double secondsBetween(Executor::Clock::time_point from, Executor::Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

} // namespace

double eased(Animation::Curve curve, double fraction) {
  const double x = std::clamp(fraction, 0.0, 1.0);
  switch (curve) {
  case Animation::Curve::linear:
    return x;
  case Animation::Curve::easeIn:
    return cubic(0.42, 0, 1, 1, x);
  case Animation::Curve::easeOut:
    return cubic(0, 0, 0.58, 1, x);
  case Animation::Curve::easeInOut:
    return cubic(0.42, 0, 0.58, 1, x);
  }
  return x;
}

Animator::Animator(std::function<void()> redraw) : redraw_(std::move(redraw)) {}

Animator::~Animator() { timer_.cancel(); }

void Animator::setExecutor(std::shared_ptr<Executor> executor) {
  executor_ = std::move(executor);
  if (!executor_) {
    stopAll();
  }
}

void Animator::start(const AnimatedChange &change) {
  if (!executor_ || change.animation.duration <= 0) {
    return;
  }
  const auto now = executor_->now();
  AnimatedChange started = change;
  if (((started.property == "opacity" || started.property == "scale") && started.to <= 0) ||
      started.fromColour) {
    // A view animating to nothing is gone once there: repeating would only keep an invisible
    // view ticking the main thread. A colour goes to its new value once: a repeating
    // animation (a pulse) is about size and opacity.
    started.animation.repeatsForever = false;
  }
  const auto same = std::find_if(running_.begin(), running_.end(), [&](const Running &r) {
    return r.change.identity == change.identity && r.change.property == change.property;
  });
  if (same != running_.end()) {
    // An interrupted animation goes on from where it is drawn.
    if (started.fromColour) {
      started.fromColour = colourAt(*same, now);
    } else {
      started.from = valueAt(*same, now);
    }
    running_.erase(same);
  }
  running_.push_back(Running{std::move(started), now});
  scheduleFrame();
}

void Animator::retainOnly(const std::set<std::string> &identities) {
  std::erase_if(running_,
                [&](const Running &r) { return identities.count(r.change.identity) == 0; });
  if (running_.empty()) {
    // Nothing left to draw: no frame wakes the main thread.
    timer_.cancel();
    scheduled_ = false;
  }
}

void Animator::stop(const std::string &identity, const std::string &property) {
  std::erase_if(running_, [&](const Running &r) {
    return r.change.identity == identity && r.change.property == property;
  });
  if (running_.empty()) {
    timer_.cancel();
    scheduled_ = false;
  }
}

void Animator::stopAll() {
  running_.clear();
  timer_.cancel();
  scheduled_ = false;
}

const Animator::Running *Animator::find(const std::string &identity,
                                        const std::string &property) const {
  if (!executor_) {
    return nullptr;
  }
  for (const Running &r : running_) {
    if (r.change.identity == identity && r.change.property == property) {
      return &r;
    }
  }
  return nullptr;
}

std::optional<double> Animator::value(const std::string &identity,
                                      const std::string &property) const {
  const Running *running = find(identity, property);
  if (running == nullptr || running->change.fromColour) {
    return std::nullopt;
  }
  return valueAt(*running, executor_->now());
}

std::optional<RGBA> Animator::colour(const std::string &identity,
                                     const std::string &property) const {
  const Running *running = find(identity, property);
  if (running == nullptr || !running->change.fromColour) {
    return std::nullopt;
  }
  return colourAt(*running, executor_->now());
}

RGBA Animator::colourAt(const Running &running, Executor::Clock::time_point now) const {
  Running progress = running;
  progress.change.from = 0;
  progress.change.to = 1;
  const double t = valueAt(progress, now);
  RGBA a = *running.change.fromColour;
  RGBA b = running.change.toColour.value_or(a);
  // A clear end takes the other end's hue, so a fade from clear does not pass through black.
  if (a.alpha == 0) {
    a = RGBA{b.red, b.green, b.blue, 0};
  } else if (b.alpha == 0) {
    b = RGBA{a.red, a.green, a.blue, 0};
  }
  return RGBA{a.red + (b.red - a.red) * t, a.green + (b.green - a.green) * t,
              a.blue + (b.blue - a.blue) * t, a.alpha + (b.alpha - a.alpha) * t};
}

double Animator::valueAt(const Running &running, Executor::Clock::time_point now) const {
  const Animation &animation = running.change.animation;
  double t = secondsBetween(running.start, now) / animation.duration;
  if (animation.repeatsForever) {
    if (animation.autoreverses) {
      t = std::fmod(t, 2.0);
      t = t <= 1 ? t : 2 - t;
    } else {
      t = std::fmod(t, 1.0);
    }
  }
  const double progress = eased(animation.curve, t);
  return running.change.from + (running.change.to - running.change.from) * progress;
}

bool Animator::finished(const Running &running, Executor::Clock::time_point now) const {
  return !running.change.animation.repeatsForever &&
         secondsBetween(running.start, now) >= running.change.animation.duration;
}

void Animator::scheduleFrame() {
  if (scheduled_ || running_.empty() || !executor_) {
    return;
  }
  scheduled_ = true;
  timer_ = executor_->after(kFrameInterval, [this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.lock()) {
      frame();
    }
  });
}

void Animator::frame() {
  scheduled_ = false;
  const auto now = executor_->now();
  // The last frame of an animation draws its end value; the next finds it done.
  const bool anyFinished = std::any_of(running_.begin(), running_.end(),
                                       [&](const Running &r) { return finished(r, now); });
  if (anyFinished) {
    std::erase_if(running_, [&](const Running &r) { return finished(r, now); });
  }
  if (redraw_) {
    redraw_();
  }
  scheduleFrame();
}

} // namespace platform::ui
