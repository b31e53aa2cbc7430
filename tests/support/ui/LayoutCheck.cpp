#include "tests/support/ui/LayoutCheck.hpp"

#include "platform/ui/TextLayout.hpp"
#include "platform/ui/Window.hpp"

#include <sstream>

namespace mqtest {

namespace ui = platform::ui;

namespace {

// Layout rounds text sizes up to whole points; a hair of slack keeps rounding out of it.
constexpr double kSlack = 0.5;

std::string describe(const ui::Rect &r) {
  std::ostringstream out;
  out << "(" << r.minX() << ", " << r.minY() << ", " << r.width() << " x " << r.height() << ")";
  return out.str();
}

void check(const ui::LayoutNode &node, ui::Size bounds, std::vector<std::string> &problems) {
  if (node.hidden || node.opacity <= 0 || node.node->scale <= 0) {
    return;
  }
  const ui::Rect &f = node.frame;
  const bool drawn = f.width() > 0 && f.height() > 0;
  if (drawn && (f.minX() < -kSlack || f.minY() < -kSlack || f.maxX() > bounds.width + kSlack ||
                f.maxY() > bounds.height + kSlack)) {
    problems.push_back(node.identity + " at " + describe(f) + " lies outside the window's " +
                       std::to_string(bounds.width) + " x " + std::to_string(bounds.height));
  }
  if (node.node->kind == ui::NodeKind::text || node.node->kind == ui::NodeKind::link) {
    const auto &text = node.node->as<ui::TextContent>();
    const ui::Size needed =
        ui::measureText(text.runs, node.environment.font, f.width(), text.alignment);
    if (needed.height > f.height() + kSlack || needed.width > f.width() + kSlack) {
      problems.push_back(node.identity + " \"" + ui::plainText(text.runs) + "\" needs " +
                         describe(ui::Rect{f.origin, needed}) + " but has " + describe(f));
    }
  }
  for (const ui::LayoutNode &child : node.children) {
    check(child, bounds, problems);
  }
}

} // namespace

std::vector<std::string> layoutProblems(const ui::LayoutNode &root, ui::Size bounds) {
  std::vector<std::string> problems;
  check(root, bounds, problems);
  return problems;
}

std::vector<std::string> layoutProblems(ui::Window &window) {
  ui::HostingView *content = window.contentView();
  if (content == nullptr) {
    return {};
  }
  return layoutProblems(content->layout(), window.contentRect().size);
}

} // namespace mqtest
