#pragma once

#include "platform/ui/Color.hpp"
#include "platform/ui/Geometry.hpp"
#include "platform/ui/HostingView.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform::ui {

class Desktop;

// Style bits, with the values of the platform's window style mask.
enum WindowStyle : unsigned {
  kBorderless = 0,
  kTitled = 1u << 0,
  kClosable = 1u << 1,
  kMiniaturizable = 1u << 2,
  kResizable = 1u << 3,
  kUtilityWindow = 1u << 4,
  kNonactivatingPanel = 1u << 7,
  kHUDWindow = 1u << 13,
  kFullSizeContentView = 1u << 15
};

// Collection behaviour bits, with the platform's values.
enum CollectionBehavior : unsigned {
  kCanJoinAllSpaces = 1u << 0,
  kMoveToActiveSpace = 1u << 1,
  kManaged = 1u << 2,
  kTransient = 1u << 3,
  kStationary = 1u << 4,
  kParticipatesInCycle = 1u << 5,
  kIgnoresCycle = 1u << 6,
  kFullScreenPrimary = 1u << 7,
  kFullScreenAuxiliary = 1u << 8
};

// Window levels, with the platform's values.
enum WindowLevel : int {
  kNormalLevel = 0,
  kFloatingLevel = 3,
  kStatusLevel = 25,
  kPopUpMenuLevel = 101
};

enum class Backing { buffered };

// A window or panel on a Desktop: frame in desktop coordinates, style, level and behaviour,
// and a hosting view as content. A titled window without full-size content has a 28-point
// title bar above its content (22 points for a utility window). HUD-style windows use the
// dark appearance. Main thread only; the desktop must outlive its windows.
class Window {
public:
  Window(Desktop &desktop, Rect contentRect, unsigned styleMask,
         Backing backing = Backing::buffered, bool defer = false, bool isPanel = false);
  virtual ~Window();
  Window(const Window &) = delete;
  Window &operator=(const Window &) = delete;

  Desktop &desktop() const { return desktop_; }
  bool isPanel() const { return isPanel_; }
  unsigned styleMask() const { return styleMask_; }
  Appearance appearance() const;

  Rect frame() const { return frame_; }
  void setFrame(Rect frame, bool display);
  Rect contentRect() const;
  void setContentSize(Size size);
  double titleBarHeight() const;
  // Centres the window on the main screen's visible frame, slightly above the middle.
  void center();

  const std::string &title() const { return title_; }
  void setTitle(std::string title);
  bool titleHidden() const { return titleHidden_; }
  void setTitleHidden(bool hidden) { titleHidden_ = hidden; }
  bool titlebarAppearsTransparent() const { return titlebarTransparent_; }
  void setTitlebarAppearsTransparent(bool transparent) { titlebarTransparent_ = transparent; }
  bool closeButtonHidden() const { return closeButtonHidden_; }
  void setCloseButtonHidden(bool hidden) { closeButtonHidden_ = hidden; }

  bool isOpaque() const { return opaque_; }
  void setOpaque(bool opaque) { opaque_ = opaque; }
  // The colour behind the content; absent: the appearance's window background.
  const std::optional<Color> &backgroundColor() const { return background_; }
  void setBackgroundColor(Color colour) { background_ = colour; }
  bool hasShadow() const { return shadow_; }
  void setHasShadow(bool shadow) { shadow_ = shadow; }
  int level() const { return level_; }
  void setLevel(int level) { level_ = level; }
  unsigned collectionBehavior() const { return collection_; }
  void setCollectionBehavior(unsigned behavior) { collection_ = behavior; }
  bool isMovable() const { return movable_; }
  void setMovable(bool movable) { movable_ = movable; }
  bool isMovableByWindowBackground() const { return movableByBackground_; }
  void setMovableByWindowBackground(bool movable) { movableByBackground_ = movable; }
  bool ignoresMouseEvents() const { return ignoresMouse_; }
  void setIgnoresMouseEvents(bool ignores) { ignoresMouse_ = ignores; }
  bool hidesOnDeactivate() const { return hidesOnDeactivate_; }
  void setHidesOnDeactivate(bool hides) { hidesOnDeactivate_ = hides; }
  bool isReleasedWhenClosed() const { return releasedWhenClosed_; }
  void setReleasedWhenClosed(bool released) { releasedWhenClosed_ = released; }
  void setFloatingPanel(bool floating) { level_ = floating ? kFloatingLevel : kNormalLevel; }

  // The content. The hosting view takes the content rectangle's size; with `fitsContent` the
  // window instead follows the view's own size after every render, keeping its top edge.
  HostingView *contentView() const { return content_.get(); }
  void setContentView(std::unique_ptr<HostingView> view, bool fitsContent = false);

  bool isVisible() const { return visible_; }
  bool isKeyWindow() const;
  // Shows the window without activating the application.
  void orderFrontRegardless();
  // Shows the window and makes it key. Activating the application is the caller's business.
  void makeKeyAndOrderFront();
  void orderOut();
  // Hides the window and takes its views off the screen (their disappear handlers run); when
  // it comes forward again its views render again and appear (their appear handlers run).
  void close();
  std::size_t closeCount() const { return closes_; }

private:
  void fitToContent();
  void comeOnScreen();

  Desktop &desktop_;
  bool isPanel_ = false;
  unsigned styleMask_ = 0;
  Rect frame_;
  std::string title_;
  bool titleHidden_ = false;
  bool titlebarTransparent_ = false;
  bool closeButtonHidden_ = false;
  bool opaque_ = true;
  std::optional<Color> background_;
  bool shadow_ = true;
  int level_ = kNormalLevel;
  unsigned collection_ = 0;
  bool movable_ = true;
  bool movableByBackground_ = false;
  bool ignoresMouse_ = false;
  bool hidesOnDeactivate_ = false;
  bool releasedWhenClosed_ = true;
  bool visible_ = false;
  bool fitsContent_ = false;
  bool viewsOffScreen_ = false;
  std::size_t closes_ = 0;
  std::unique_ptr<HostingView> content_;
};

// A panel: a window that can float and need not activate its application.
class Panel : public Window {
public:
  Panel(Desktop &desktop, Rect contentRect, unsigned styleMask, Backing backing = Backing::buffered,
        bool defer = false)
      : Window(desktop, contentRect, styleMask, backing, defer, /*isPanel=*/true) {}
};

} // namespace platform::ui
