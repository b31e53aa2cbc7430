#pragma once

#include <string>

namespace platform::ui {

// How semantic colours resolve: dark for HUD-style windows, light otherwise.
enum class Appearance { light, dark };

struct RGBA {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;
  bool operator==(const RGBA &) const = default;
};

// A colour as views name it: a fixed colour, a named system colour, or a semantic style
// (primary, secondary, tertiary, quaternary, accent, tint) that resolves against the window's
// appearance and the tint in effect. `opacity` multiplies the alpha. Equal colours have the
// same name and the same alpha.
class Color {
public:
  static Color rgb(double red, double green, double blue, double alpha = 1.0);
  static Color white();
  static Color black();
  static Color clear();
  static Color red();
  static Color orange();
  static Color yellow();
  static Color green();
  static Color blue();
  static Color gray();
  static Color primary();
  static Color secondary();
  static Color tertiary();
  static Color quaternary();
  // The system accent colour.
  static Color accent();
  // The tint in effect where the colour is used (the accent colour unless a view sets one).
  static Color tint();

  Color opacity(double factor) const;

  // "red", "white", "secondary", "rgb(0.10,0.20,0.30)"; with an opacity below 1 the alpha
  // follows, as in "white@0.90".
  std::string description() const;
  const std::string &name() const { return name_; }
  double alpha() const { return alpha_; }

  // The colour's components; `tintColour` stands for tint() (it must not itself be tint()).
  RGBA resolve(Appearance appearance, const Color *tintColour = nullptr) const;

  bool operator==(const Color &other) const {
    return name_ == other.name_ && alpha_ == other.alpha_;
  }

private:
  Color(std::string name, RGBA base, bool semantic, double alpha)
      : name_(std::move(name)), base_(base), semantic_(semantic), alpha_(alpha) {}

  std::string name_;
  RGBA base_;
  bool semantic_ = false;
  double alpha_ = 1.0;
};

} // namespace platform::ui
