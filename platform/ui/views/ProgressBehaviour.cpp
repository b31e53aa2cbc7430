#include "platform/ui/ViewBehaviour.hpp"

#include <algorithm>
#include <cmath>

namespace platform::ui {

namespace {

void paintSpinner(cairo_t *cr, const Rect &frame, const RGBA &colour) {
  const double cx = frame.midX();
  const double cy = frame.midY();
  const double r = std::min(frame.width(), frame.height()) / 2;
  cairo_set_line_width(cr, std::max(1.0, r * 0.2));
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  for (int i = 0; i < 12; ++i) {
    const double angle = i * kPi / 6;
    cairo_move_to(cr, cx + std::cos(angle) * r * 0.5, cy + std::sin(angle) * r * 0.5);
    cairo_line_to(cr, cx + std::cos(angle) * r * 0.92, cy + std::sin(angle) * r * 0.92);
    cairo_set_source_rgba(cr, colour.red, colour.green, colour.blue,
                          colour.alpha * (0.25 + 0.75 * i / 11.0));
    cairo_stroke(cr);
  }
}

// An indeterminate bar shows a part of its length, which sweeps from beyond the leading end
// to beyond the trailing end as `phase` goes from 0 to 1 (still, it sits a part in).
void paintBar(cairo_t *cr, const Rect &frame, std::optional<double> value,
              std::optional<double> phase, const RGBA &track, const RGBA &fill) {
  shapePath(cr, ShapeKind::capsule, frame, 0);
  setSource(cr, track);
  cairo_fill(cr);
  const double part = Theme::indeterminateFraction;
  const double fraction = value ? std::clamp(*value, 0.0, 1.0) : part;
  double start = value ? 0.0 : frame.width() * part;
  if (!value && phase) {
    start = frame.width() * ((1 + part) * *phase - part);
  }
  if (fraction <= 0) {
    return;
  }
  cairo_save(cr);
  shapePath(cr, ShapeKind::capsule, frame, 0);
  cairo_clip(cr);
  shapePath(cr, ShapeKind::capsule,
            Rect{{frame.minX() + start, frame.minY()},
                 {std::max(frame.height(), frame.width() * fraction), frame.height()}},
            0);
  setSource(cr, fill);
  cairo_fill(cr);
  cairo_restore(cr);
}

// A linear bar (with a value, or indeterminate) or a spinner sized by the control size.
class ProgressBehaviour final : public ViewBehaviour {
public:
  const char *name() const override { return "Progress"; }

  Size measure(const Node &node, ProposedSize proposal, const Environment &env,
               Axis) const override {
    if (node.as<ProgressContent>().linear) {
      return {finite(proposal.width).value_or(Theme::linearProgressWidth),
              Theme::linearProgressHeight};
    }
    const double side = Theme::spinnerSide(env.controlSize);
    return {side, side};
  }

  void paint(cairo_t *cr, const LayoutNode &placed, DrawReport *) const override {
    const ProgressContent &progress = placed.node->as<ProgressContent>();
    const Environment &env = placed.environment;
    const Rect &frame = placed.frame;
    if (!progress.linear) {
      paintSpinner(cr, frame, resolvedColour(env.foreground, env));
      return;
    }
    const double height = Theme::linearProgressHeight;
    const Rect bar{{frame.minX(), frame.midY() - height / 2}, {frame.width(), height}};
    paintBar(cr, bar, progress.value, animatedNow(placed, "phase"),
             Theme::progressTrack(env.appearance), resolvedColour(Color::tint(), env));
  }
};

} // namespace

const ViewBehaviour &progressBehaviour() {
  static const ProgressBehaviour behaviour;
  return behaviour;
}

} // namespace platform::ui
