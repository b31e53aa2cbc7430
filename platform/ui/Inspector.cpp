#include "platform/ui/Inspector.hpp"

#include "platform/ui/Desktop.hpp"
#include "platform/ui/TextLayout.hpp"
#include "platform/ui/Window.hpp"

#include <functional>

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
  switch (node.kind) {
  case NodeKind::text:
  case NodeKind::link:
    e.text = plainText(node.runs);
    if (node.kind == NodeKind::link) {
      e.foreground = Color::tint();
    }
    break;
  case NodeKind::textEditor:
    e.text = node.text.get ? node.text.get() : std::string();
    break;
  case NodeKind::picker:
    if (node.selectedIndex) {
      const int index = node.selectedIndex();
      if (index >= 0 && static_cast<std::size_t>(index) < node.options.size()) {
        e.text = node.options[static_cast<std::size_t>(index)];
      }
    }
    break;
  case NodeKind::symbol:
  case NodeKind::image:
    e.symbol = node.symbolName;
    break;
  default:
    break;
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
  const Element e = elementOf(ln);
  if ((!e.text.empty() && e.text == label) || (!e.symbol.empty() && e.symbol == label)) {
    return true;
  }
  for (const LayoutNode &child : ln.children) {
    if (shows(child, label)) {
      return true;
    }
  }
  return false;
}

const LayoutNode *findNode(const LayoutNode &ln,
                           const std::function<bool(const LayoutNode &)> &match) {
  if (match(ln)) {
    return &ln;
  }
  for (const LayoutNode &child : ln.children) {
    if (const LayoutNode *found = findNode(child, match)) {
      return found;
    }
  }
  return nullptr;
}

// Innermost first: children before their parent.
void postOrder(const LayoutNode &ln, std::vector<const LayoutNode *> &out) {
  for (const LayoutNode &child : ln.children) {
    postOrder(child, out);
  }
  out.push_back(&ln);
}

bool usable(const LayoutNode &ln) { return !ln.hidden && ln.opacity > 0 && !ln.node->disabled; }

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

void Inspector::press(const std::string &label) {
  const LayoutNode *button = findNode(view().layout(), [&](const LayoutNode &ln) {
    return ln.node->kind == NodeKind::button && usable(ln) && shows(ln, label);
  });
  if (button == nullptr) {
    throw InspectorError("no visible, enabled button shows \"" + label + "\"");
  }
  // The action may render the view again (or close its window): keep a copy.
  const auto action = button->node->action;
  if (action) {
    action();
  }
}

void Inspector::setText(const std::string &text) {
  const LayoutNode *editor = findNode(view().layout(), [](const LayoutNode &ln) {
    return ln.node->kind == NodeKind::textEditor && usable(ln);
  });
  if (editor == nullptr || !editor->node->text.set) {
    throw InspectorError("no visible text editor");
  }
  const auto set = editor->node->text.set;
  set(text);
}

void Inspector::type(const std::string &text) {
  const LayoutNode *editor = findNode(view().layout(), [](const LayoutNode &ln) {
    return ln.node->kind == NodeKind::textEditor && usable(ln);
  });
  if (editor == nullptr || !editor->node->text.set || !editor->node->text.get) {
    throw InspectorError("no visible text editor");
  }
  const auto get = editor->node->text.get;
  const auto set = editor->node->text.set;
  set(get() + text);
}

void Inspector::hover(const std::string &target, bool inside) {
  std::vector<const LayoutNode *> order;
  postOrder(view().layout(), order);
  for (const LayoutNode *ln : order) {
    if (ln->node->onHover && !ln->hidden && shows(*ln, target)) {
      const auto handler = ln->node->onHover;
      handler(inside);
      return;
    }
  }
  throw InspectorError("no view with a hover handler shows \"" + target + "\"");
}

void Inspector::choose(const std::string &option) {
  const LayoutNode *picker = findNode(view().layout(), [&](const LayoutNode &ln) {
    if (ln.node->kind != NodeKind::picker || !usable(ln)) {
      return false;
    }
    for (const std::string &offered : ln.node->options) {
      if (offered == option) {
        return true;
      }
    }
    return false;
  });
  if (picker == nullptr || !picker->node->select) {
    throw InspectorError("no visible picker offers \"" + option + "\"");
  }
  int index = 0;
  for (std::size_t i = 0; i < picker->node->options.size(); ++i) {
    if (picker->node->options[i] == option) {
      index = static_cast<int>(i);
      break;
    }
  }
  const auto select = picker->node->select;
  select(index);
}

bool Inspector::key(Key key, unsigned modifiers) {
  const LayoutNode &root = view().layout();
  const LayoutNode *button = findNode(root, [&](const LayoutNode &ln) {
    return ln.node->kind == NodeKind::button && usable(ln) && ln.node->shortcut &&
           ln.node->shortcut->key == key && ln.node->shortcut->modifiers == modifiers;
  });
  if (button != nullptr) {
    const auto action = button->node->action;
    if (action) {
      action();
    }
    return true;
  }
  std::vector<const LayoutNode *> order;
  postOrder(root, order);
  std::vector<std::function<bool()>> handlers;
  for (const LayoutNode *ln : order) {
    if (ln->hidden) {
      continue;
    }
    for (const KeyPressHandler &handler : ln->node->onKeyPress) {
      if (handler.key == key && handler.action) {
        handlers.push_back(handler.action);
      }
    }
  }
  for (const auto &handler : handlers) {
    if (handler()) {
      return true;
    }
  }
  return false;
}

bool Inspector::deleteBackward() {
  const LayoutNode *editor = findNode(view().layout(), [](const LayoutNode &ln) {
    return ln.node->kind == NodeKind::textEditor && usable(ln);
  });
  if (editor == nullptr || !editor->node->text.set || !editor->node->text.get) {
    return false;
  }
  const auto get = editor->node->text.get;
  const auto set = editor->node->text.set;
  std::string text = get();
  if (text.empty()) {
    return true;
  }
  // Back over UTF-8 continuation bytes to the start of the last character.
  std::size_t end = text.size() - 1;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  text.erase(end);
  set(text);
  return true;
}

bool Inspector::click(Point point) {
  // Innermost first, so a button inside a row that is itself a button takes the click.
  std::vector<const LayoutNode *> order;
  postOrder(view().layout(), order);
  const LayoutNode *target = nullptr;
  for (const LayoutNode *ln : order) {
    const NodeKind kind = ln->node->kind;
    if ((kind == NodeKind::button || kind == NodeKind::link || kind == NodeKind::picker) &&
        usable(*ln) && ln->frame.contains(point)) {
      target = ln;
      break;
    }
  }
  if (target == nullptr) {
    return false;
  }
  // The handlers may render the view again (or close its window): copy what they need.
  const Node &node = *target->node;
  switch (node.kind) {
  case NodeKind::button:
    if (const auto action = node.action) {
      action();
    }
    return true;
  case NodeKind::link:
    if (window_ != nullptr && !node.url.empty()) {
      const std::string url = node.url;
      window_->desktop().openURL(url);
    }
    return true;
  case NodeKind::picker:
    if (node.select && !node.options.empty()) {
      const int current = node.selectedIndex ? node.selectedIndex() : -1;
      const int next = (current + 1) % static_cast<int>(node.options.size());
      const auto select = node.select;
      select(next);
    }
    return true;
  default:
    return false;
  }
}

void Inspector::pointerMoved(std::optional<Point> point, std::set<std::string> &inside) {
  std::vector<const LayoutNode *> order;
  postOrder(view().layout(), order);
  std::vector<std::pair<std::function<void(bool)>, bool>> calls;
  std::set<std::string> now;
  for (const LayoutNode *ln : order) {
    if (!ln->node->onHover || ln->hidden) {
      continue;
    }
    const bool contained = point && ln->frame.contains(*point);
    if (contained) {
      now.insert(ln->identity);
    }
    if (contained != (inside.count(ln->identity) != 0)) {
      calls.emplace_back(ln->node->onHover, contained);
    }
  }
  inside = std::move(now);
  for (const auto &[handler, entered] : calls) {
    handler(entered);
  }
}

} // namespace platform::ui
