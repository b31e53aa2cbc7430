#pragma once

#include "platform/input/EventTap.hpp"
#include "platform/system/Executor.hpp"
#include "platform/x11/X11Connection.hpp"

#include <memory>

namespace platform {

// How the X11 taps connect.
struct X11EventTapServiceOptions {
  // The display to watch (default: $DISPLAY).
  X11ConnectionOptions connection = {};
};

// Global keyboard taps on an X11 desktop: the raw key events of XInput 2 on the root window,
// which every key of the session produces whichever window has the focus, without grabbing a
// key (other applications keep receiving all of them). Taps are always listen-only.
//
// Events become KeyEvents with the app's virtual key codes: a modifier key (Shift, Control,
// Alt as Option, Super as Command, each with its side; AltGr as Right Option) gives
// flagsChanged with the flags held after the change, any other key keyDown and keyUp with the
// modifiers held; keys without a virtual code are not delivered.
//
// The connection opens with the first tap; createTap returns nullptr when the display cannot be
// opened or has no XInput 2. When the connection to the server breaks, every enabled tap is
// switched off and receives tapDisabledByTimeout; enabling a tap again reconnects (it stays off
// while the server cannot be reached).
//
// Created, used and destroyed on the main executor's thread; callbacks are posted to it.
class X11EventTapService final : public EventTapService {
public:
  X11EventTapService(std::shared_ptr<Executor> main, X11EventTapServiceOptions options = {});
  ~X11EventTapService() override;
  X11EventTapService(const X11EventTapService &) = delete;
  X11EventTapService &operator=(const X11EventTapService &) = delete;

  std::unique_ptr<EventTap> createTap(const EventTapOptions &options, Callback callback) override;

  // The connection in use; nullptr before the first tap or while the server is unreachable.
  std::shared_ptr<X11Connection> connection() const;

private:
  struct Shared;
  class Tap;
  std::shared_ptr<Shared> shared_;
};

} // namespace platform
