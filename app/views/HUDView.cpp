#include "app/views/HUDView.hpp"

namespace murmurquill {

namespace ui = platform::ui;

namespace {

std::string modeKey(const HUDMode &mode) {
  return std::to_string(static_cast<int>(mode.kind)) + ":" + mode.hotkey;
}

ui::View symbolIcon(const char *name, const ui::Color &colour) {
  return ui::Symbol(name)
      .font(ui::Font::system(11, ui::FontWeight::semibold))
      .foregroundStyle(colour);
}

} // namespace

std::string hudMessage(const HUDMode &mode) {
  using Kind = HUDMode::Kind;
  switch (mode.kind) {
  case Kind::ready:
    return "Ready \u2014 hold " + mode.hotkey + " to dictate";
  case Kind::hidden:
    return "";
  case Kind::recording:
    return "Recording\u2026";
  case Kind::transcribing:
    return "Transcribing\u2026";
  case Kind::notReady:
    return "Getting ready \u2014 try again in a moment";
  case Kind::micDenied:
    return "Microphone access needed \u2014 see Permissions & Setup";
  case Kind::injectionDenied:
    return "Can't type at your cursor \u2014 see Permissions & Setup";
  }
  return "";
}

ui::View HUDView::icon(const HUDMode &mode) {
  using Kind = HUDMode::Kind;
  switch (mode.kind) {
  case Kind::ready:
    return symbolIcon("checkmark.circle.fill", ui::Color::green());
  case Kind::hidden:
    return ui::Rectangle().fill(ui::Color::clear());
  case Kind::recording: {
    const bool pulsing = pulsing_.get();
    // The dot pulses while on screen; leaving the screen resets it, so every recording
    // starts its pulse from full opacity.
    return ui::Circle()
        .fill(ui::Color::red())
        .opacity(pulsing ? 0.45 : 1.0)
        .animation(ui::Animation::easeInOut(0.7).repeatForever(/*reverses=*/true),
                   pulsing ? "pulsing" : "still")
        .id("recordingDot")
        .onAppear([this] { pulsing_.set(true); })
        .onDisappear([this] { pulsing_.set(false); });
  }
  case Kind::transcribing:
    return ui::ProgressView()
        .controlSize(ui::ControlSize::small)
        .tint(ui::Color::white())
        .foregroundStyle(ui::Color::white());
  case Kind::notReady:
    return symbolIcon("hourglass", ui::Color::white().opacity(0.9));
  case Kind::micDenied:
    return symbolIcon("mic.slash.fill", ui::Color::orange());
  case Kind::injectionDenied:
    return symbolIcon("exclamationmark.triangle.fill", ui::Color::orange());
  }
  return ui::EmptyView();
}

ui::View HUDView::body() {
  const HUDMode mode = model_->mode();
  const bool hidden = mode == HUDMode::hidden();
  const ui::View capsule =
      ui::Capsule()
          .fill(ui::Color::black().opacity(0.72))
          .shadow(ui::Shadow{ui::Color::black().opacity(0.25), 14, 0, 6})
          .overlay(ui::Capsule().stroke(ui::Color::white().opacity(0.08), 0.5));
  // The content of each mode is a view of its own, so a change of mode brings the new icon
  // and text in with a fade under the pill's animation.
  return ui::HStack({icon(mode).frame(14.0, 14.0),
                     ui::Text(hudMessage(mode))
                         .font(ui::Font::system(13, ui::FontWeight::medium).monospacedDigit())
                         .foregroundStyle(ui::Color::white())},
                    10, ui::VerticalAlignment::center)
      .id("content-" + modeKey(mode))
      // Hidden shows nothing that could fade in: the pill fades out as a whole.
      .transition(ui::Transition{1.0, /*fades=*/!hidden})
      .padding(ui::kHorizontal, 16)
      .padding(ui::kVertical, 10)
      .background(capsule)
      .opacity(hidden ? 0.0 : 1.0)
      .animation(ui::Animation::easeInOut(0.18), modeKey(mode))
      .frame(std::nullopt, ui::kInfinity, std::nullopt, ui::kInfinity, ui::Alignment::center());
}

} // namespace murmurquill
