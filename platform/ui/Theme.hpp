#pragma once

#include "platform/ui/Color.hpp"
#include "platform/ui/Font.hpp"
#include "platform/ui/Geometry.hpp"

namespace platform::ui {

enum class ControlSize { mini, small, regular, large };

// The look shared by every view and window the toolkit draws: metrics in points, the colours
// of controls and windows in each appearance, and the fonts of window chrome. Views name
// their own colours and fonts; what is here is what the toolkit draws on its own.
struct Theme {
  // Layout.
  static constexpr double stackSpacing = 8;
  static constexpr double symbolScale = 1.2; // a symbol's box side, in font sizes
  static constexpr double imageSide = 64;    // an image offered no size
  static constexpr double shapeSide = 10;    // a shape offered no size
  static constexpr double linearProgressHeight = 6;
  static constexpr double linearProgressWidth = 160; // offered no width
  static constexpr double indeterminateFraction = 0.33;

  // Controls.
  static constexpr double controlCornerRadius = 5;
  static constexpr double hairline = 0.5;
  static constexpr double editorInset = 5;
  static constexpr double editorWidth = 120; // offered no width
  static constexpr double pickerTextInset = 8;
  static constexpr double pickerIndicatorWidth = 18;
  static constexpr double pickerIndicatorSide = 12;
  static constexpr double pickerTitleGap = 8;
  static constexpr double pickerVerticalPadding = 6;
  static double spinnerSide(ControlSize size);
  static EdgeInsets buttonInsets(ControlSize size);

  static RGBA separator(Appearance appearance);
  static RGBA controlFill(Appearance appearance);   // pickers
  static RGBA controlStroke(Appearance appearance); // pickers
  static RGBA buttonFill(Appearance appearance);
  static RGBA buttonStroke(Appearance appearance);
  static RGBA progressTrack(Appearance appearance);

  // Windows.
  static constexpr double windowCornerRadius = 10;
  static constexpr double titleBarHeight = 28;
  static constexpr double utilityTitleBarHeight = 22;
  static RGBA windowBackground(Appearance appearance);
  static RGBA titleBarFill(Appearance appearance);
  static RGBA titleText(Appearance appearance);
  static Font windowTitleFont();
};

} // namespace platform::ui
