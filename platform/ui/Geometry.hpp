#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace platform::ui {

// Sizes and positions are in points. Inside a view tree the origin is the top-left corner and
// y grows downwards; window and screen frames use the desktop's convention instead (origin at
// the bottom-left of the primary screen, y growing upwards), as Window and Desktop say.

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point &) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size &) const = default;
};

struct Rect {
  Point origin;
  Size size;

  double minX() const { return origin.x; }
  double minY() const { return origin.y; }
  double maxX() const { return origin.x + size.width; }
  double maxY() const { return origin.y + size.height; }
  double midX() const { return origin.x + size.width / 2; }
  double midY() const { return origin.y + size.height / 2; }
  double width() const { return size.width; }
  double height() const { return size.height; }
  // Half-open on the far edges, so two screens side by side never both contain a point.
  bool contains(Point p) const {
    return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
  }
  Rect unionWith(const Rect &other) const {
    const double x0 = std::min(minX(), other.minX());
    const double y0 = std::min(minY(), other.minY());
    const double x1 = std::max(maxX(), other.maxX());
    const double y1 = std::max(maxY(), other.maxY());
    return Rect{{x0, y0}, {x1 - x0, y1 - y0}};
  }
  bool operator==(const Rect &) const = default;
};

inline Rect makeRect(double x, double y, double width, double height) {
  return Rect{{x, y}, {width, height}};
}

struct EdgeInsets {
  double top = 0;
  double leading = 0;
  double bottom = 0;
  double trailing = 0;
  bool operator==(const EdgeInsets &) const = default;
};

// A size offered to a view by its parent; an absent dimension asks for the view's ideal size.
struct ProposedSize {
  std::optional<double> width;
  std::optional<double> height;
};

// Stand-in for an unbounded dimension (a frame with an infinite maximum, a greedy proposal).
inline constexpr double kInfinity = 1e6;

} // namespace platform::ui
