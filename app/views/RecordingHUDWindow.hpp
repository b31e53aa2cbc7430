#pragma once

#include "platform/ui/Desktop.hpp"
#include "platform/ui/HostingView.hpp"
#include "platform/ui/Observation.hpp"
#include "platform/ui/View.hpp"
#include "platform/ui/Window.hpp"

#include <memory>
#include <string>

namespace murmurquill {

class HUDViewModel;

// The floating pill near the bottom of the screen under the pointer that tells the user what
// push-to-talk dictation is doing. It never takes focus, never takes clicks, and shows on
// every space and over full-screen apps. The controller drives it through show() and reads
// mode(); the HUD has no timers of its own. Main thread only.
class RecordingHUD {
public:
  // What the HUD shows. Two modes are equal when they are the same case; two `ready` modes
  // only when their labels are equal too.
  class Mode {
  public:
    enum class Kind {
      ready,
      hidden,
      recording,
      transcribing,
      notReady,
      micDenied,
      injectionDenied
    };

    // The speech model became ready while the user waited; `hotkey` is the key's label.
    static Mode ready(std::string hotkey) { return Mode(Kind::ready, std::move(hotkey)); }
    static Mode hidden() { return Mode(Kind::hidden); }
    static Mode recording() { return Mode(Kind::recording); }
    static Mode transcribing() { return Mode(Kind::transcribing); }
    static Mode notReady() { return Mode(Kind::notReady); }
    static Mode micDenied() { return Mode(Kind::micDenied); }
    static Mode injectionDenied() { return Mode(Kind::injectionDenied); }

    Kind kind() const { return kind_; }
    // The key's label for `ready`, empty otherwise.
    const std::string &hotkey() const { return hotkey_; }

    bool operator==(const Mode &other) const {
      return kind_ == other.kind_ && (kind_ != Kind::ready || hotkey_ == other.hotkey_);
    }

  private:
    explicit Mode(Kind kind, std::string hotkey = {}) : kind_(kind), hotkey_(std::move(hotkey)) {}
    Kind kind_;
    std::string hotkey_;
  };

  // Panel geometry: content size and the distance above the bottom of the visible frame.
  static constexpr double kPanelWidth = 460;
  static constexpr double kPanelHeight = 48;
  static constexpr double kBottomOffset = 80;

  // Mode hidden, a new view model, no panel: creates no window. The desktop outlives the HUD.
  explicit RecordingHUD(platform::ui::Desktop &desktop);
  ~RecordingHUD();
  RecordingHUD(const RecordingHUD &) = delete;
  RecordingHUD &operator=(const RecordingHUD &) = delete;

  const Mode &mode() const { return mode_; }

  // Shows `mode`. Hidden orders the panel out (it stays alive). Any other mode builds the
  // panel on first use, places it under the pointer and orders it front without activating
  // the application. The view model is only told about real changes.
  void show(const Mode &mode);

  // Centres the panel horizontally on the screen under the pointer (else the main screen),
  // 80 points above the bottom of its visible frame; with neither, leaves it where it is.
  void positionPanel();

  platform::ui::Panel *panel() const { return panel_.get(); }
  HUDViewModel &viewModel() const { return *viewModel_; }

private:
  void setMode(const Mode &mode);
  void buildPanel();

  platform::ui::Desktop &desktop_;
  Mode mode_ = Mode::hidden();
  std::shared_ptr<HUDViewModel> viewModel_;
  std::unique_ptr<platform::ui::Panel> panel_;
};

// The observable holder of the mode the HUD's view shows.
class HUDViewModel {
public:
  const RecordingHUD::Mode &mode() const { return mode_.get(); }
  // An equal value is stored without notifying observers.
  void setMode(const RecordingHUD::Mode &mode) { mode_.set(mode); }

private:
  platform::ui::Observable<RecordingHUD::Mode> mode_{RecordingHUD::Mode::hidden()};
};

// The HUD's text for a mode ("Recording…", "Ready — hold Right Option to dictate", ...).
std::string hudMessage(const RecordingHUD::Mode &mode);

// The pill's view over a view model, with its pulse state.
class HUDView final : public platform::ui::Component {
public:
  explicit HUDView(std::shared_ptr<HUDViewModel> model) : model_(std::move(model)) {}
  platform::ui::View body() override;

  std::string message() const { return hudMessage(model_->mode()); }
  bool pulsing() const { return pulsing_.peek(); }

private:
  platform::ui::View icon(const RecordingHUD::Mode &mode);

  std::shared_ptr<HUDViewModel> model_;
  platform::ui::Observable<bool> pulsing_{false};
};

} // namespace murmurquill
