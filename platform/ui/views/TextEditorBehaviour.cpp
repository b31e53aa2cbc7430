#include "platform/ui/ViewBehaviour.hpp"

#include "platform/ui/TextLayout.hpp"

#include <algorithm>

namespace platform::ui {

namespace {

std::string textOf(const Node &node) {
  const auto &get = node.as<TextEditorContent>().text.get;
  return get ? get() : std::string();
}

// An editable text: as wide as offered, as tall as its text wrapped to that width unless
// offered a height; the text is clipped to the box.
class TextEditorBehaviour final : public ViewBehaviour {
public:
  const char *name() const override { return "TextEditor"; }

  Size measure(const Node &node, ProposedSize proposal, const Environment &env,
               Axis) const override {
    const double width = finite(proposal.width).value_or(Theme::editorWidth);
    if (auto height = finite(proposal.height)) {
      return {width, *height};
    }
    const double inset = Theme::editorInset;
    const double textWidth = std::max(1.0, width - 2 * inset);
    return {width,
            measureText({TextRun{textOf(node), false}}, env.font, textWidth).height + 2 * inset};
  }

  void paint(cairo_t *cr, const LayoutNode &placed, DrawReport *report) const override {
    const std::string text = textOf(*placed.node);
    const Environment &env = placed.environment;
    const double in = Theme::editorInset;
    const Rect &frame = placed.frame;
    cairo_save(cr);
    cairo_rectangle(cr, frame.minX(), frame.minY(), frame.width(), frame.height());
    cairo_clip(cr);
    drawText(cr, {TextRun{text, false}}, env.font, inset(frame, EdgeInsets{in, in, in, in}),
             TextAlignment::leading, resolvedColour(env.foreground, env));
    cairo_restore(cr);
    if (report) {
      report->texts.push_back(text);
    }
  }

  Shown shown(const Node &node) const override { return Shown{textOf(node), {}, {}}; }
};

} // namespace

const ViewBehaviour &textEditorBehaviour() {
  static const TextEditorBehaviour behaviour;
  return behaviour;
}

} // namespace platform::ui
