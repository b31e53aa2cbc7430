#pragma once

#include "platform/input/KeystrokePoster.hpp"
#include "platform/x11/X11Connection.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// How the X11 poster connects and pastes.
struct X11KeystrokePosterOptions {
  // The display to post to (default: $DISPLAY).
  X11ConnectionOptions connection = {};
  // WM_CLASS names (instance or class, compared ignoring case) of terminals: they paste with
  // Control+Shift+V, since Control+V reaches the program running in them.
  std::vector<std::string> terminalClasses = {"xterm",
                                              "uxterm",
                                              "gnome-terminal",
                                              "gnome-terminal-server",
                                              "konsole",
                                              "xfce4-terminal",
                                              "mate-terminal",
                                              "lxterminal",
                                              "qterminal",
                                              "terminator",
                                              "tilix",
                                              "alacritty",
                                              "kitty",
                                              "urxvt",
                                              "rxvt",
                                              "st",
                                              "st-256color",
                                              "sakura",
                                              "terminology",
                                              "wezterm",
                                              "org.wezfurlong.wezterm",
                                              "foot",
                                              "guake",
                                              "tilda",
                                              "deepin-terminal",
                                              "kgx",
                                              "ptyxis",
                                              "cool-retro-term"};
};

// Synthetic keystrokes on an X11 desktop through the XTest extension; they reach the window
// that has the keyboard focus as if typed.
//
// Keystrokes use the app's virtual key codes and flags. Linux shortcuts take Control where the
// app's platform takes Command, so Command is pressed as Control; Control, Shift and Option
// (Alt) are pressed as themselves. The paste chord (V with Command) becomes Control+Shift+V when
// the focused window's WM_CLASS names a terminal. A key-down presses the modifiers of its flags
// and then the key; the key-up of the same key releases the key and then those modifiers.
// Modifiers the user holds physically stay held (X has no per-event modifier state): releasing
// them by XTest would look to the key tap like the user letting go of the push-to-talk key.
//
// Used on one thread (the main executor's); opening happens at construction and failure shows
// as canPostEvents() false.
class X11KeystrokePoster final : public KeystrokePoster {
public:
  explicit X11KeystrokePoster(X11KeystrokePosterOptions options = {});
  ~X11KeystrokePoster() override;
  X11KeystrokePoster(const X11KeystrokePoster &) = delete;
  X11KeystrokePoster &operator=(const X11KeystrokePoster &) = delete;

  // True when the display is open and has the XTest extension.
  bool canPostEvents() const override;
  // False for a key code with no key on this keyboard, or when posting is impossible.
  bool post(const Keystroke &keystroke, EventTapLocation location) override;

  // Types `text` (UTF-8) into the focused window, any character included: characters without a
  // key on the current layout are typed on spare key codes (those without keysyms), mapped to
  // them two per key code (the second with Shift). The mappings stay while the poster lives,
  // since clients look a key up from the server's map when they handle the event, which may be
  // after this returns; they are reused for the same characters, reassigned least recently used
  // first, and undone by the destructor. False, with nothing typed, for invalid UTF-8, when
  // posting is impossible, or when the text holds more distinct such characters than the spare
  // key codes can hold at once (twice their number). Blocks for a few round trips.
  bool typeText(std::string_view utf8);

  // The WM_CLASS instance and class of the window with the keyboard focus (or of its nearest
  // ancestor that has one; else of the window manager's active window); empty when none.
  std::pair<std::string, std::string> focusedWindowClass();
  // Whether the focused window is a terminal by its class.
  bool focusedWindowIsTerminal();

private:
  bool pressKey(unsigned keycode, bool down);
  void drainEvents();

  X11KeystrokePosterOptions options_;
  std::shared_ptr<X11Connection> connection_;
  bool hasXTest_ = false;
  // One of the two keysyms of a spare key code.
  struct Slot {
    unsigned keycode = 0;
    bool shifted = false;     // the second keysym, typed with Shift
    unsigned long keysym = 0; // mapped by this poster; 0 when free
  };
  std::vector<Slot> slots_;
  bool sparesFound_ = false;
  // Modifier key codes pressed with a key's down, released with its up.
  std::map<unsigned, std::vector<unsigned>> pressedModifiers_;
};

} // namespace platform
