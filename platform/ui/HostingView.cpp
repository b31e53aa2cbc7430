#include "platform/ui/HostingView.hpp"

#include "platform/ui/ViewBehaviour.hpp"

#include <set>

namespace platform::ui {

namespace {

class BodyComponent final : public Component {
public:
  explicit BodyComponent(std::function<View()> body) : body_(std::move(body)) {}
  View body() override { return body_(); }

private:
  std::function<View()> body_;
};

// Renders caused by handlers are bounded, so a handler that always changes state cannot
// hang the main thread.
constexpr int kMaxRendersPerUpdate = 16;

thread_local std::function<void(const AnimatedChange &)> animationObserver;

} // namespace

HostingView::HostingView(std::shared_ptr<Component> root, Size size)
    : root_(std::move(root)), size_(size), tracking_([this] { invalidated(); }) {}

HostingView::HostingView(std::function<View()> body, Size size)
    : HostingView(std::make_shared<BodyComponent>(std::move(body)), size) {}

HostingView::~HostingView() { tracking_.cancel(); }

void HostingView::setSize(Size size) {
  size_ = size;
  if (rendered_) {
    relayout();
    if (onUpdate_) {
      onUpdate_();
    }
  }
}

void HostingView::setAppearance(Appearance appearance) {
  environment_.appearance = appearance;
  if (rendered_) {
    relayout();
  }
}

Size HostingView::idealSize() {
  if (!rendered_) {
    update();
  }
  return sizeThatFits(tree_, {}, environment_);
}

const LayoutNode &HostingView::layout() {
  if (!rendered_) {
    update();
  }
  return layout_;
}

void HostingView::invalidated() {
  if (updating_) {
    dirty_ = true;
    return;
  }
  update();
}

void HostingView::update() {
  if (updating_) {
    dirty_ = true;
    return;
  }
  updating_ = true;
  struct Done {
    bool &flag;
    ~Done() { flag = false; }
  } done{updating_};
  dirty_ = true;
  for (int pass = 0; pass < kMaxRendersPerUpdate && dirty_; ++pass) {
    dirty_ = false;
    renderOnce();
  }
  updating_ = false;
  if (onUpdate_) {
    onUpdate_();
  }
}

void HostingView::renderOnce() {
  std::map<std::string, std::shared_ptr<Component>> next;
  View tree = tracking_.track([&] {
    View body = root_->body();
    return resolve(body, "", "0", environment_.buttonStyle, next);
  });
  ++renderCount_;
  // Components whose place is gone are released after the handlers of this render ran, so a
  // disappear handler can still reach its component's state.
  std::map<std::string, std::shared_ptr<Component>> gone;
  gone.swap(components_);
  components_ = std::move(next);
  tree_ = tree;
  rendered_ = true;
  relayout();
  diffAndRunHandlers(layout_);
}

void HostingView::relayout() {
  layout_ = layoutTree(tree_, size_, environment_);
  std::set<std::string> shown;
  attachEditors(layout_, shown);
  // An editor whose place is gone forgets its caret and scrolling.
  std::erase_if(editors_, [&](const auto &entry) { return shown.count(entry.first) == 0; });
}

void HostingView::attachEditors(LayoutNode &node, std::set<std::string> &shown) {
  if (node.node->kind == NodeKind::textEditor) {
    TextEditorState &state = editors_[node.identity];
    node.editor = &state;
    shown.insert(node.identity);
    settleEditor(node);
  }
  for (LayoutNode &child : node.children) {
    attachEditors(child, shown);
  }
}

void HostingView::editorsChanged() {
  std::function<void(const LayoutNode &)> settle = [&](const LayoutNode &node) {
    if (node.editor != nullptr) {
      settleEditor(node);
    }
    for (const LayoutNode &child : node.children) {
      settle(child);
    }
  };
  settle(layout_);
  if (onRedraw_) {
    onRedraw_();
  }
}

View HostingView::resolve(const View &view, const std::string &parent, const std::string &slot,
                          const ButtonStyle &style,
                          std::map<std::string, std::shared_ptr<Component>> &next) {
  auto copy = std::make_shared<Node>(view.node());
  const std::string identity = identityOf(parent, slot, *copy);
  const ButtonStyle inner = copy->buttonStyle ? *copy->buttonStyle : style;
  if (copy->kind == NodeKind::component) {
    resolveComponent(*copy, identity, inner, next);
    return View(std::move(copy));
  }
  for (std::size_t i = 0; i < copy->children.size(); ++i) {
    copy->children[i] = resolve(copy->children[i], identity, std::to_string(i), inner, next);
  }
  if (auto *decoration = std::get_if<DecorationContent>(&copy->content)) {
    for (std::size_t i = 0; i < decoration->backgrounds.size(); ++i) {
      decoration->backgrounds[i] =
          resolve(decoration->backgrounds[i], identity, "bg" + std::to_string(i), inner, next);
    }
    for (std::size_t i = 0; i < decoration->overlays.size(); ++i) {
      decoration->overlays[i] =
          resolve(decoration->overlays[i], identity, "ov" + std::to_string(i), inner, next);
    }
  }
  if (auto *button = std::get_if<ButtonContent>(&copy->content); button && !button->label.empty()) {
    View label = button->label.front();
    ButtonStyle labelStyle = inner;
    if (inner.kind == ButtonStyleKind::custom && inner.body && !button->styledLabel) {
      label = inner.body(label);
      button->styledLabel = true;
      labelStyle = ButtonStyle{};
    }
    button->label.front() = resolve(label, identity, "label", labelStyle, next);
  }
  return View(std::move(copy));
}

void HostingView::resolveComponent(Node &node, const std::string &identity,
                                   const ButtonStyle &style,
                                   std::map<std::string, std::shared_ptr<Component>> &next) {
  const ComponentContent &content = node.as<ComponentContent>();
  std::shared_ptr<Component> instance;
  if (auto found = components_.find(identity); found != components_.end()) {
    instance = found->second;
  } else if (content.make) {
    instance = content.make();
  }
  node.children.clear();
  if (instance) {
    if (content.update) {
      content.update(*instance);
    }
    next[identity] = instance;
    node.children.push_back(resolve(instance->body(), identity, "0", style, next));
  }
}

void HostingView::diffAndRunHandlers(const LayoutNode &root) {
  Snapshot current;
  std::vector<std::function<void()>> appear;
  std::vector<std::function<void()>> changed;

  struct Walker {
    HostingView &host;
    Snapshot &current;
    std::vector<std::function<void()>> &appear;
    std::vector<std::function<void()>> &changed;

    void walk(const LayoutNode &ln, const Node *animationNode, std::string animationId) {
      const Node &node = *ln.node;
      const Snapshot &before = host.previous_;
      if (node.animation) {
        animationNode = &node;
        animationId = ln.identity;
        current.animationValues[ln.identity] = node.animationValue;
      }
      if (node.onAppear || node.onDisappear) {
        current.disappear[ln.identity] = node.onDisappear;
        if (!before.disappear.count(ln.identity) && node.onAppear) {
          appear.push_back(node.onAppear);
        }
      }
      if (!node.onChange.empty()) {
        std::vector<std::string> values;
        for (const ChangeHandler &handler : node.onChange) {
          values.push_back(handler.value);
        }
        if (auto found = before.changeValues.find(ln.identity);
            found != before.changeValues.end()) {
          for (std::size_t i = 0; i < values.size() && i < found->second.size(); ++i) {
            if (values[i] != found->second[i] && node.onChange[i].action) {
              changed.push_back(node.onChange[i].action);
            }
          }
        }
        current.changeValues[ln.identity] = std::move(values);
      }
      current.opacity[ln.identity] = node.opacity;
      current.scale[ln.identity] = node.scale;
      if (animationNode != nullptr) {
        const auto valueBefore = before.animationValues.find(animationId);
        const bool animating = valueBefore == before.animationValues.end() ||
                               valueBefore->second != animationNode->animationValue;
        if (animating) {
          record(ln.identity, "opacity", before.opacity, node.opacity, *animationNode->animation);
          record(ln.identity, "scale", before.scale, node.scale, *animationNode->animation);
        }
      }
      for (const LayoutNode &child : ln.children) {
        walk(child, animationNode, animationId);
      }
    }

    void record(const std::string &identity, const char *property,
                const std::map<std::string, double> &before, double now,
                const Animation &animation) {
      if (auto found = before.find(identity); found != before.end() && found->second != now) {
        host.animationStarted(AnimatedChange{identity, property, found->second, now, animation});
      }
    }
  };

  Walker walker{*this, current, appear, changed};
  walker.walk(root, nullptr, std::string());
  if (animator_.isRunning()) {
    std::set<std::string> shown;
    for (const auto &[identity, opacity] : current.opacity) {
      shown.insert(identity);
    }
    animator_.retainOnly(shown);
  }

  std::vector<std::function<void()>> disappear;
  for (const auto &[identity, handler] : previous_.disappear) {
    if (!current.disappear.count(identity) && handler) {
      disappear.push_back(handler);
    }
  }
  previous_ = std::move(current);
  for (const auto &handler : disappear) {
    handler();
  }
  for (const auto &handler : appear) {
    handler();
  }
  for (const auto &handler : changed) {
    handler();
  }
}

void HostingView::setAnimationObserver(std::function<void(const AnimatedChange &)> observer) {
  animationObserver = std::move(observer);
}

void HostingView::animationStarted(const AnimatedChange &change) {
  if (animationObserver) {
    animationObserver(change);
  }
  animator_.start(change);
}

void HostingView::setAnimationExecutor(std::shared_ptr<Executor> executor) {
  animator_.setExecutor(std::move(executor));
}

std::optional<double> HostingView::animatedValue(const std::string &identity,
                                                 const std::string &property) const {
  return animator_.value(identity, property);
}

void HostingView::disappearAll() {
  std::vector<std::function<void()>> handlers;
  for (const auto &[identity, handler] : previous_.disappear) {
    if (handler) {
      handlers.push_back(handler);
    }
  }
  previous_ = Snapshot{};
  for (const auto &handler : handlers) {
    handler();
  }
}

void HostingView::draw(cairo_t *cr, DrawReport *report) {
  const LayoutNode &root = layout();
  if (!animator_.isRunning()) {
    paintTree(cr, root, report);
    return;
  }
  paintTree(cr, root, report, [this](const std::string &identity, const char *property) {
    return animator_.value(identity, property);
  });
}

} // namespace platform::ui
