#include "platform/ui/Theme.hpp"

namespace platform::ui {

namespace {
bool isDark(Appearance appearance) { return appearance == Appearance::dark; }
} // namespace

double Theme::spinnerSide(ControlSize size) {
  switch (size) {
  case ControlSize::mini:
    return 10;
  case ControlSize::small:
    return 16;
  case ControlSize::regular:
    return 20;
  case ControlSize::large:
    return 32;
  }
  return 20;
}

EdgeInsets Theme::buttonInsets(ControlSize size) {
  switch (size) {
  case ControlSize::mini:
    return {1, 5, 1, 5};
  case ControlSize::small:
    return {2, 7, 2, 7};
  case ControlSize::regular:
    return {3, 9, 3, 9};
  case ControlSize::large:
    return {6, 14, 6, 14};
  }
  return {};
}

RGBA Theme::separator(Appearance a) { return isDark(a) ? RGBA{1, 1, 1, 0.12} : RGBA{0, 0, 0, 0.1}; }

RGBA Theme::controlFill(Appearance a) { return isDark(a) ? RGBA{1, 1, 1, 0.12} : RGBA{1, 1, 1, 1}; }

RGBA Theme::controlStroke(Appearance a) {
  return isDark(a) ? RGBA{1, 1, 1, 0.2} : RGBA{0, 0, 0, 0.18};
}

RGBA Theme::buttonFill(Appearance a) { return isDark(a) ? RGBA{1, 1, 1, 0.16} : RGBA{1, 1, 1, 1}; }

RGBA Theme::buttonStroke(Appearance a) {
  return isDark(a) ? RGBA{1, 1, 1, 0.1} : RGBA{0, 0, 0, 0.16};
}

RGBA Theme::progressTrack(Appearance a) {
  return isDark(a) ? RGBA{1, 1, 1, 0.15} : RGBA{0, 0, 0, 0.1};
}

RGBA Theme::windowBackground(Appearance a) {
  return isDark(a) ? RGBA{0.14, 0.14, 0.15, 0.94} : RGBA{0.93, 0.93, 0.93, 1};
}

RGBA Theme::titleBarFill(Appearance a) {
  return isDark(a) ? RGBA{0.2, 0.2, 0.21, 1} : RGBA{0.9, 0.9, 0.9, 1};
}

RGBA Theme::titleText(Appearance a) {
  return isDark(a) ? RGBA{1, 1, 1, 0.85} : RGBA{0, 0, 0, 0.85};
}

Font Theme::windowTitleFont() { return Font::system(13, FontWeight::semibold); }

} // namespace platform::ui
