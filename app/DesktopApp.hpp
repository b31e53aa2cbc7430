#pragma once

#include "app/views/MenuBarView.hpp"

#include "platform/audio/MicrophoneEngine.hpp"
#include "platform/ui/Window.hpp"
#include "platform/ui/dbus/StatusNotifierItem.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace murmurquill {

// The app on an X11 desktop session: the controller on the real services (the X11 key
// monitor, keystrokes, clipboard and active window; AT-SPI for the focused field where it
// exists; the PortAudio microphone; the speech engine; no on-device language model), its
// windows, panels and HUD on the X11 desktop, and the menu as a status icon in the panel
// (StatusNotifierItem), or, without a status area, as a small normal window shown at start.
// Everything runs on one main executor, with the display's and the session bus's input pumped
// onto it; the calling thread waits until Quit.
class DesktopApp {
public:
  struct Options {
    // The X display; empty: the DISPLAY environment variable.
    std::string displayName;
    // A model folder to use instead of downloading the model.
    std::optional<std::filesystem::path> modelFolder;
    // The program's arguments as main() received them (for the relaunch).
    std::vector<std::string> arguments;
    // The version the About window shows.
    std::optional<std::string> version;
    // The microphone, always permitted; null: the default input device of the sound system.
    std::shared_ptr<platform::MicrophoneEngine> microphone;
  };

  // Runs the app until Quit. Throws platform::X11Error when the display cannot be opened or
  // its connection is lost (after the app has shut down in order), and what else fails before
  // the app runs.
  static void run(const Options &options);

  // The status icon's menu: the menu window's actions, the refine and login rows with their
  // checkmarks, and Quit. `openWindow` opens the about and setup windows, `openMenu` shows
  // the menu window.
  static std::vector<platform::ui::StatusMenuItem>
  statusMenuItems(const MenuBarView::Model &model, MenuBarView::OpenWindow openWindow,
                  std::function<void()> openMenu);

  // Keeps the menu reachable in a session without a status area: when `item` hears that no
  // watcher shows it (at start, or when the watcher goes away) and `menuWindow` is not on
  // screen, the window is shown, centred.
  static void showMenuWindowWithoutStatusArea(platform::ui::StatusNotifierItem &item,
                                              platform::ui::Window &menuWindow);
  // The status item's icon: `label` (the menu-bar icon's view, with its animations) drawn
  // into a square of `side` pixels, ringed by a dark outline one pixel wide so its light
  // glyph reads on dark and light panels alike. The outline is as opaque as the glyph next
  // to it, so the icon dims as the view does.
  static platform::ui::StatusIcon statusIcon(platform::ui::HostingView &label, int side);

  // Centres `menuWindow` on the main screen and brings it and the app to the front.
  static void showMenuWindowCentred(platform::ui::Window &menuWindow);
};

} // namespace murmurquill
