#include "platform/ui/Inspector.hpp"

#include "platform/ui/Desktop.hpp"
#include "platform/ui/ViewBehaviour.hpp"
#include "platform/ui/Window.hpp"

#include <algorithm>

namespace platform::ui {

namespace {

Element elementOf(const LayoutNode &ln) {
  const Node &node = *ln.node;
  Element e;
  e.identity = ln.identity;
  e.kind = node.kind;
  e.id = node.id;
  e.frame = ln.frame;
  e.opacity = ln.opacity;
  e.hidden = ln.hidden;
  e.disabled = node.disabled;
  e.font = ln.environment.font;
  e.foreground = ln.environment.foreground;
  e.environment = ln.environment;
  e.node = &node;
  Shown shown = behaviourOf(node.kind).shown(node);
  e.text = std::move(shown.text);
  e.symbol = std::move(shown.symbol);
  if (shown.foreground) {
    e.foreground = *shown.foreground;
  }
  return e;
}

void collect(const LayoutNode &ln, std::vector<Element> &out) {
  out.push_back(elementOf(ln));
  for (const LayoutNode &child : ln.children) {
    collect(child, out);
  }
}

// True when the subtree shows `label` as a visible text or symbol.
bool shows(const LayoutNode &ln, const std::string &label) {
  if (ln.hidden || ln.opacity <= 0) {
    return false;
  }
  const Shown shown = behaviourOf(ln.node->kind).shown(*ln.node);
  if ((!shown.text.empty() && shown.text == label) ||
      (!shown.symbol.empty() && shown.symbol == label)) {
    return true;
  }
  for (const LayoutNode &child : ln.children) {
    if (shows(child, label)) {
      return true;
    }
  }
  return false;
}

const LayoutNode *usableEditor(const LayoutNode &root) {
  return findFirst(root, [](const LayoutNode &ln) {
    return ln.node->kind == NodeKind::textEditor && isUsable(ln);
  });
}

} // namespace

Inspector::Inspector(Window &window) : window_(&window) {}

HostingView &Inspector::view() const {
  HostingView *view = window_ != nullptr ? window_->contentView() : view_;
  if (view == nullptr) {
    throw InspectorError("the window has no content view");
  }
  return *view;
}

std::vector<Element> Inspector::elements() const {
  std::vector<Element> out;
  collect(view().layout(), out);
  return out;
}

std::vector<std::string> Inspector::texts() const {
  std::vector<std::string> out;
  for (const Element &e : elements()) {
    if (e.visible() &&
        (e.kind == NodeKind::text || e.kind == NodeKind::link || e.kind == NodeKind::textEditor)) {
      out.push_back(e.text);
    }
  }
  return out;
}

bool Inspector::hasText(const std::string &text) const { return findText(text).has_value(); }

std::optional<Element> Inspector::findText(const std::string &text) const {
  for (const Element &e : elements()) {
    if (e.visible() && e.text == text &&
        (e.kind == NodeKind::text || e.kind == NodeKind::link || e.kind == NodeKind::textEditor)) {
      return e;
    }
  }
  return std::nullopt;
}

std::vector<std::string> Inspector::symbols() const {
  std::vector<std::string> out;
  for (const Element &e : elements()) {
    if (e.visible() && e.kind == NodeKind::symbol) {
      out.push_back(e.symbol);
    }
  }
  return out;
}

std::optional<Element> Inspector::findSymbol(const std::string &name) const {
  for (const Element &e : elements()) {
    if (e.visible() && e.kind == NodeKind::symbol && e.symbol == name) {
      return e;
    }
  }
  return std::nullopt;
}

std::optional<Element> Inspector::findById(const std::string &id) const {
  for (const Element &e : elements()) {
    if (e.id == id) {
      return e;
    }
  }
  return std::nullopt;
}

std::vector<Element> Inspector::findKind(NodeKind kind) const {
  std::vector<Element> out;
  for (const Element &e : elements()) {
    if (e.kind == kind) {
      out.push_back(e);
    }
  }
  return out;
}

EventDispatcher Inspector::dispatcher() const {
  return EventDispatcher(view(), window_ != nullptr ? &window_->desktop() : nullptr, window_);
}

void Inspector::press(const std::string &label) {
  const LayoutNode *button = findFirst(view().layout(), [&](const LayoutNode &ln) {
    return ln.node->kind == NodeKind::button && isUsable(ln) && shows(ln, label);
  });
  if (button == nullptr) {
    throw InspectorError("no visible, enabled button shows \"" + label + "\"");
  }
  behaviourOf(NodeKind::button).click(*button, nullptr, std::nullopt);
}

void Inspector::setText(const std::string &text) {
  const LayoutNode *editor = usableEditor(view().layout());
  if (editor == nullptr || !editor->node->as<TextEditorContent>().text.set) {
    throw InspectorError("no visible text editor");
  }
  const auto set = editor->node->as<TextEditorContent>().text.set;
  set(text);
}

void Inspector::type(const std::string &text) {
  if (!dispatcher().insertText(text)) {
    throw InspectorError("no visible text editor");
  }
}

void Inspector::hover(const std::string &target, bool inside) {
  for (const LayoutNode *ln : innermostFirst(view().layout())) {
    if (ln->node->onHover && !ln->hidden && shows(*ln, target)) {
      const auto handler = ln->node->onHover;
      handler(inside);
      return;
    }
  }
  throw InspectorError("no view with a hover handler shows \"" + target + "\"");
}

void Inspector::choose(const std::string &option) {
  const LayoutNode *picker = findFirst(view().layout(), [&](const LayoutNode &ln) {
    if (ln.node->kind != NodeKind::picker || !isUsable(ln)) {
      return false;
    }
    const auto &options = ln.node->as<PickerContent>().options;
    return std::find(options.begin(), options.end(), option) != options.end();
  });
  if (picker == nullptr || !picker->node->as<PickerContent>().select) {
    throw InspectorError("no visible picker offers \"" + option + "\"");
  }
  const PickerContent &content = picker->node->as<PickerContent>();
  const auto index =
      std::find(content.options.begin(), content.options.end(), option) - content.options.begin();
  const auto select = content.select;
  select(static_cast<int>(index));
}

bool Inspector::key(Key key, unsigned modifiers) { return dispatcher().key(key, modifiers); }

bool Inspector::deleteBackward() { return dispatcher().deleteBackward(); }

bool Inspector::click(Point point) { return dispatcher().click(point); }

EventDispatcher::Press Inspector::pressPointer(Point point, unsigned modifiers) {
  return dispatcher().press(point, modifiers);
}

void Inspector::dragSelection(Point point) { dispatcher().dragSelection(point); }

bool Inspector::moveFromBackground(Point pressedAt, Point point) {
  return dispatcher().moveFromBackground(pressedAt, point);
}

bool Inspector::scroll(Point point, double delta) { return dispatcher().scroll(point, delta); }

void Inspector::pointerMoved(std::optional<Point> point, std::set<std::string> &inside) {
  dispatcher().pointerMoved(point, inside);
}

} // namespace platform::ui
