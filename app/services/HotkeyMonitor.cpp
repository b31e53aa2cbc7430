#include "app/services/HotkeyMonitor.hpp"

namespace murmurquill {
namespace {

const char *hotkeyErrorText(HotkeyMonitor::HotkeyError::Kind) {
  return "Could not create global hotkey listener. Grant Input Monitoring permission in System "
         "Settings \xE2\x86\x92 Privacy & Security \xE2\x86\x92 Input Monitoring, then quit and "
         "relaunch Murmurquill.";
}

} // namespace

HotkeyMonitor::HotkeyError::HotkeyError(Kind kind)
    : std::runtime_error(hotkeyErrorText(kind)), kind_(kind) {}

std::shared_ptr<HotkeyMonitor> HotkeyMonitor::make(std::shared_ptr<platform::EventTapService> taps,
                                                   std::shared_ptr<platform::Executor> main,
                                                   LogSink log) {
  return std::shared_ptr<HotkeyMonitor>(
      new HotkeyMonitor(std::move(taps), std::move(main), std::move(log)));
}

HotkeyMonitor::HotkeyMonitor(std::shared_ptr<platform::EventTapService> taps,
                             std::shared_ptr<platform::Executor> main, LogSink log)
    : taps_(std::move(taps)), main_(std::move(main)), log_(std::move(log)) {}

HotkeyMonitor::~HotkeyMonitor() { stop(); }

void HotkeyMonitor::start() {
  if (eventTap_) {
    return;
  }
  platform::EventTapOptions options;
  options.eventMask = platform::eventMaskBit(platform::EventType::keyDown) |
                      platform::eventMaskBit(platform::EventType::flagsChanged);
  options.listenOnly = true;
  options.headInsert = true;
  // The tap lives no longer than the monitor (stop() and the destructor remove it), so the
  // callback may refer to the monitor directly.
  auto tap = taps_->createTap(options, [this](const platform::KeyEvent &event) { handle(event); });
  if (!tap) {
    throw HotkeyError(HotkeyError::Kind::eventTapCreationFailed);
  }
  tap->setEnabled(true);
  tap->setMaskedModifier(maskedKeyCode());
  if (!tap->reserveChord(kRefineKeyCode, kRefineFlags) && log_) {
    log_("[HotkeyMonitor] Another program holds the refine chord \xE2\x80\x94 it reaches that "
         "program too");
  }
  eventTap_ = std::move(tap);
}

void HotkeyMonitor::setKey(HotkeyKey key) {
  key_ = key;
  if (eventTap_) {
    eventTap_->setMaskedModifier(maskedKeyCode());
  }
}

std::int64_t HotkeyMonitor::maskedKeyCode() const {
  return modifierFlag(key_) != 0 ? keyCode(key_) : -1;
}

void HotkeyMonitor::stop() {
  if (eventTap_) {
    eventTap_->setEnabled(false);
  }
  eventTap_.reset();
  isKeyDown_ = false;
}

void HotkeyMonitor::handle(const platform::KeyEvent &event) {
  switch (event.type) {
  case platform::EventType::flagsChanged:
    handleFlagsChanged(event);
    break;
  case platform::EventType::keyDown:
    handleKeyDown(event);
    break;
  case platform::EventType::tapDisabledByTimeout:
  case platform::EventType::tapDisabledByUserInput:
    handleTapDisabled();
    break;
  default:
    break;
  }
}

void HotkeyMonitor::handleFlagsChanged(const platform::KeyEvent &event) {
  if (event.keyCode != keyCode(key_)) {
    return;
  }
  // The state follows this key's own flag, so a key held when the monitor started, or an
  // event missed while the tap was off, cannot leave presses and releases swapped. Events that
  // do not change the state (the twin key on the other side) deliver nothing.
  const bool down = (event.flags & modifierFlag(key_)) != 0;
  if (down == isKeyDown_) {
    return;
  }
  isKeyDown_ = down;
  deliver(down ? &HotkeyMonitor::onKeyDown : &HotkeyMonitor::onKeyUp);
}

void HotkeyMonitor::handleKeyDown(const platform::KeyEvent &event) {
  if (event.keyCode != kRefineKeyCode || (event.flags & kRefineFlags) != kRefineFlags) {
    return;
  }
  deliver(&HotkeyMonitor::onRefineHotkey);
}

void HotkeyMonitor::handleTapDisabled() {
  if (!eventTap_) {
    return;
  }
  // Events were lost while the tap was off, the key's release among them perhaps: the take in
  // progress ends here, and the next event of the key tells its real state.
  eventTap_->setEnabled(true);
  if (log_) {
    log_("[HotkeyMonitor] Event tap was disabled by the system \xE2\x80\x94 re-enabled");
  }
  if (isKeyDown_) {
    isKeyDown_ = false;
    deliver(&HotkeyMonitor::onKeyUp);
  }
}

void HotkeyMonitor::deliver(Callback HotkeyMonitor::*which) {
  main_->post([weak = weak_from_this(), which] {
    const auto monitor = weak.lock();
    if (!monitor) {
      return;
    }
    const Callback callback = (*monitor).*which;
    if (callback) {
      callback();
    }
  });
}

} // namespace murmurquill
