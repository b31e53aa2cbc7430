#include "app/presenters/RecordingHUDPresenter.hpp"

namespace murmurquill {

void RecordingHUDPresenter::setMode(const HUDMode &mode) {
  if (isPanelVisible()) {
    hud_.show(toWindowMode(mode));
  }
}

bool RecordingHUDPresenter::isPanelVisible() const {
  return hud_.panel() != nullptr && hud_.panel()->isVisible();
}

RecordingHUD::Mode RecordingHUDPresenter::toWindowMode(const HUDMode &mode) {
  using Kind = HUDMode::Kind;
  switch (mode.kind) {
  case Kind::ready:
    return RecordingHUD::Mode::ready(mode.hotkey);
  case Kind::hidden:
    return RecordingHUD::Mode::hidden();
  case Kind::recording:
    return RecordingHUD::Mode::recording();
  case Kind::transcribing:
    return RecordingHUD::Mode::transcribing();
  case Kind::notReady:
    return RecordingHUD::Mode::notReady();
  case Kind::micDenied:
    return RecordingHUD::Mode::micDenied();
  case Kind::injectionDenied:
    return RecordingHUD::Mode::injectionDenied();
  }
  return RecordingHUD::Mode::hidden();
}

HUDMode RecordingHUDPresenter::fromWindowMode(const RecordingHUD::Mode &mode) {
  using Kind = RecordingHUD::Mode::Kind;
  switch (mode.kind()) {
  case Kind::ready:
    return HUDMode::ready(mode.hotkey());
  case Kind::hidden:
    return HUDMode::of(HUDMode::Kind::hidden);
  case Kind::recording:
    return HUDMode::of(HUDMode::Kind::recording);
  case Kind::transcribing:
    return HUDMode::of(HUDMode::Kind::transcribing);
  case Kind::notReady:
    return HUDMode::of(HUDMode::Kind::notReady);
  case Kind::micDenied:
    return HUDMode::of(HUDMode::Kind::micDenied);
  case Kind::injectionDenied:
    return HUDMode::of(HUDMode::Kind::injectionDenied);
  }
  return HUDMode::of(HUDMode::Kind::hidden);
}

} // namespace murmurquill
