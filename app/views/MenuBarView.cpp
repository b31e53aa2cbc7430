#include "app/views/MenuBarView.hpp"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace murmurquill {

namespace ui = platform::ui;

namespace {

constexpr int kMaxLoginCorrections = 2;

ui::View checkmark() {
  return ui::Symbol("checkmark").font(ui::Font::callout().withWeight(ui::FontWeight::semibold));
}

ui::ButtonStyle menuItemStyle() {
  return ui::ButtonStyle::custom([](const ui::View &label) {
    return ui::ComponentView(
        "MenuItemBody", [] { return std::make_shared<MenuItemBody>(); },
        [label](ui::Component &body) { static_cast<MenuItemBody &>(body).label = label; });
  });
}

} // namespace

ui::View MenuItemBody::body() {
  const bool hovered = isHovered.get();
  return label.padding(ui::kHorizontal, 8)
      .padding(ui::kVertical, 5)
      .frame(std::nullopt, ui::kInfinity, std::nullopt, std::nullopt, ui::Alignment::leading())
      .background(ui::RoundedRectangle(5).fill(hovered ? ui::Color::accent() : ui::Color::clear()))
      .foregroundStyle(hovered ? ui::Color::white() : ui::Color::primary())
      .animation(ui::Animation::easeInOut(0.08), hovered ? "hovered" : "idle")
      .onHover([this](bool inside) { isHovered.set(inside); });
}

MenuBarView::MenuBarView(Model model, OpenWindow openWindow)
    : model_(model), openWindow_(std::move(openWindow)),
      launchAtLogin_(model.loginItem.loginItemStatus() == platform::LoginItemStatus::enabled) {}

MenuBarView::Status MenuBarView::status(const Model &model) {
  if (model.modelLoad.isModelLoadFailed()) {
    return {"Download failed", ui::Color::red()};
  }
  if (!model.modelLoad.isModelReady()) {
    return {"Loading model\u2026", ui::Color::orange()};
  }
  if (model.permissions.setupNeeded()) {
    return {"Setup needed", ui::Color::orange()};
  }
  if (model.dictation.isRecording()) {
    return {"Recording", ui::Color::red()};
  }
  if (model.dictation.isTranscribing()) {
    return {"Transcribing", ui::Color::blue()};
  }
  return {"Ready", ui::Color::green()};
}

ui::View MenuBarView::item(ui::View label, std::function<void()> action) {
  return ui::Button(std::move(label), std::move(action)).buttonStyle(menuItemStyle());
}

void MenuBarView::loginItemChanged() {
  if (std::exchange(followingEntry_, false)) {
    return;
  }
  if (launchAtLogin_.peek()) {
    model_.loginItem.registerLoginItem();
  } else {
    model_.loginItem.unregisterLoginItem();
  }
  const bool enabled = model_.loginItem.loginItemStatus() == platform::LoginItemStatus::enabled;
  entryLeftByRow_ = enabled;
  if (enabled != launchAtLogin_.peek()) {
    if (loginCorrections_ >= kMaxLoginCorrections) {
      return;
    }
    ++loginCorrections_;
  }
  launchAtLogin_.set(enabled);
}

void MenuBarView::loginEntryChanged() {
  const bool enabled = model_.loginItem.loginItemStatus() == platform::LoginItemStatus::enabled;
  // The row's own requests are followed by its own sequence, bounded by its corrections.
  if (std::exchange(entryLeftByRow_, std::nullopt) == enabled || launchAtLogin_.peek() == enabled) {
    return;
  }
  // Only shown: the entry already is what the row now says, so nothing is asked of it.
  followingEntry_ = true;
  launchAtLogin_.set(enabled);
}

ui::View MenuBarView::body() {
  const bool needed = model_.permissions.setupNeeded();
  const bool entryEnabled =
      model_.loginItem.loginItemStatus() == platform::LoginItemStatus::enabled;
  std::vector<ui::View> column{titleRow(), statusRow()};
  if (needed) {
    column.push_back(permissionsBlock());
    column.push_back(ui::Divider());
  }
  column.push_back(hotkeyBlock().opacity(needed ? 0.5 : 1.0));
  column.push_back(ui::Divider());
  column.push_back(itemList());
  return ui::VStack(std::move(column), 14, ui::HorizontalAlignment::leading)
      .padding(16)
      .frame(kWidth, std::nullopt)
      .onAppear([this] {
        launchAtLogin_.set(model_.loginItem.loginItemStatus() ==
                           platform::LoginItemStatus::enabled);
      })
      // Written or removed elsewhere (the setup window registers it) while the menu shows: the
      // row follows, since a menu that stays open never appears again.
      .onChange(entryEnabled ? "on" : "off", [this] { loginEntryChanged(); });
}

ui::View MenuBarView::titleRow() {
  return ui::HStack({ui::Symbol("waveform").foregroundStyle(ui::Color::tint()),
                     ui::Text("Murmurquill").font(ui::Font::headline()), ui::Spacer()});
}

ui::View MenuBarView::statusRow() {
  const Status line = status(model_);
  const bool recording = model_.dictation.isRecording();
  const ui::View dot =
      ui::Circle()
          .fill(line.colour)
          .frame(8.0, 8.0)
          .overlay(ui::Circle()
                       .fill(line.colour.opacity(0.4))
                       .frame(14.0, 14.0)
                       .scaleEffect(recording ? 1.0 : 0.0)
                       .animation(ui::Animation::easeInOut(0.7).repeatForever(true),
                                  recording ? "recording" : "idle")
                       .id("pulseRing"));
  return ui::HStack({dot, ui::Text(line.text).font(ui::Font::callout()), ui::Spacer()}, 8,
                    ui::VerticalAlignment::center);
}

ui::View MenuBarView::permissionsBlock() {
  const OpenWindow open = openWindow_;
  std::vector<ui::View> block{
      ui::HStack({ui::Symbol("exclamationmark.triangle.fill").foregroundStyle(ui::Color::orange()),
                  ui::Text("Permissions needed")
                      .font(ui::Font::caption().withWeight(ui::FontWeight::semibold))},
                 6, ui::VerticalAlignment::center)};
  const auto row = [](const char *name) {
    return ui::HStack(
        {ui::Text("\u2022").foregroundStyle(ui::Color::secondary()),
         ui::Text(name).font(ui::Font::caption()).foregroundStyle(ui::Color::secondary())},
        4, ui::VerticalAlignment::center);
  };
  if (!model_.permissions.inputMonitoringGranted()) {
    block.push_back(row("Input Monitoring (hotkey)"));
  }
  if (model_.permissions.micStatus() != platform::AuthorizationStatus::authorized) {
    block.push_back(row("Microphone access"));
  }
  if (!model_.permissions.accessibilityGranted()) {
    block.push_back(row("Accessibility access"));
  }
  block.push_back(ui::Button(ui::Text("Open setup guide \u2192").font(ui::Font::caption()),
                             [open] { open(Window::setup); })
                      .buttonStyle(ui::ButtonStyle::borderless())
                      .foregroundStyle(ui::Color::tint()));
  return ui::VStack(std::move(block), 6, ui::HorizontalAlignment::leading);
}

ui::View MenuBarView::hotkeyBlock() {
  const Model model = model_;
  std::vector<ui::View> caps;
  for (const std::string &cap : model_.hotkey.hotkeyKeyCaps()) {
    caps.push_back(ui::Text(cap)
                       .font(ui::Font::system(14, ui::FontWeight::medium))
                       .frame(22.0, std::nullopt, 22.0, std::nullopt)
                       .padding(ui::kHorizontal, 4)
                       .background(ui::RoundedRectangle(4).fill(ui::Color::quaternary()))
                       .id(cap));
  }
  const ui::View picker = ui::Picker(
                              "", model_.hotkey.offeredHotkeyLabels(),
                              [model] { return model.hotkey.selectedHotkeyIndex(); },
                              [model](int index) { model.hotkey.selectHotkey(index); })
                              .labelsHidden()
                              .font(ui::Font::caption());
  return ui::VStack(
      {ui::Text("Hold to dictate")
           .font(ui::Font::caption())
           .foregroundStyle(ui::Color::secondary()),
       ui::HStack({ui::HStack(std::move(caps), 3, ui::VerticalAlignment::center), picker}, 6,
                  ui::VerticalAlignment::center)},
      2, ui::HorizontalAlignment::leading);
}

ui::View MenuBarView::refineLabel() {
  std::vector<ui::View> label;
  if (model_.refine.languageModelAvailable()) {
    label.push_back(ui::Label("AI Refine  Ctrl+Super+R", "sparkles"));
    label.push_back(ui::Text("Experimental")
                        .font(ui::Font::caption2())
                        .foregroundStyle(ui::Color::secondary())
                        .padding(ui::kHorizontal, 5)
                        .padding(ui::kVertical, 2)
                        .background(ui::Capsule().fill(ui::Color::secondary().opacity(0.15))));
  } else {
    label.push_back(ui::Label("Refine  Ctrl+Super+R", "text.badge.checkmark"));
  }
  label.push_back(ui::Spacer());
  if (model_.refine.refineEnabled()) {
    label.push_back(checkmark());
  }
  return ui::HStack(std::move(label), 4, ui::VerticalAlignment::center);
}

ui::View MenuBarView::itemList() {
  const Model model = model_;
  const OpenWindow open = openWindow_;
  const bool atLogin = launchAtLogin_.get();
  std::vector<ui::View> loginLabel{ui::Label("Open at Login", "arrow.up.circle"), ui::Spacer()};
  if (atLogin) {
    loginLabel.push_back(checkmark());
  }
  ui::Observable<bool> *loginState = &launchAtLogin_;
  int *corrections = &loginCorrections_;
  return ui::VStack(
      {item(ui::Label("About Murmurquill", "info.circle"), [open] { open(Window::about); }),
       ui::Divider().padding(ui::kVertical, 5),
       item(ui::Label("Permissions & Setup", "lock.shield"), [open] { open(Window::setup); }),
       item(refineLabel(),
            [model] { model.refine.setRefineEnabled(!model.refine.refineEnabled()); }),
       item(ui::HStack(std::move(loginLabel)),
            [loginState, corrections] {
              *corrections = 0;
              loginState->set(!loginState->peek());
            })
           .onChange(atLogin ? "on" : "off", [this] { loginItemChanged(); }),
       ui::Divider().padding(ui::kVertical, 5),
       item(ui::Label("Check for Updates\u2026", "arrow.trianglehead.clockwise"),
            [model] { model.app.checkForUpdates(); }),
       item(ui::Label("Quit Murmurquill", "power"), [model] { model.app.quit(); })
           .keyboardShortcut(ui::Key::of('q'), ui::kCommand)},
      0, ui::HorizontalAlignment::leading);
}

} // namespace murmurquill
