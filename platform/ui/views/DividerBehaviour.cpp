#include "platform/ui/ViewBehaviour.hpp"

#include <algorithm>

namespace platform::ui {

namespace {

// A one-point line across its stack's axis.
class DividerBehaviour final : public ViewBehaviour {
public:
  const char *name() const override { return "Divider"; }

  Size measure(const Node &, ProposedSize proposal, const Environment &,
               Axis parentAxis) const override {
    if (parentAxis == Axis::horizontal) {
      return {1, finite(proposal.height).value_or(0)};
    }
    return {finite(proposal.width).value_or(0), 1};
  }

  void paint(cairo_t *cr, const LayoutNode &placed, DrawReport *) const override {
    const Rect &frame = placed.frame;
    cairo_rectangle(cr, frame.minX(), frame.minY(), std::max(frame.width(), 1.0),
                    std::max(frame.height(), 1.0) == 1.0 ? 1.0 : frame.height());
    setSource(cr, Theme::separator(placed.environment.appearance));
    cairo_fill(cr);
  }
};

} // namespace

const ViewBehaviour &dividerBehaviour() {
  static const DividerBehaviour behaviour;
  return behaviour;
}

} // namespace platform::ui
