#include "platform/ui/ViewBehaviour.hpp"

#include "platform/ui/TextEditingState.hpp"
#include "platform/ui/TextLayout.hpp"

#include <algorithm>

namespace platform::ui {

namespace {

std::string textOf(const Node &node) {
  const auto &get = node.as<TextEditorContent>().text.get;
  return get ? get() : std::string();
}

// Where the text sits in an editor: inside the inset, scrolled by the editor's offset.
Rect textBox(const LayoutNode &placed) {
  const double in = Theme::editorInset;
  return inset(placed.frame, EdgeInsets{in, in, in, in});
}

double textHeight(const LayoutNode &placed, const std::string &text) {
  return measureText({TextRun{text, false}}, placed.environment.font,
                     std::max(1.0, textBox(placed).width()))
      .height;
}

double scrollLimit(const LayoutNode &placed, const std::string &text) {
  return std::max(0.0, textHeight(placed, text) - textBox(placed).height());
}

RGBA selectionColour(const Environment &env) {
  return resolvedColour(Color::accent().opacity(0.35), env);
}

// The selection behind the text and the caret over it, in the scrolled text's coordinates.
void paintEditing(cairo_t *cr, const LayoutNode &placed, const std::string &text, const Rect &box) {
  const TextEditorState &state = *placed.editor;
  const Environment &env = placed.environment;
  const double width = std::max(1.0, box.width());
  const double top = box.minY() - state.scrollOffset;
  if (state.editing.hasSelection()) {
    const auto [from, to] = state.editing.selection();
    setSource(cr, selectionColour(env));
    for (const Rect &r : rangeRects(text, env.font, width, from, to)) {
      cairo_rectangle(cr, box.minX() + r.minX(), top + r.minY(), r.width(), r.height());
    }
    cairo_fill(cr);
    return;
  }
  const Rect caret = caretRect(text, env.font, width, state.editing.caret());
  setSource(cr, resolvedColour(env.foreground, env));
  cairo_rectangle(cr, box.minX() + caret.minX(), top + caret.minY(), 1, caret.height());
  cairo_fill(cr);
}

// An editable text: as wide as offered, as tall as its text wrapped to that width unless
// offered a height; text taller than the box scrolls inside it.
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
    const Rect &frame = placed.frame;
    const Rect box = textBox(placed);
    const double scroll = placed.editor != nullptr ? placed.editor->scrollOffset : 0;
    cairo_save(cr);
    cairo_rectangle(cr, frame.minX(), frame.minY(), frame.width(), frame.height());
    cairo_clip(cr);
    if (placed.editor != nullptr) {
      paintEditing(cr, placed, text, box);
    }
    const Rect scrolled{{box.minX(), box.minY() - scroll}, {box.width(), box.height() + scroll}};
    drawText(cr, {TextRun{text, false}}, env.font, scrolled, TextAlignment::leading,
             resolvedColour(env.foreground, env));
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

void settleEditor(const LayoutNode &placed) {
  TextEditorState &state = *placed.editor;
  const std::string text = textOf(*placed.node);
  state.sync(text);
  const Rect box = textBox(placed);
  if (state.revealCaret) {
    state.revealCaret = false;
    const Rect caret =
        caretRect(text, placed.environment.font, std::max(1.0, box.width()), state.editing.caret());
    if (caret.minY() < state.scrollOffset) {
      state.scrollOffset = caret.minY();
    } else if (caret.maxY() > state.scrollOffset + box.height()) {
      state.scrollOffset = caret.maxY() - box.height();
    }
  }
  state.scrollOffset = std::clamp(state.scrollOffset, 0.0, scrollLimit(placed, text));
}

std::size_t editorIndexAt(const LayoutNode &placed, Point point) {
  const Rect box = textBox(placed);
  const double scroll = placed.editor != nullptr ? placed.editor->scrollOffset : 0;
  return caretIndexAt(textOf(*placed.node), placed.environment.font, std::max(1.0, box.width()),
                      Point{point.x - box.minX(), point.y - box.minY() + scroll});
}

bool scrollEditor(const LayoutNode &placed, double delta) {
  TextEditorState &state = *placed.editor;
  const double before = state.scrollOffset;
  state.scrollOffset = std::clamp(before + delta, 0.0, scrollLimit(placed, textOf(*placed.node)));
  return state.scrollOffset != before;
}

std::size_t editorLineMove(const LayoutNode &placed, bool down) {
  TextEditorState &state = *placed.editor;
  const std::string text = textOf(*placed.node);
  const Font &font = placed.environment.font;
  const double width = std::max(1.0, textBox(placed).width());
  const Rect caret = caretRect(text, font, width, state.editing.caret());
  if (!state.goalX) {
    state.goalX = caret.minX();
  }
  const double y = down ? caret.maxY() + 1 : caret.minY() - 1;
  if (y < 0) {
    return 0;
  }
  if (y >= measureText({TextRun{text, false}}, font, width).height) {
    return text.size();
  }
  return caretIndexAt(text, font, width, Point{*state.goalX, y});
}

double editorPageHeight(const LayoutNode &placed) {
  // A line of the previous page stays in view, as pages turn in editors.
  return std::max(1.0, textBox(placed).height() - placed.environment.font.size * 1.2);
}

} // namespace platform::ui
