#pragma once

#include <string>

namespace murmurquill {

// What the floating status panel shows. Two modes are equal when they are the same case; two
// `ready` modes only when their labels are equal too.
struct HUDMode {
  enum class Kind { ready, hidden, recording, transcribing, notReady, micDenied, injectionDenied };

  Kind kind = Kind::hidden;
  std::string hotkey; // the push-to-talk key's display name, for `ready` only

  // The speech model became ready while the user waited; `hotkey` is the key's label.
  static HUDMode ready(std::string hotkey) { return {Kind::ready, std::move(hotkey)}; }
  static HUDMode of(Kind kind) { return {kind, {}}; }
  static HUDMode hidden() { return of(Kind::hidden); }
  static HUDMode recording() { return of(Kind::recording); }
  static HUDMode transcribing() { return of(Kind::transcribing); }
  static HUDMode notReady() { return of(Kind::notReady); }
  static HUDMode micDenied() { return of(Kind::micDenied); }
  static HUDMode injectionDenied() { return of(Kind::injectionDenied); }

  friend bool operator==(const HUDMode &a, const HUDMode &b) {
    return a.kind == b.kind && (a.kind != Kind::ready || a.hotkey == b.hotkey);
  }
};

} // namespace murmurquill
