#include "platform/ui/EventDispatcher.hpp"

#include "platform/ui/HostingView.hpp"
#include "platform/ui/ViewBehaviour.hpp"

#include <functional>
#include <utility>
#include <vector>

namespace platform::ui {

namespace {

const Binding<std::string> *editableText(const LayoutNode &root) {
  const LayoutNode *editor = findFirst(root, [](const LayoutNode &placed) {
    return placed.node->kind == NodeKind::textEditor && isUsable(placed);
  });
  if (editor == nullptr) {
    return nullptr;
  }
  const Binding<std::string> &text = editor->node->as<TextEditorContent>().text;
  return text.get && text.set ? &text : nullptr;
}

} // namespace

bool EventDispatcher::click(Point point) {
  // Innermost first, so a button inside a row that is itself a button takes the click.
  for (const LayoutNode *placed : innermostFirst(view_.layout())) {
    const ViewBehaviour &behaviour = behaviourOf(placed->node->kind);
    if (behaviour.takesClicks() && isUsable(*placed) && placed->frame.contains(point)) {
      behaviour.click(*placed->node, desktop_);
      return true;
    }
  }
  return false;
}

void EventDispatcher::pointerMoved(std::optional<Point> point, std::set<std::string> &inside) {
  std::vector<std::pair<std::function<void(bool)>, bool>> calls;
  std::set<std::string> now;
  for (const LayoutNode *placed : innermostFirst(view_.layout())) {
    if (!placed->node->onHover || placed->hidden) {
      continue;
    }
    const bool contained = point && placed->frame.contains(*point);
    if (contained) {
      now.insert(placed->identity);
    }
    if (contained != (inside.count(placed->identity) != 0)) {
      calls.emplace_back(placed->node->onHover, contained);
    }
  }
  inside = std::move(now);
  for (const auto &[handler, entered] : calls) {
    handler(entered);
  }
}

bool EventDispatcher::key(Key key, unsigned modifiers) {
  const LayoutNode &root = view_.layout();
  const LayoutNode *button = findFirst(root, [&](const LayoutNode &placed) {
    const auto &shortcut = placed.node->shortcut;
    return placed.node->kind == NodeKind::button && isUsable(placed) && shortcut &&
           shortcut->key == key && shortcut->modifiers == modifiers;
  });
  if (button != nullptr) {
    behaviourOf(NodeKind::button).click(*button->node, desktop_);
    return true;
  }
  std::vector<std::function<bool()>> handlers;
  for (const LayoutNode *placed : innermostFirst(root)) {
    if (placed->hidden) {
      continue;
    }
    for (const KeyPressHandler &handler : placed->node->onKeyPress) {
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

bool EventDispatcher::insertText(const std::string &text) {
  const Binding<std::string> *binding = editableText(view_.layout());
  if (binding == nullptr) {
    return false;
  }
  const Binding<std::string> copy = *binding;
  copy.set(copy.get() + text);
  return true;
}

bool EventDispatcher::deleteBackward() {
  const Binding<std::string> *binding = editableText(view_.layout());
  if (binding == nullptr) {
    return false;
  }
  const Binding<std::string> copy = *binding;
  std::string text = copy.get();
  if (text.empty()) {
    return true;
  }
  // Back over UTF-8 continuation bytes to the start of the last character.
  std::size_t end = text.size() - 1;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  text.erase(end);
  copy.set(text);
  return true;
}

} // namespace platform::ui
