#pragma once

#include <string>

namespace murmurquill {

// What the floating status panel shows. Two modes are equal when they are the same case; two
// `ready` modes only when their labels are equal too.
struct HUDMode {
  enum class Kind { ready, hidden, recording, transcribing, notReady, micDenied, injectionDenied };

  Kind kind = Kind::hidden;
  std::string hotkey; // the push-to-talk key's display name, for `ready` only

  static HUDMode ready(std::string hotkey) { return {Kind::ready, std::move(hotkey)}; }
  static HUDMode of(Kind kind) { return {kind, {}}; }

  friend bool operator==(const HUDMode &a, const HUDMode &b) {
    return a.kind == b.kind && (a.kind != Kind::ready || a.hotkey == b.hotkey);
  }
};

// The controller's view of the recording HUD: the panel shows one mode at a time; the
// controller has no timers in it. Main thread only.
class HUDPresenter {
public:
  virtual ~HUDPresenter() = default;
  // Shows `mode` (hidden orders the panel out; any other mode puts it on screen).
  virtual void show(const HUDMode &mode) = 0;
  // Stores `mode` (and tells the view) without ordering the panel in or out.
  virtual void setMode(const HUDMode &mode) = 0;
  virtual HUDMode mode() const = 0;
  // Whether the panel exists and is on screen.
  virtual bool isPanelVisible() const = 0;
};

} // namespace murmurquill
