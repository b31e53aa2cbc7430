#pragma once

#include "platform/ui/Layout.hpp"
#include "platform/ui/Painter.hpp"

#include <cairo.h>

#include <optional>
#include <string>

namespace platform::ui {

class Desktop;

// What a view shows a person, as the inspector reports it.
struct Shown {
  std::string text;                // texts, links, editors, pickers (the selection)
  std::string symbol;              // symbols and images
  std::optional<Color> foreground; // a colour the kind draws in whatever the environment says
};

// How one kind of view measures, places its children, draws, reads and takes a click: every
// kind's code in one place (platform/ui/views/), looked up by behaviourOf(kind). Stateless.
class ViewBehaviour {
public:
  virtual ~ViewBehaviour() = default;

  // The kind's name in identities and messages ("VStack").
  virtual const char *name() const = 0;
  // The size the view takes when offered `proposal`; `env` is already the view's own.
  virtual Size measure(const Node &node, ProposedSize proposal, const Environment &env,
                       Axis parentAxis) const = 0;
  // Places the view's children inside `placed.frame` (with placeChild); `placed.environment`
  // is the view's. Views without children place none.
  virtual void placeChildren(LayoutNode &placed, Axis parentAxis) const;
  // Draws the view itself (not its children) in its frame.
  virtual void paint(cairo_t *cr, const LayoutNode &placed, DrawReport *report) const;
  virtual Shown shown(const Node &node) const;
  // Whether a click on the view is the view's (buttons, links, pickers), and what it does.
  // `desktop` (may be null) opens links and pop-up menus; `onScreen` is the view's frame in
  // desktop coordinates when it is in a window.
  virtual bool takesClicks() const { return false; }
  virtual void click(const LayoutNode &placed, Desktop *desktop,
                     const std::optional<Rect> &onScreen) const;
};

const ViewBehaviour &behaviourOf(NodeKind kind);

// Editing geometry of a placed text editor (its `editor` state set; TextEditorBehaviour.cpp).
// Follows an outside change of the text, keeps the scrolling within the text and, after an
// edit or a caret move, brings the caret into view.
void settleEditor(const LayoutNode &placed);
// The caret offset of the text under `point` (the hosting view's coordinates).
std::size_t editorIndexAt(const LayoutNode &placed, Point point);
// Scrolls the text by `delta` points (positive: further down); false when it cannot move.
bool scrollEditor(const LayoutNode &placed, double delta);
// The caret offset one line up or down from the caret as the text is wrapped on screen, at
// the x where a run of such moves began (the start or end of the text past the first or last
// line).
std::size_t editorLineMove(const LayoutNode &placed, bool down);
// The height of text one page key scrolls.
double editorPageHeight(const LayoutNode &placed);

// The kinds, one file each under views/.
const ViewBehaviour &emptyBehaviour();
const ViewBehaviour &stackBehaviour(NodeKind kind); // vstack, hstack
const ViewBehaviour &zstackBehaviour();
const ViewBehaviour &textBehaviour(NodeKind kind);   // text, link
const ViewBehaviour &symbolBehaviour(NodeKind kind); // symbol, image
const ViewBehaviour &buttonBehaviour();
const ViewBehaviour &pickerBehaviour();
const ViewBehaviour &textEditorBehaviour();
const ViewBehaviour &progressBehaviour();
const ViewBehaviour &spacerBehaviour();
const ViewBehaviour &dividerBehaviour();
const ViewBehaviour &shapeBehaviour();
const ViewBehaviour &paddingBehaviour();
const ViewBehaviour &frameBehaviour();
const ViewBehaviour &decorationBehaviour();
const ViewBehaviour &componentBehaviour();

} // namespace platform::ui
