#include "platform/ui/ViewBehaviour.hpp"

#include "platform/ui/Desktop.hpp"
#include "platform/ui/TextLayout.hpp"

namespace platform::ui {

namespace {

// Texts and links: runs of text wrapped to the width offered. A link is drawn in the tint
// and opens its address when clicked.
class TextBehaviour final : public ViewBehaviour {
public:
  explicit TextBehaviour(bool link) : link_(link) {}

  const char *name() const override { return link_ ? "Link" : "Text"; }

  Size measure(const Node &node, ProposedSize proposal, const Environment &env,
               Axis) const override {
    const TextContent &text = node.as<TextContent>();
    return measureText(text.runs, env.font, finite(proposal.width), text.alignment);
  }

  void paint(cairo_t *cr, const LayoutNode &placed, DrawReport *report) const override {
    const TextContent &text = placed.node->as<TextContent>();
    const Environment &env = placed.environment;
    drawText(cr, text.runs, env.font, placed.frame, text.alignment,
             resolvedColour(link_ ? Color::tint() : env.foreground, env));
    if (report) {
      report->texts.push_back(plainText(text.runs));
    }
  }

  Shown shown(const Node &node) const override {
    Shown out{plainText(node.as<TextContent>().runs), {}, {}};
    if (link_) {
      out.foreground = Color::tint();
    }
    return out;
  }

  bool takesClicks() const override { return link_; }

  void click(const LayoutNode &placed, Desktop *desktop,
             const std::optional<Rect> &) const override {
    const std::string url = placed.node->as<TextContent>().url;
    if (desktop != nullptr && !url.empty()) {
      desktop->openURL(url);
    }
  }

private:
  bool link_;
};

} // namespace

const ViewBehaviour &textBehaviour(NodeKind kind) {
  static const TextBehaviour text(false);
  static const TextBehaviour link(true);
  return kind == NodeKind::link ? link : text;
}

} // namespace platform::ui
