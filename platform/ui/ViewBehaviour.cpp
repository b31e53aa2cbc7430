#include "platform/ui/ViewBehaviour.hpp"

namespace platform::ui {

void ViewBehaviour::placeChildren(LayoutNode &, Axis) const {}

void ViewBehaviour::paint(cairo_t *, const LayoutNode &, DrawReport *) const {}

Shown ViewBehaviour::shown(const Node &) const { return {}; }

void ViewBehaviour::click(const LayoutNode &, Desktop *, const std::optional<Rect> &) const {}

const ViewBehaviour &behaviourOf(NodeKind kind) {
  switch (kind) {
  case NodeKind::empty:
    return emptyBehaviour();
  case NodeKind::vstack:
  case NodeKind::hstack:
    return stackBehaviour(kind);
  case NodeKind::zstack:
    return zstackBehaviour();
  case NodeKind::text:
  case NodeKind::link:
    return textBehaviour(kind);
  case NodeKind::symbol:
  case NodeKind::image:
    return symbolBehaviour(kind);
  case NodeKind::button:
    return buttonBehaviour();
  case NodeKind::picker:
    return pickerBehaviour();
  case NodeKind::textEditor:
    return textEditorBehaviour();
  case NodeKind::progress:
    return progressBehaviour();
  case NodeKind::spacer:
    return spacerBehaviour();
  case NodeKind::divider:
    return dividerBehaviour();
  case NodeKind::shape:
    return shapeBehaviour();
  case NodeKind::padding:
    return paddingBehaviour();
  case NodeKind::frame:
    return frameBehaviour();
  case NodeKind::decorated:
    return decorationBehaviour();
  case NodeKind::component:
    return componentBehaviour();
  }
  return emptyBehaviour();
}

} // namespace platform::ui
