#pragma once

#include <string>

namespace platform::ui {

enum class FontWeight { ultraLight, thin, light, regular, medium, semibold, bold, heavy, black };

// The named text styles, with the desktop's usual sizes (points) and weights.
enum class TextStyle {
  largeTitle,  // 26
  title,       // 22
  title2,      // 17
  title3,      // 15
  headline,    // 13, bold
  subheadline, // 11
  body,        // 13
  callout,     // 12
  footnote,    // 10
  caption,     // 10
  caption2,    // 10
  custom       // a size given in points
};

// A font as views ask for it: the system font at a size and weight, or a named text style.
struct Font {
  TextStyle style = TextStyle::body;
  double size = 13; // points
  FontWeight weight = FontWeight::regular;
  bool monospacedDigits = false; // digits of equal width, for counters and times

  static Font system(double size, FontWeight weight = FontWeight::regular);
  static Font of(TextStyle style);
  static Font largeTitle() { return of(TextStyle::largeTitle); }
  static Font title() { return of(TextStyle::title); }
  static Font title2() { return of(TextStyle::title2); }
  static Font title3() { return of(TextStyle::title3); }
  static Font headline() { return of(TextStyle::headline); }
  static Font subheadline() { return of(TextStyle::subheadline); }
  static Font body() { return of(TextStyle::body); }
  static Font callout() { return of(TextStyle::callout); }
  static Font footnote() { return of(TextStyle::footnote); }
  static Font caption() { return of(TextStyle::caption); }
  static Font caption2() { return of(TextStyle::caption2); }

  Font withWeight(FontWeight newWeight) const;
  Font monospacedDigit() const;

  // "caption", "system 13 medium", "headline bold", for test messages.
  std::string description() const;

  bool operator==(const Font &) const = default;
};

const char *toString(FontWeight weight);
const char *toString(TextStyle style);

} // namespace platform::ui
