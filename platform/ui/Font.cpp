#include "platform/ui/Font.hpp"

namespace platform::ui {

Font Font::system(double size, FontWeight weight) {
  return Font{TextStyle::custom, size, weight, false};
}

Font Font::of(TextStyle style) {
  switch (style) {
  case TextStyle::largeTitle:
    return Font{style, 26};
  case TextStyle::title:
    return Font{style, 22};
  case TextStyle::title2:
    return Font{style, 17};
  case TextStyle::title3:
    return Font{style, 15};
  case TextStyle::headline:
    return Font{style, 13, FontWeight::bold};
  case TextStyle::subheadline:
    return Font{style, 11};
  case TextStyle::body:
    return Font{style, 13};
  case TextStyle::callout:
    return Font{style, 12};
  case TextStyle::footnote:
  case TextStyle::caption:
  case TextStyle::caption2:
    return Font{style, 10};
  case TextStyle::custom:
    break;
  }
  return Font{};
}

Font Font::withWeight(FontWeight newWeight) const {
  Font copy = *this;
  copy.weight = newWeight;
  return copy;
}

Font Font::monospacedDigit() const {
  Font copy = *this;
  copy.monospacedDigits = true;
  return copy;
}

std::string Font::description() const {
  std::string text;
  if (style == TextStyle::custom) {
    text = "system " + std::to_string(static_cast<int>(size));
  } else {
    text = toString(style);
  }
  if (weight != of(style).weight || style == TextStyle::custom) {
    text += " ";
    text += toString(weight);
  }
  if (monospacedDigits) {
    text += " monospaced-digits";
  }
  return text;
}

const char *toString(FontWeight weight) {
  switch (weight) {
  case FontWeight::ultraLight:
    return "ultraLight";
  case FontWeight::thin:
    return "thin";
  case FontWeight::light:
    return "light";
  case FontWeight::regular:
    return "regular";
  case FontWeight::medium:
    return "medium";
  case FontWeight::semibold:
    return "semibold";
  case FontWeight::bold:
    return "bold";
  case FontWeight::heavy:
    return "heavy";
  case FontWeight::black:
    return "black";
  }
  return "regular";
}

const char *toString(TextStyle style) {
  switch (style) {
  case TextStyle::largeTitle:
    return "largeTitle";
  case TextStyle::title:
    return "title";
  case TextStyle::title2:
    return "title2";
  case TextStyle::title3:
    return "title3";
  case TextStyle::headline:
    return "headline";
  case TextStyle::subheadline:
    return "subheadline";
  case TextStyle::body:
    return "body";
  case TextStyle::callout:
    return "callout";
  case TextStyle::footnote:
    return "footnote";
  case TextStyle::caption:
    return "caption";
  case TextStyle::caption2:
    return "caption2";
  case TextStyle::custom:
    return "system";
  }
  return "body";
}

} // namespace platform::ui
