#include "platform/ui/View.hpp"

namespace platform::ui {

const char *toString(NodeKind kind) {
  switch (kind) {
  case NodeKind::empty:
    return "Empty";
  case NodeKind::vstack:
    return "VStack";
  case NodeKind::hstack:
    return "HStack";
  case NodeKind::zstack:
    return "ZStack";
  case NodeKind::text:
    return "Text";
  case NodeKind::symbol:
    return "Symbol";
  case NodeKind::image:
    return "Image";
  case NodeKind::button:
    return "Button";
  case NodeKind::link:
    return "Link";
  case NodeKind::picker:
    return "Picker";
  case NodeKind::textEditor:
    return "TextEditor";
  case NodeKind::progress:
    return "Progress";
  case NodeKind::spacer:
    return "Spacer";
  case NodeKind::divider:
    return "Divider";
  case NodeKind::shape:
    return "Shape";
  case NodeKind::padding:
    return "Padding";
  case NodeKind::frame:
    return "Frame";
  case NodeKind::decorated:
    return "Decorated";
  case NodeKind::component:
    return "Component";
  }
  return "View";
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
  case Kind::character:
    break;
  }
  return std::string(1, character);
}

namespace {

std::shared_ptr<Node> makeNode(NodeKind kind) {
  auto node = std::make_shared<Node>();
  node->kind = kind;
  return node;
}

} // namespace

View::View() : node_(makeNode(NodeKind::empty)) {}

View View::modified(const std::function<void(Node &)> &change) const {
  auto copy = std::make_shared<Node>(*node_);
  change(*copy);
  return View(std::move(copy));
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
  return wrapped(NodeKind::padding, [&](Node &n) { n.insets = insets; });
}

View View::frame(std::optional<double> width, std::optional<double> height,
                 Alignment alignment) const {
  return wrapped(NodeKind::frame, [&](Node &n) {
    n.width = width;
    n.height = height;
    n.frameAlignment = alignment;
  });
}

View View::frame(std::optional<double> minWidth, std::optional<double> maxWidth,
                 std::optional<double> minHeight, std::optional<double> maxHeight,
                 Alignment alignment) const {
  return wrapped(NodeKind::frame, [&](Node &n) {
    n.minWidth = minWidth;
    n.maxWidth = maxWidth;
    n.minHeight = minHeight;
    n.maxHeight = maxHeight;
    n.frameAlignment = alignment;
  });
}

View View::background(const View &view) const {
  return wrapped(NodeKind::decorated, [&](Node &n) { n.backgrounds.push_back(view); });
}

View View::overlay(const View &view) const {
  return wrapped(NodeKind::decorated, [&](Node &n) { n.overlays.push_back(view); });
}

View View::font(const Font &font) const {
  return modified([&](Node &n) {
    if (!n.font) {
      n.font = font;
    }
  });
}

View View::fontWeight(FontWeight weight) const {
  return modified([&](Node &n) {
    Font f = n.font.value_or(Font::body());
    f.weight = weight;
    n.font = f;
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
  return modified([&](Node &n) { n.textAlignment = alignment; });
}

View View::id(std::string identifier) const {
  return modified([&](Node &n) { n.id = std::move(identifier); });
}

View View::labelsHidden() const {
  return modified([&](Node &n) { n.labelHidden = true; });
}

View View::fill(const Color &color) const {
  return modified([&](Node &n) { n.fill = color; });
}

View View::stroke(const Color &color, double lineWidth) const {
  return modified([&](Node &n) {
    n.stroke = color;
    n.lineWidth = lineWidth;
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
  auto node = makeNode(NodeKind::vstack);
  node->children = std::move(children);
  node->spacing = spacing;
  node->hAlignment = alignment;
  return View(std::move(node));
}

View HStack(std::vector<View> children, std::optional<double> spacing,
            VerticalAlignment alignment) {
  auto node = makeNode(NodeKind::hstack);
  node->children = std::move(children);
  node->spacing = spacing;
  node->vAlignment = alignment;
  return View(std::move(node));
}

View ZStack(std::vector<View> children) {
  auto node = makeNode(NodeKind::zstack);
  node->children = std::move(children);
  return View(std::move(node));
}

View Text(std::string text) { return Text(std::vector<TextRun>{TextRun{std::move(text), false}}); }

View Text(std::vector<TextRun> runs) {
  auto node = makeNode(NodeKind::text);
  node->runs = std::move(runs);
  return View(std::move(node));
}

View Symbol(std::string name) {
  auto node = makeNode(NodeKind::symbol);
  node->symbolName = std::move(name);
  return View(std::move(node));
}

View AppIcon() {
  auto node = makeNode(NodeKind::image);
  node->symbolName = "app.icon";
  node->resizable = true;
  return View(std::move(node));
}

View Button(std::string title, std::function<void()> action) {
  return Button(Text(std::move(title)), std::move(action));
}

View Button(View label, std::function<void()> action) {
  auto node = makeNode(NodeKind::button);
  node->labelViews.push_back(std::move(label));
  node->action = std::move(action);
  return View(std::move(node));
}

View Label(std::string title, std::string symbolName) {
  return HStack({Symbol(std::move(symbolName)), Text(std::move(title))}, 6);
}

View Link(std::string title, std::string url) {
  auto node = makeNode(NodeKind::link);
  node->runs = {TextRun{std::move(title), false}};
  node->url = std::move(url);
  return View(std::move(node));
}

View Picker(std::string title, std::vector<std::string> options, std::function<int()> selected,
            std::function<void(int)> select) {
  auto node = makeNode(NodeKind::picker);
  node->runs = {TextRun{std::move(title), false}};
  node->options = std::move(options);
  node->selectedIndex = std::move(selected);
  node->select = std::move(select);
  return View(std::move(node));
}

View TextEditor(Binding<std::string> text) {
  auto node = makeNode(NodeKind::textEditor);
  node->text = std::move(text);
  return View(std::move(node));
}

View ProgressView() { return View(makeNode(NodeKind::progress)); }

View ProgressView(double value) {
  auto node = makeNode(NodeKind::progress);
  node->progressValue = value;
  node->linear = true;
  return View(std::move(node));
}

View LinearProgressView() {
  auto node = makeNode(NodeKind::progress);
  node->linear = true;
  return View(std::move(node));
}

View Spacer(std::optional<double> minLength) {
  auto node = makeNode(NodeKind::spacer);
  node->minLength = minLength;
  return View(std::move(node));
}

View Divider() { return View(makeNode(NodeKind::divider)); }

namespace {
View shapeView(ShapeKind kind, double radius) {
  auto node = makeNode(NodeKind::shape);
  node->shape = kind;
  node->cornerRadius = radius;
  return View(std::move(node));
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
  auto node = makeNode(NodeKind::component);
  node->componentType = std::move(type);
  node->makeComponent = std::move(make);
  node->updateComponent = std::move(update);
  return View(std::move(node));
}

} // namespace platform::ui
