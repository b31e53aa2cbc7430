#include "platform/ui/Color.hpp"

#include <cstdio>

namespace platform::ui {

Color Color::rgb(double red, double green, double blue, double alpha) {
  char name[64];
  std::snprintf(name, sizeof name, "rgb(%.2f,%.2f,%.2f)", red, green, blue);
  return Color(name, RGBA{red, green, blue, 1.0}, false, alpha);
}

Color Color::white() { return Color("white", {1, 1, 1, 1}, false, 1); }
Color Color::black() { return Color("black", {0, 0, 0, 1}, false, 1); }
Color Color::clear() { return Color("clear", {0, 0, 0, 0}, false, 1); }
Color Color::red() { return Color("red", {1.0, 0.231, 0.188, 1}, false, 1); }
Color Color::orange() { return Color("orange", {1.0, 0.584, 0.0, 1}, false, 1); }
Color Color::yellow() { return Color("yellow", {1.0, 0.8, 0.0, 1}, false, 1); }
Color Color::green() { return Color("green", {0.204, 0.780, 0.349, 1}, false, 1); }
Color Color::blue() { return Color("blue", {0.0, 0.478, 1.0, 1}, false, 1); }
Color Color::gray() { return Color("gray", {0.557, 0.557, 0.576, 1}, false, 1); }
Color Color::primary() { return Color("primary", {}, true, 1); }
Color Color::secondary() { return Color("secondary", {}, true, 1); }
Color Color::tertiary() { return Color("tertiary", {}, true, 1); }
Color Color::quaternary() { return Color("quaternary", {}, true, 1); }
Color Color::accent() { return Color("accent", {0.0, 0.478, 1.0, 1}, false, 1); }
Color Color::tint() { return Color("tint", {}, true, 1); }

Color Color::opacity(double factor) const {
  Color copy = *this;
  copy.alpha_ *= factor;
  return copy;
}

std::string Color::description() const {
  if (alpha_ >= 1.0) {
    return name_;
  }
  char text[96];
  std::snprintf(text, sizeof text, "%s@%.2f", name_.c_str(), alpha_);
  return text;
}

RGBA Color::resolve(Appearance appearance, const Color *tintColour) const {
  RGBA out = base_;
  if (semantic_) {
    const double ink = appearance == Appearance::dark ? 1.0 : 0.0;
    if (name_ == "tint") {
      out = tintColour != nullptr && tintColour->name_ != "tint" ? tintColour->resolve(appearance)
                                                                 : accent().resolve(appearance);
    } else {
      double level = 0.85;
      if (name_ == "secondary") {
        level = appearance == Appearance::dark ? 0.55 : 0.5;
      } else if (name_ == "tertiary") {
        level = 0.26;
      } else if (name_ == "quaternary") {
        level = 0.1;
      }
      out = RGBA{ink, ink, ink, level};
    }
  }
  out.alpha *= alpha_;
  return out;
}

} // namespace platform::ui
