#pragma once

#include "platform/ui/Color.hpp"
#include "platform/ui/Font.hpp"
#include "platform/ui/Geometry.hpp"
#include "platform/ui/Observation.hpp"
#include "platform/ui/Theme.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace platform::ui {

// A small declarative view tree. Views are cheap values built afresh by every body; a
// HostingView lays them out, draws them, keeps their view state and runs their handlers.
// Modifiers that change the layout (padding, frame, background, overlay) wrap the view in a
// new node, so their order matters as it does in the platform's framework; the others set
// attributes on the view they are called on. Inherited attributes (font, foreground style,
// control size, tint, button style) apply to the whole subtree, the innermost setting winning.

enum class NodeKind {
  empty,
  vstack,
  hstack,
  zstack,
  text,
  symbol,
  image,
  button,
  link,
  picker,
  textEditor,
  progress,
  spacer,
  divider,
  shape,
  padding,
  frame,
  decorated,
  component
};

const char *toString(NodeKind kind);

enum class HorizontalAlignment { leading, center, trailing };
enum class VerticalAlignment { top, center, bottom };

struct Alignment {
  HorizontalAlignment horizontal = HorizontalAlignment::center;
  VerticalAlignment vertical = VerticalAlignment::center;

  static Alignment center() { return {}; }
  static Alignment leading() { return {HorizontalAlignment::leading, VerticalAlignment::center}; }
  static Alignment top() { return {HorizontalAlignment::center, VerticalAlignment::top}; }
};

enum class ShapeKind { rectangle, roundedRectangle, capsule, circle };
enum class ButtonStyleKind { automatic, bordered, borderedProminent, borderless, plain, custom };
enum class TextAlignment { leading, center, trailing };

// Edges for padding.
enum Edge : unsigned {
  kTop = 1,
  kLeading = 2,
  kBottom = 4,
  kTrailing = 8,
  kHorizontal = kLeading | kTrailing,
  kVertical = kTop | kBottom,
  kAllEdges = kHorizontal | kVertical
};

struct TextRun {
  std::string text;
  bool bold = false;
};

// Keys that views and shortcuts name. Characters are single lower-case ASCII letters or
// punctuation, as in Key::character('q'). `deleteKey` deletes backwards, `forwardDelete`
// forwards.
struct Key {
  enum class Kind {
    character,
    escape,
    returnKey,
    tab,
    space,
    deleteKey,
    forwardDelete,
    left,
    right,
    up,
    down,
    home,
    end,
    pageUp,
    pageDown
  };
  Kind kind = Kind::character;
  char character = 0;

  static Key escape() { return {Kind::escape, 0}; }
  static Key returnKey() { return {Kind::returnKey, 0}; }
  static Key tab() { return {Kind::tab, 0}; }
  static Key space() { return {Kind::space, 0}; }
  static Key of(char c) { return {Kind::character, c}; }
  static Key named(Kind kind) { return {kind, 0}; }
  std::string description() const;
  bool operator==(const Key &) const = default;
};

enum Modifier : unsigned { kNoModifiers = 0, kCommand = 1, kShift = 2, kOption = 4, kControl = 8 };

struct KeyboardShortcut {
  Key key;
  unsigned modifiers = kCommand;
  bool operator==(const KeyboardShortcut &) const = default;
};

struct Animation {
  enum class Curve { linear, easeIn, easeOut, easeInOut };
  Curve curve = Curve::easeInOut;
  double duration = 0.35; // seconds
  bool repeatsForever = false;
  bool autoreverses = false;

  static Animation easeInOut(double seconds) { return {Curve::easeInOut, seconds}; }
  static Animation linear(double seconds) { return {Curve::linear, seconds}; }
  Animation repeatForever(bool reverses = true) const {
    Animation copy = *this;
    copy.repeatsForever = true;
    copy.autoreverses = reverses;
    return copy;
  }
  bool operator==(const Animation &) const = default;
};

struct Shadow {
  Color color = Color::black().opacity(0.33);
  double radius = 4;
  double x = 0;
  double y = 0;
};

// How a view enters and leaves (recorded for tests; the drawing shows the end state).
struct Transition {
  double scale = 1.0; // scale at insertion and removal
  bool fades = false;
  bool operator==(const Transition &) const = default;
};

class View;
struct Node;

// A view with state of its own: the hosting view keeps one instance per place in the tree
// (its identity) for as long as the place exists in consecutive renders, and builds its body
// as part of the tree. State that should re-render on change is held in Observables.
class Component {
public:
  virtual ~Component() = default;
  virtual View body() = 0;
};

// A button style built from the button's label; a custom style gets the label and returns
// the view drawn in its place (which may hold state of its own through a Component).
using ButtonStyleBody = std::function<View(const View &label)>;

struct ButtonStyle {
  ButtonStyleKind kind = ButtonStyleKind::automatic;
  ButtonStyleBody body;

  static ButtonStyle bordered() { return {ButtonStyleKind::bordered, {}}; }
  static ButtonStyle borderedProminent() { return {ButtonStyleKind::borderedProminent, {}}; }
  static ButtonStyle borderless() { return {ButtonStyleKind::borderless, {}}; }
  static ButtonStyle plain() { return {ButtonStyleKind::plain, {}}; }
  static ButtonStyle custom(ButtonStyleBody body) { return {ButtonStyleKind::custom, body}; }
};

struct ChangeHandler {
  std::string value; // the watched value, rendered as text; a change runs `action`
  std::function<void()> action;
};

struct KeyPressHandler {
  Key key;
  std::function<bool()> action; // true when handled
};

// What each kind of view holds beyond the attributes every view has. A node's `content`
// holds the alternative of its kind (none for empty views and z-stacks).

struct StackContent {
  std::optional<double> spacing;                                // absent: the theme's stack spacing
  HorizontalAlignment hAlignment = HorizontalAlignment::center; // vertical stacks
  VerticalAlignment vAlignment = VerticalAlignment::center;     // horizontal stacks
};

// Texts and links.
struct TextContent {
  std::vector<TextRun> runs;
  TextAlignment alignment = TextAlignment::leading;
  std::string url; // links only
};

// Symbols and images.
struct SymbolContent {
  std::string name;
  bool resizable = false;
};

struct ButtonContent {
  std::vector<View> label; // exactly one view (a vector: View is not complete here)
  std::function<void()> action;
  bool styledLabel = false; // the label is already its custom style's body
};

struct PickerContent {
  std::vector<TextRun> title;
  std::vector<std::string> options;
  std::function<int()> selectedIndex;
  std::function<void(int)> select;
  bool labelHidden = false;

  // The option on show: the selected one, empty when the selection is out of range.
  std::string shownOption() const;
};

struct TextEditorContent {
  Binding<std::string> text;
};

// A value from 0 to 1 draws a linear bar; no value draws a spinner unless `linear` asks for
// an indeterminate bar.
struct ProgressContent {
  std::optional<double> value;
  bool linear = false;
};

struct SpacerContent {
  std::optional<double> minLength;
};

struct ShapeContent {
  ShapeKind shape = ShapeKind::rectangle;
  double cornerRadius = 0;
  std::optional<Color> fill;
  std::optional<Color> stroke;
  double lineWidth = 1;
};

struct PaddingContent {
  EdgeInsets insets;
};

struct FrameContent {
  std::optional<double> width, height;
  std::optional<double> minWidth, maxWidth, minHeight, maxHeight;
  Alignment alignment;
};

// Background and overlay views sized to the child.
struct DecorationContent {
  std::vector<View> backgrounds;
  std::vector<View> overlays;
};

// The type names the instance's kind in its identity; `update` hands the instance its inputs
// on every render. After resolution the node's `children` hold the body.
struct ComponentContent {
  std::string type;
  std::function<std::shared_ptr<Component>()> make;
  std::function<void(Component &)> update;
};

using NodeContent =
    std::variant<std::monostate, StackContent, TextContent, SymbolContent, ButtonContent,
                 PickerContent, TextEditorContent, ProgressContent, SpacerContent, ShapeContent,
                 PaddingContent, FrameContent, DecorationContent, ComponentContent>;

// One node of a view tree. Plain data: builders and modifiers fill it in.
struct Node {
  NodeKind kind = NodeKind::empty;
  std::vector<View> children; // stacks: the items; wrappers and components: exactly one
  NodeContent content;

  // Attributes of this view; the inherited ones (font to button style) apply to its subtree.
  std::optional<Font> font;
  std::optional<Color> foreground;
  std::optional<Color> tint;
  std::optional<ControlSize> controlSize;
  std::optional<ButtonStyle> buttonStyle;
  double opacity = 1.0;
  double scale = 1.0;
  bool hidden = false;
  bool disabled = false;
  std::optional<Shadow> shadow; // drawn by shapes
  std::optional<Animation> animation;
  std::string animationValue;
  std::optional<Transition> transition;
  std::optional<KeyboardShortcut> shortcut;
  std::string id;

  // Handlers.
  std::function<void()> onAppear;
  std::function<void()> onDisappear;
  std::function<void(bool)> onHover;
  std::vector<ChangeHandler> onChange;
  std::vector<KeyPressHandler> onKeyPress;

  // The content of this node's kind; asking for another kind's content is a programming error.
  template <class T> const T &as() const { return std::get<T>(content); }
  template <class T> T &as() { return std::get<T>(content); }
};

// The structural identity of `node` at `slot` under the place `parent` ("" for the root):
// the path of positions and kinds from the root ("/0:VStack/1:Text"), with component types
// and explicit ids. Stable across renders for the same place.
std::string identityOf(const std::string &parent, const std::string &slot, const Node &node);

// A view: a shared, immutable-once-built node. Modifiers return a new View.
class View {
public:
  View();
  explicit View(std::shared_ptr<Node> node) : node_(std::move(node)) {}

  const Node &node() const { return *node_; }
  NodeKind kind() const { return node_->kind; }

  // Layout wrappers.
  View padding(double amount = 16) const { return padding(kAllEdges, amount); }
  View padding(unsigned edges, double amount) const;
  View padding(EdgeInsets insets) const;
  View frame(std::optional<double> width, std::optional<double> height,
             Alignment alignment = {}) const;
  View frame(std::optional<double> minWidth, std::optional<double> maxWidth,
             std::optional<double> minHeight, std::optional<double> maxHeight,
             Alignment alignment = {}) const;
  View background(const View &view) const;
  View overlay(const View &view) const;

  // Attributes.
  View font(const Font &font) const;
  View foregroundStyle(const Color &color) const;
  View tint(const Color &color) const;
  View controlSize(ControlSize size) const;
  View buttonStyle(const ButtonStyle &style) const;
  View opacity(double value) const;
  View scaleEffect(double value) const;
  View hidden(bool isHidden = true) const;
  View disabled(bool isDisabled = true) const;
  View shadow(const Shadow &shadow) const;
  View animation(const Animation &animation, std::string value) const;
  View transition(const Transition &transition) const;
  View keyboardShortcut(Key key, unsigned modifiers = kCommand) const;
  View multilineTextAlignment(TextAlignment alignment) const;
  View id(std::string identifier) const;
  View labelsHidden() const;

  // Shapes.
  View fill(const Color &color) const;
  View stroke(const Color &color, double lineWidth = 1) const;

  // Handlers.
  View onAppear(std::function<void()> action) const;
  View onDisappear(std::function<void()> action) const;
  View onHover(std::function<void(bool)> action) const;
  View onChange(std::string value, std::function<void()> action) const;
  View onKeyPress(Key key, std::function<bool()> action) const;

private:
  View modified(const std::function<void(Node &)> &change) const;
  // Changes the content when it is a `T` (the modifier means nothing for other kinds).
  template <class T> View modifiedContent(const std::function<void(T &)> &change) const;
  View wrapped(NodeKind kind, const std::function<void(Node &)> &setUp) const;

  std::shared_ptr<Node> node_;
};

// Builders.
View VStack(std::vector<View> children, std::optional<double> spacing = std::nullopt,
            HorizontalAlignment alignment = HorizontalAlignment::center);
View HStack(std::vector<View> children, std::optional<double> spacing = std::nullopt,
            VerticalAlignment alignment = VerticalAlignment::center);
View ZStack(std::vector<View> children);
View Text(std::string text);
// Text of several runs, some in bold.
View Text(std::vector<TextRun> runs);
// A named symbol from the icon set (Symbols).
View Symbol(std::string name);
// The application's icon, drawn resizable.
View AppIcon();
View Button(std::string title, std::function<void()> action);
View Button(View label, std::function<void()> action);
// A standard label: symbol then title.
View Label(std::string title, std::string symbolName);
View Link(std::string title, std::string url);
// A menu-style picker over `options`, showing the selected one.
View Picker(std::string title, std::vector<std::string> options, std::function<int()> selected,
            std::function<void(int)> select);
View TextEditor(Binding<std::string> text);
View ProgressView();             // indeterminate spinner
View ProgressView(double value); // linear bar, value 0..1
View LinearProgressView();       // indeterminate bar
View Spacer(std::optional<double> minLength = std::nullopt);
View Divider();
View Rectangle();
View RoundedRectangle(double cornerRadius);
View Capsule();
View Circle();
View EmptyView();
// A stateful view: `make` creates the instance the first time its place is rendered; `update`
// (optional) passes the current inputs to it on every render.
View ComponentView(std::string type, std::function<std::shared_ptr<Component>()> make,
                   std::function<void(Component &)> update = {});

} // namespace platform::ui
