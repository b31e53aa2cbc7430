#pragma once

#include "app/controller/AppSession.hpp"
#include "app/controller/DictationState.hpp"
#include "app/controller/HotkeyChoice.hpp"
#include "app/controller/LoginItemChoice.hpp"
#include "app/controller/ModelLoadState.hpp"
#include "app/controller/PermissionState.hpp"
#include "app/controller/RefineChoice.hpp"

#include "platform/ui/Color.hpp"
#include "platform/ui/Observation.hpp"
#include "platform/ui/View.hpp"

#include <functional>
#include <optional>
#include <string>

namespace murmurquill {

// The menu-bar window: product name, status line, missing permissions, the push-to-talk key
// with its picker, and the item list (About, Permissions & Setup, refine, open at login,
// update check, quit). It reads the controllers through the slices in Model and changes them
// only through the actions of its controls; the about and setup windows it asks for through a
// callback. Main thread only; the model outlives the view.
class MenuBarView final : public platform::ui::Component {
public:
  static constexpr double kWidth = 280;

  // The windows the menu's items open.
  enum class Window { about, setup };
  using OpenWindow = std::function<void(Window)>;

  // What the menu reads and changes, each part implemented by the controller that owns it.
  struct Model {
    DictationState &dictation;
    ModelLoadState &modelLoad;
    PermissionState &permissions;
    HotkeyChoice &hotkey;
    RefineChoice &refine;
    LoginItemChoice &loginItem;
    AppSession &app;
  };

  MenuBarView(Model model, OpenWindow openWindow);

  platform::ui::View body() override;

  struct Status {
    std::string text;
    platform::ui::Color colour;
  };
  // The status line: the first of failed, loading, setup needed, recording, transcribing,
  // ready that holds.
  static Status status(const Model &model);

  bool launchAtLogin() const { return launchAtLogin_.peek(); }

private:
  platform::ui::View item(platform::ui::View label, std::function<void()> action);
  // The window's parts, top to bottom.
  platform::ui::View titleRow();
  platform::ui::View statusRow();
  platform::ui::View permissionsBlock();
  platform::ui::View hotkeyBlock();
  platform::ui::View itemList();
  platform::ui::View refineLabel();
  void loginItemChanged();
  // The entry changed while the menu shows; the row follows unless its own request did it.
  void loginEntryChanged();

  Model model_;
  OpenWindow openWindow_;
  platform::ui::Observable<bool> launchAtLogin_;
  // Corrections the login-item sequence made since the user last clicked the row; a service
  // whose status keeps flipping cannot make the sequence run forever.
  int loginCorrections_ = 0;
  // What the row's last request left the entry at, until the change it made is seen.
  std::optional<bool> entryLeftByRow_;
  // The row's state changed to follow the entry: its sequence does not run for that change.
  bool followingEntry_ = false;
};

// The row look of the menu's items: the label across the full width, with an accent
// background and white text while the pointer is over it.
class MenuItemBody final : public platform::ui::Component {
public:
  platform::ui::View label;
  platform::ui::Observable<bool> isHovered{false};

  platform::ui::View body() override;
};

} // namespace murmurquill
