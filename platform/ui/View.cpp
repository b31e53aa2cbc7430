#include "platform/ui/View.hpp"

#include "platform/ui/ViewBehaviour.hpp"

namespace platform::ui {

const char *toString(NodeKind kind) { return behaviourOf(kind).name(); }

std::string identityOf(const std::string &parent, const std::string &slot, const Node &node) {
  std::string identity = parent + "/" + slot + ":" + toString(node.kind);
  if (node.kind == NodeKind::component) {
    identity += "<" + node.as<ComponentContent>().type + ">";
  }
  if (!node.id.empty()) {
    identity += "#" + node.id;
  }
  return identity;
}

std::string PickerContent::shownOption() const {
  if (!selectedIndex) {
    return {};
  }
  const int index = selectedIndex();
  if (index < 0 || static_cast<std::size_t>(index) >= options.size()) {
    return {};
  }
  return options[static_cast<std::size_t>(index)];
}

std::string Key::description() const {
  switch (kind) {
  case Kind::escape:
    return "Escape";
  case Kind::returnKey:
    return "Return";
  case Kind::tab:
    return "Tab";
  case Kind::space:
    return "Space";
  case Kind::deleteKey:
    return "Delete";
  case Kind::forwardDelete:
    return "Forward Delete";
  case Kind::left:
    return "Left";
  case Kind::right:
    return "Right";
  case Kind::up:
    return "Up";
  case Kind::down:
    return "Down";
  case Kind::home:
    return "Home";
  case Kind::end:
    return "End";
  case Kind::pageUp:
    return "Page Up";
  case Kind::pageDown:
    return "Page Down";
  case Kind::character:
    break;
  }
  return std::string(1, character);
}

namespace {

std::shared_ptr<Node> makeNode(NodeKind kind, NodeContent content = {}) {
  auto node = std::make_shared<Node>();
  node->kind = kind;
  node->content = std::move(content);
  return node;
}

} // namespace

View::View() : node_(makeNode(NodeKind::empty)) {}

View View::modified(const std::function<void(Node &)> &change) const {
  auto copy = std::make_shared<Node>(*node_);
  change(*copy);
  return View(std::move(copy));
}

template <class T> View View::modifiedContent(const std::function<void(T &)> &change) const {
  if (!std::holds_alternative<T>(node_->content)) {
    return *this;
  }
  return modified([&](Node &n) { change(std::get<T>(n.content)); });
}

View View::wrapped(NodeKind kind, const std::function<void(Node &)> &setUp) const {
  auto node = makeNode(kind);
  node->children.push_back(*this);
  setUp(*node);
  return View(std::move(node));
}

View View::padding(unsigned edges, double amount) const {
  EdgeInsets insets;
  insets.top = (edges & kTop) ? amount : 0;
  insets.leading = (edges & kLeading) ? amount : 0;
  insets.bottom = (edges & kBottom) ? amount : 0;
  insets.trailing = (edges & kTrailing) ? amount : 0;
  return padding(insets);
}

View View::padding(EdgeInsets insets) const {
  return wrapped(NodeKind::padding, [&](Node &n) { n.content = PaddingContent{insets}; });
}

View View::frame(std::optional<double> width, std::optional<double> height,
                 Alignment alignment) const {
  return wrapped(NodeKind::frame, [&](Node &n) {
    FrameContent frame;
    frame.width = width;
    frame.height = height;
    frame.alignment = alignment;
    n.content = frame;
  });
}

View View::frame(std::optional<double> minWidth, std::optional<double> maxWidth,
                 std::optional<double> minHeight, std::optional<double> maxHeight,
                 Alignment alignment) const {
  return wrapped(NodeKind::frame, [&](Node &n) {
    FrameContent frame;
    frame.minWidth = minWidth;
    frame.maxWidth = maxWidth;
    frame.minHeight = minHeight;
    frame.maxHeight = maxHeight;
    frame.alignment = alignment;
    n.content = frame;
  });
}

View View::background(const View &view) const {
  return wrapped(NodeKind::decorated, [&](Node &n) { n.content = DecorationContent{{view}, {}}; });
}

View View::overlay(const View &view) const {
  return wrapped(NodeKind::decorated, [&](Node &n) { n.content = DecorationContent{{}, {view}}; });
}

View View::font(const Font &font) const {
  return modified([&](Node &n) {
    if (!n.font) {
      n.font = font;
    }
  });
}

View View::foregroundStyle(const Color &color) const {
  return modified([&](Node &n) {
    if (!n.foreground) {
      n.foreground = color;
    }
  });
}

View View::tint(const Color &color) const {
  return modified([&](Node &n) {
    if (!n.tint) {
      n.tint = color;
    }
  });
}

View View::controlSize(ControlSize size) const {
  return modified([&](Node &n) {
    if (!n.controlSize) {
      n.controlSize = size;
    }
  });
}

View View::buttonStyle(const ButtonStyle &style) const {
  return modified([&](Node &n) {
    if (!n.buttonStyle) {
      n.buttonStyle = style;
    }
  });
}

View View::opacity(double value) const {
  return modified([&](Node &n) { n.opacity *= value; });
}

View View::scaleEffect(double value) const {
  return modified([&](Node &n) { n.scale *= value; });
}

View View::hidden(bool isHidden) const {
  return modified([&](Node &n) { n.hidden = n.hidden || isHidden; });
}

View View::disabled(bool isDisabled) const {
  return modified([&](Node &n) { n.disabled = n.disabled || isDisabled; });
}

View View::shadow(const Shadow &shadow) const {
  return modified([&](Node &n) { n.shadow = shadow; });
}

View View::animation(const Animation &animation, std::string value) const {
  return modified([&](Node &n) {
    n.animation = animation;
    n.animationValue = std::move(value);
  });
}

View View::transition(const Transition &transition) const {
  return modified([&](Node &n) { n.transition = transition; });
}

View View::keyboardShortcut(Key key, unsigned modifiers) const {
  return modified([&](Node &n) { n.shortcut = KeyboardShortcut{key, modifiers}; });
}

View View::multilineTextAlignment(TextAlignment alignment) const {
  return modifiedContent<TextContent>([&](TextContent &t) { t.alignment = alignment; });
}

View View::id(std::string identifier) const {
  return modified([&](Node &n) { n.id = std::move(identifier); });
}

View View::labelsHidden() const {
  return modifiedContent<PickerContent>([](PickerContent &p) { p.labelHidden = true; });
}

View View::fill(const Color &color) const {
  return modifiedContent<ShapeContent>([&](ShapeContent &s) { s.fill = color; });
}

View View::stroke(const Color &color, double lineWidth) const {
  return modifiedContent<ShapeContent>([&](ShapeContent &s) {
    s.stroke = color;
    s.lineWidth = lineWidth;
  });
}

View View::onAppear(std::function<void()> action) const {
  return modified([&](Node &n) { n.onAppear = std::move(action); });
}

View View::onDisappear(std::function<void()> action) const {
  return modified([&](Node &n) { n.onDisappear = std::move(action); });
}

View View::onHover(std::function<void(bool)> action) const {
  return modified([&](Node &n) { n.onHover = std::move(action); });
}

View View::onChange(std::string value, std::function<void()> action) const {
  return modified([&](Node &n) {
    n.onChange.push_back(ChangeHandler{std::move(value), std::move(action)});
  });
}

View View::onKeyPress(Key key, std::function<bool()> action) const {
  return modified([&](Node &n) {
    n.onKeyPress.push_back(KeyPressHandler{key, std::move(action)});
  });
}

View VStack(std::vector<View> children, std::optional<double> spacing,
            HorizontalAlignment alignment) {
  auto node = makeNode(NodeKind::vstack, StackContent{spacing, alignment, {}});
  node->children = std::move(children);
  return View(std::move(node));
}

View HStack(std::vector<View> children, std::optional<double> spacing,
            VerticalAlignment alignment) {
  auto node = makeNode(NodeKind::hstack, StackContent{spacing, {}, alignment});
  node->children = std::move(children);
  return View(std::move(node));
}

View ZStack(std::vector<View> children) {
  auto node = makeNode(NodeKind::zstack);
  node->children = std::move(children);
  return View(std::move(node));
}

View Text(std::string text) { return Text(std::vector<TextRun>{TextRun{std::move(text), false}}); }

View Text(std::vector<TextRun> runs) {
  return View(makeNode(NodeKind::text, TextContent{std::move(runs), {}, {}}));
}

View Symbol(std::string name) {
  return View(makeNode(NodeKind::symbol, SymbolContent{std::move(name), false}));
}

View AppIcon() { return View(makeNode(NodeKind::image, SymbolContent{"app.icon", true})); }

View Button(std::string title, std::function<void()> action) {
  return Button(Text(std::move(title)), std::move(action));
}

View Button(View label, std::function<void()> action) {
  return View(makeNode(NodeKind::button, ButtonContent{{std::move(label)}, std::move(action)}));
}

View Label(std::string title, std::string symbolName) {
  return HStack({Symbol(std::move(symbolName)), Text(std::move(title))}, 6);
}

View Link(std::string title, std::string url) {
  return View(makeNode(
      NodeKind::link,
      TextContent{{TextRun{std::move(title), false}}, TextAlignment::leading, std::move(url)}));
}

View Picker(std::string title, std::vector<std::string> options, std::function<int()> selected,
            std::function<void(int)> select) {
  PickerContent picker;
  picker.title = {TextRun{std::move(title), false}};
  picker.options = std::move(options);
  picker.selectedIndex = std::move(selected);
  picker.select = std::move(select);
  return View(makeNode(NodeKind::picker, std::move(picker)));
}

View TextEditor(Binding<std::string> text) {
  return View(makeNode(NodeKind::textEditor, TextEditorContent{std::move(text)}));
}

View ProgressView() { return View(makeNode(NodeKind::progress, ProgressContent{})); }

View ProgressView(double value) {
  return View(makeNode(NodeKind::progress, ProgressContent{value, true}));
}

View LinearProgressView() {
  return View(makeNode(NodeKind::progress, ProgressContent{std::nullopt, true}));
}

View Spacer(std::optional<double> minLength) {
  return View(makeNode(NodeKind::spacer, SpacerContent{minLength}));
}

View Divider() { return View(makeNode(NodeKind::divider)); }

namespace {
View shapeView(ShapeKind kind, double radius) {
  ShapeContent shape;
  shape.shape = kind;
  shape.cornerRadius = radius;
  return View(makeNode(NodeKind::shape, shape));
}
} // namespace

View Rectangle() { return shapeView(ShapeKind::rectangle, 0); }
View RoundedRectangle(double cornerRadius) {
  return shapeView(ShapeKind::roundedRectangle, cornerRadius);
}
View Capsule() { return shapeView(ShapeKind::capsule, 0); }
View Circle() { return shapeView(ShapeKind::circle, 0); }
View EmptyView() { return View(); }

View ComponentView(std::string type, std::function<std::shared_ptr<Component>()> make,
                   std::function<void(Component &)> update) {
  return View(makeNode(NodeKind::component,
                       ComponentContent{std::move(type), std::move(make), std::move(update)}));
}

} // namespace platform::ui
