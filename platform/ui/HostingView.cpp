#include "platform/ui/HostingView.hpp"

#include "platform/ui/ViewBehaviour.hpp"

#include <cmath>
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

// Walks a render's layout: finds the views that came, went and changed, and the animated
// changes to start.
struct HostingView::Walker {
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
      if (auto found = before.changeValues.find(ln.identity); found != before.changeValues.end()) {
        for (std::size_t i = 0; i < values.size() && i < found->second.size(); ++i) {
          if (values[i] != found->second[i] && node.onChange[i].action) {
            changed.push_back(node.onChange[i].action);
          }
        }
      }
      current.changeValues[ln.identity] = std::move(values);
    }
    snapshotLooks(ln);
    if (animationNode != nullptr) {
      const auto valueBefore = before.animationValues.find(animationId);
      const bool animating = valueBefore == before.animationValues.end() ||
                             valueBefore->second != animationNode->animationValue;
      if (animating) {
        animate(ln, *animationNode->animation);
      }
    }
    sweepIfIndeterminate(ln);
    for (const LayoutNode &child : ln.children) {
      walk(child, animationNode, animationId);
    }
  }

  void record(const std::string &identity, const char *property,
              const std::map<std::string, double> &before, double now, const Animation &animation) {
    if (auto found = before.find(identity); found != before.end() && found->second != now) {
      host.animationStarted(AnimatedChange{identity, property, found->second, now, animation});
    }
  }

  void recordColour(const std::string &identity, const char *property,
                    const std::map<std::string, RGBA> &before,
                    const std::map<std::string, RGBA> &now, const Animation &animation) {
    const auto was = before.find(identity);
    const auto is = now.find(identity);
    if (was != before.end() && is != now.end() && was->second != is->second) {
      host.animationStarted(
          AnimatedChange{identity, property, 0, 1, animation, was->second, is->second});
    }
  }

  // What animates of a view: its opacity, scale and colours, a shape's size (drawn as a
  // scale from its old size) and, for a view that comes with a transition, its entrance.
  void snapshotLooks(const LayoutNode &ln) {
    const Node &node = *ln.node;
    const Environment &env = ln.environment;
    current.opacity[ln.identity] = node.opacity;
    current.scale[ln.identity] = node.scale;
    if (node.kind == NodeKind::shape) {
      const auto &fill = node.as<ShapeContent>().fill;
      current.fill[ln.identity] =
          fill ? fill->resolve(env.appearance, &env.tint) : RGBA{0, 0, 0, 0};
      current.sizes[ln.identity] = ln.frame.size;
    }
    if (node.kind == NodeKind::text || node.kind == NodeKind::symbol ||
        node.kind == NodeKind::link) {
      current.foreground[ln.identity] = env.foreground.resolve(env.appearance, &env.tint);
    }
  }

  void animate(const LayoutNode &ln, const Animation &animation) {
    const Node &node = *ln.node;
    const Snapshot &before = host.previous_;
    const std::string &id = ln.identity;
    record(id, "opacity", before.opacity, node.opacity, animation);
    record(id, "scale", before.scale, node.scale, animation);
    recordColour(id, "fill", before.fill, current.fill, animation);
    recordColour(id, "foreground", before.foreground, current.foreground, animation);
    // A shape that keeps its proportions (a dot growing) is drawn scaled from its old size; a
    // stretched one (a pill widening with its text) is drawn from its old width, centred on
    // its new frame, and keeps its height.
    const auto size = before.sizes.find(id);
    const Size &now = ln.frame.size;
    if (size != before.sizes.end() && size->second.width != now.width && now.width > 0 &&
        now.height > 0) {
      if (std::abs(size->second.width * now.height - size->second.height * now.width) < 1e-6) {
        const double from = node.scale * size->second.width / ln.frame.width();
        host.animationStarted(AnimatedChange{id, "scale", from, node.scale, animation});
      } else if (size->second.height == now.height) {
        host.animationStarted(
            AnimatedChange{id, "width", size->second.width, now.width, animation});
      }
    }
    // The first render puts everything on screen at once; later ones bring views in.
    const bool entering = !before.opacity.empty() && before.opacity.count(id) == 0;
    if (entering && node.transition) {
      if (node.transition->fades) {
        host.animationStarted(AnimatedChange{id, "opacity", 0, node.opacity, animation});
      }
      if (node.transition->scale != 1.0) {
        host.animationStarted(AnimatedChange{id, "scale", node.transition->scale * node.scale,
                                             node.scale, animation});
      }
    }
  }

  // An indeterminate bar sweeps while it is shown, and only then.
  void sweepIfIndeterminate(const LayoutNode &ln) {
    const Node &node = *ln.node;
    const bool indeterminate = node.kind == NodeKind::progress &&
                               node.as<ProgressContent>().linear &&
                               !node.as<ProgressContent>().value && !ln.hidden;
    const bool sweeping = host.animator_.value(ln.identity, "phase").has_value();
    if (!indeterminate && sweeping) {
      host.animator_.stop(ln.identity, "phase");
    }
    if (!indeterminate || sweeping) {
      return;
    }
    host.animationStarted(AnimatedChange{ln.identity, "phase", 0, 1,
                                         Animation::linear(kIndeterminateSweep)
                                             .repeatForever(
                                                 /*reverses=*/false)});
  }
};

void HostingView::diffAndRunHandlers(const LayoutNode &root) {
  Snapshot current;
  std::vector<std::function<void()>> appear;
  std::vector<std::function<void()>> changed;
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

std::optional<RGBA> HostingView::animatedColour(const std::string &identity,
                                                const std::string &property) const {
  return animator_.colour(identity, property);
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
  paintTree(
      cr, root, report,
      [this](const std::string &identity, const char *property) {
        return animator_.value(identity, property);
      },
      [this](const std::string &identity, const char *property) {
        return animator_.colour(identity, property);
      });
}

} // namespace platform::ui
