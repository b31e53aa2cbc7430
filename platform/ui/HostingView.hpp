#pragma once

#include "platform/ui/Animator.hpp"
#include "platform/ui/Layout.hpp"
#include "platform/ui/Observation.hpp"
#include "platform/ui/Painter.hpp"
#include "platform/ui/TextEditingState.hpp"
#include "platform/ui/View.hpp"

#include <cairo.h>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace platform::ui {

// Hosts a root Component: builds its body under observation tracking, keeps the state of the
// components in the tree, lays the tree out at the view's size and draws it. Any change of
// an observable the last body read (the root's state, a model it shows) renders the body
// again at once, in the setter that made the change; handlers that change state during a
// render cause one more render after it. After each render the appear, disappear and change
// handlers of the views that came, went or changed run, in that order.
//
// Main thread only. Handlers and actions must not destroy the hosting view.
class HostingView {
public:
  explicit HostingView(std::shared_ptr<Component> root, Size size = {});
  // A hosting view of a plain body function.
  explicit HostingView(std::function<View()> body, Size size = {});
  ~HostingView();
  HostingView(const HostingView &) = delete;
  HostingView &operator=(const HostingView &) = delete;

  Component &root() { return *root_; }

  Size size() const { return size_; }
  // Lays the current tree out again at the new size (the body is not rebuilt).
  void setSize(Size size);
  Appearance appearance() const { return environment_.appearance; }
  void setAppearance(Appearance appearance);

  // The size the view takes when offered nothing (its content's own size).
  Size idealSize();

  // Builds the body again now.
  void update();

  // The current layout, rendering first if nothing was rendered yet.
  const LayoutNode &layout();

  // Number of times the body was built.
  std::size_t renderCount() const { return renderCount_; }
  // Every hosting view of this thread reports the animated changes it starts to `observer`
  // (none: nobody is told). For tests and diagnostics, which keep their own log.
  static void setAnimationObserver(std::function<void(const AnimatedChange &)> observer);

  // Called after every render and relayout (a window redraws, resizes to fit, ...).
  void setOnUpdate(std::function<void()> onUpdate) { onUpdate_ = std::move(onUpdate); }
  // Called on every animation frame: only what is drawn changed (the window redraws).
  void setOnRedraw(std::function<void()> onRedraw) { onRedraw_ = std::move(onRedraw); }

  // Runs the animations of the views on `executor`'s clock and timers (none: views are drawn
  // in their end states).
  void setAnimationExecutor(std::shared_ptr<Executor> executor);
  // The value drawn now for an animating `property` ("opacity", "scale", "phase", "width")
  // at `identity`; absent when it does not animate (the view's own value is drawn).
  std::optional<double> animatedValue(const std::string &identity,
                                      const std::string &property) const;
  // The colour drawn now for an animating "fill" or "foreground"; absent when it does not
  // animate.
  std::optional<RGBA> animatedColour(const std::string &identity,
                                     const std::string &property) const;
  // How long one sweep of an indeterminate bar takes; the bar sweeps for as long as it is
  // shown.
  static constexpr double kIndeterminateSweep = 1.2;
  bool isAnimating() const { return animator_.isRunning(); }
  // The views are no longer on screen (their window was ordered out): animations end.
  void stopAnimations() { animator_.stopAll(); }

  // The views leave the screen (their window closed): runs every disappear handler. The next
  // render counts every view as appearing again.
  void disappearAll();

  // The text editors' caret, selection or scrolling changed: what is drawn changed, not the
  // tree (the window redraws).
  void editorsChanged();

  // Draws the current layout with the origin at the current point of `cr`'s transform.
  void draw(cairo_t *cr, DrawReport *report = nullptr);

private:
  struct Snapshot {
    std::map<std::string, std::function<void()>> disappear;
    std::map<std::string, std::vector<std::string>> changeValues;
    std::map<std::string, double> opacity;
    std::map<std::string, double> scale;
    std::map<std::string, RGBA> fill;
    std::map<std::string, RGBA> foreground;
    std::map<std::string, Size> sizes;
    std::map<std::string, std::string> animationValues;
  };

  struct Walker;

  void invalidated();
  void renderOnce();
  void relayout();
  void attachEditors(LayoutNode &node, std::set<std::string> &shown);
  View resolve(const View &view, const std::string &parent, const std::string &slot,
               const ButtonStyle &style, std::map<std::string, std::shared_ptr<Component>> &next);
  void resolveComponent(Node &node, const std::string &identity, const ButtonStyle &style,
                        std::map<std::string, std::shared_ptr<Component>> &next);
  void diffAndRunHandlers(const LayoutNode &root);
  void animationStarted(const AnimatedChange &change);

  std::shared_ptr<Component> root_;
  Size size_;
  Environment environment_;
  ObservationTracking tracking_;
  View tree_;
  LayoutNode layout_;
  bool rendered_ = false;
  bool updating_ = false;
  bool dirty_ = false;
  std::size_t renderCount_ = 0;
  std::map<std::string, std::shared_ptr<Component>> components_;
  std::map<std::string, TextEditorState> editors_;
  Snapshot previous_;
  std::function<void()> onUpdate_;
  std::function<void()> onRedraw_;
  Animator animator_{[this] {
    if (onRedraw_) {
      onRedraw_();
    }
  }};
};

} // namespace platform::ui
