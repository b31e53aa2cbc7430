#pragma once

#include "app/services/HotkeyKey.hpp"
#include "app/support/AppLog.hpp"
#include "platform/input/EventTap.hpp"
#include "platform/system/Executor.hpp"

#include <functional>
#include <memory>
#include <stdexcept>

namespace murmurquill {

// Watches the keyboard of the whole login session through a listen-only event tap and turns
// key events into three callbacks: the push-to-talk key going down and coming up, and the
// refine chord Control-Command-R. It alters no event, but keeps two from acting elsewhere: the
// refine chord is reserved for this process (when no other program holds it), and a lone press
// of the push-to-talk modifier is masked, so the focused program does not take it as its own
// shortcut (Alt alone opens menu bars).
//
// Used on the main thread only. Callbacks are posted to the main executor (never called
// inside the tap callback) and hold the monitor weakly, so a monitor destroyed meanwhile drops
// them. Made only through make(), as the posted work refers to it weakly.
class HotkeyMonitor final : public std::enable_shared_from_this<HotkeyMonitor> {
public:
  class HotkeyError : public std::runtime_error {
  public:
    enum class Kind { eventTapCreationFailed };
    explicit HotkeyError(Kind kind);
    Kind kind() const { return kind_; }

  private:
    Kind kind_;
  };

  using Callback = std::function<void()>;

  // The key-code of R and the flags the refine chord needs (Control and Command).
  static constexpr std::int64_t kRefineKeyCode = 15;
  static constexpr std::uint64_t kRefineFlags = 0x140000;

  static std::shared_ptr<HotkeyMonitor> make(std::shared_ptr<platform::EventTapService> taps,
                                             std::shared_ptr<platform::Executor> main, LogSink log);
  ~HotkeyMonitor();
  HotkeyMonitor(const HotkeyMonitor &) = delete;
  HotkeyMonitor &operator=(const HotkeyMonitor &) = delete;

  // Read when the posted work runs, so they may be set or changed at any time.
  Callback onKeyDown;
  Callback onKeyUp;
  Callback onRefineHotkey;

  // Installs and enables the tap; does nothing while running. Throws HotkeyError when the
  // platform refuses the tap (nothing is kept).
  void start();
  // Removes the tap and forgets the held state; harmless when stopped.
  void stop();
  // A tap is installed (the owner takes this as the sign of the input-watching permission).
  bool isRunning() const { return static_cast<bool>(eventTap_); }

  // Whether the push-to-talk key is taken to be held.
  bool isKeyDown() const { return isKeyDown_; }
  HotkeyKey key() const { return key_; }
  // Takes effect for the next events; the owner restarts the monitor on a change.
  void setKey(HotkeyKey key);

private:
  HotkeyMonitor(std::shared_ptr<platform::EventTapService> taps,
                std::shared_ptr<platform::Executor> main, LogSink log);

  void handle(const platform::KeyEvent &event);
  void handleFlagsChanged(const platform::KeyEvent &event);
  void handleKeyDown(const platform::KeyEvent &event);
  void handleTapDisabled();
  // The key the tap masks: the push-to-talk key when it is a modifier.
  std::int64_t maskedKeyCode() const;
  // Posts a call of the callback selected by `which` to the main executor.
  void deliver(Callback HotkeyMonitor::*which);

  std::shared_ptr<platform::EventTapService> taps_;
  std::shared_ptr<platform::Executor> main_;
  LogSink log_;
  std::unique_ptr<platform::EventTap> eventTap_;
  bool isKeyDown_ = false;
  HotkeyKey key_ = HotkeyKey::rightOption;
};

} // namespace murmurquill
