#include "platform/ui/ViewBehaviour.hpp"

#include "platform/ui/Symbols.hpp"

namespace platform::ui {

namespace {

// Symbols take a square box sized by the font; images (resizable) take what they are offered.
class SymbolBehaviour final : public ViewBehaviour {
public:
  explicit SymbolBehaviour(bool image) : image_(image) {}

  const char *name() const override { return image_ ? "Image" : "Symbol"; }

  Size measure(const Node &, ProposedSize proposal, const Environment &env, Axis) const override {
    if (image_) {
      return {finite(proposal.width).value_or(Theme::imageSide),
              finite(proposal.height).value_or(Theme::imageSide)};
    }
    const double side = symbolSide(env.font);
    return {side, side};
  }

  void paint(cairo_t *cr, const LayoutNode &placed, DrawReport *report) const override {
    const std::string &name = placed.node->as<SymbolContent>().name;
    drawSymbol(cr, name, placed.frame,
               resolvedColour(placed.environment.foreground, placed.environment));
    if (report) {
      report->symbols.push_back(name);
    }
  }

  Shown shown(const Node &node) const override {
    return Shown{{}, node.as<SymbolContent>().name, {}};
  }

private:
  bool image_;
};

} // namespace

const ViewBehaviour &symbolBehaviour(NodeKind kind) {
  static const SymbolBehaviour symbol(false);
  static const SymbolBehaviour image(true);
  return kind == NodeKind::image ? image : symbol;
}

} // namespace platform::ui
