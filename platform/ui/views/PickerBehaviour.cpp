#include "platform/ui/ViewBehaviour.hpp"

#include "platform/ui/Desktop.hpp"
#include "platform/ui/Symbols.hpp"
#include "platform/ui/TextLayout.hpp"

namespace platform::ui {

namespace {

bool showsTitle(const PickerContent &picker) {
  return !picker.labelHidden && !plainText(picker.title).empty();
}

// A menu-style picker: its title (unless hidden), then a box with the selected option and
// an up-down indicator.
class PickerBehaviour final : public ViewBehaviour {
public:
  const char *name() const override { return "Picker"; }

  Size measure(const Node &node, ProposedSize, const Environment &env, Axis) const override {
    const PickerContent &picker = node.as<PickerContent>();
    const Size text = measureText({TextRun{picker.shownOption(), false}}, env.font, std::nullopt);
    double width = text.width + Theme::pickerTextInset + Theme::pickerIndicatorWidth;
    if (showsTitle(picker)) {
      width += measureText(picker.title, env.font, std::nullopt).width + Theme::pickerTitleGap;
    }
    return {width, text.height + Theme::pickerVerticalPadding};
  }

  void paint(cairo_t *cr, const LayoutNode &placed, DrawReport *report) const override {
    const PickerContent &picker = placed.node->as<PickerContent>();
    const Environment &env = placed.environment;
    const RGBA ink = resolvedColour(env.foreground, env);
    Rect box = placed.frame;
    if (showsTitle(picker)) {
      const Size title = measureText(picker.title, env.font, std::nullopt);
      drawText(cr, picker.title, env.font, Rect{{box.minX(), box.midY() - title.height / 2}, title},
               TextAlignment::leading, ink);
      box.origin.x += title.width + Theme::pickerTitleGap;
      box.size.width -= title.width + Theme::pickerTitleGap;
    }
    shapePath(cr, ShapeKind::roundedRectangle, box, Theme::controlCornerRadius);
    setSource(cr, Theme::controlFill(env.appearance));
    cairo_fill_preserve(cr);
    setSource(cr, Theme::controlStroke(env.appearance));
    cairo_set_line_width(cr, Theme::hairline);
    cairo_stroke(cr);
    const std::vector<TextRun> shown{TextRun{picker.shownOption(), false}};
    const Size text = measureText(shown, env.font, std::nullopt);
    drawText(cr, shown, env.font,
             Rect{{box.minX() + Theme::pickerTextInset, box.midY() - text.height / 2}, text},
             TextAlignment::leading, ink);
    const double side = Theme::pickerIndicatorSide;
    const Rect indicator{{box.maxX() - side - 4, box.midY() - side / 2}, {side, side}};
    drawSymbol(cr, "chevron.up.chevron.down", indicator, ink);
    if (report) {
      report->texts.push_back(shown.front().text);
    }
  }

  Shown shown(const Node &node) const override {
    return Shown{node.as<PickerContent>().shownOption(), {}, {}};
  }

  bool takesClicks() const override { return true; }

  // Opens the menu of the options over the picker; choosing one selects it. Without a window
  // on a desktop there is nowhere to open it.
  void click(const LayoutNode &placed, Desktop *desktop,
             const std::optional<Rect> &onScreen) const override {
    const PickerContent &picker = placed.node->as<PickerContent>();
    if (!picker.select || picker.options.empty() || desktop == nullptr || !onScreen) {
      return;
    }
    PopUpMenu menu;
    menu.options = picker.options;
    menu.selected = picker.selectedIndex ? picker.selectedIndex() : -1;
    menu.choose = picker.select;
    menu.anchor = *onScreen;
    menu.font = placed.environment.font;
    desktop->showPopUpMenu(std::move(menu));
  }
};

} // namespace

const ViewBehaviour &pickerBehaviour() {
  static const PickerBehaviour behaviour;
  return behaviour;
}

} // namespace platform::ui
