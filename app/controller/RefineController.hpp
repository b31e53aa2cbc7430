#pragma once

#include "app/controller/AppChange.hpp"
#include "app/controller/AppServices.hpp"
#include "app/controller/RefineChoice.hpp"
#include "app/services/AICleanupService.hpp"
#include "app/services/TextInjector.hpp"

#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace murmurquill {

// The refine road: remembers the last dictation typed at the cursor and, on the refine chord
// within the refine window, opens the refine panel with a cleaned-up text the user can apply
// in place of the dictation or copy. Owns the "refineEnabled" setting.
//
// Main thread only. Made only through make(), as the panel's actions and the refined answer
// refer to it weakly.
class RefineController final : public RefineChoice,
                               public std::enable_shared_from_this<RefineController> {
public:
  // A remembered insertion can be refined while less than this has passed.
  static constexpr std::chrono::seconds kRefineWindow{30};

  // The settings keys this part reads and writes.
  static std::set<std::string> settingsKeys();
  static std::shared_ptr<RefineController> make(const AppServices &services,
                                                std::shared_ptr<ChangeNotices> notices,
                                                std::shared_ptr<AICleanupService> aiCleanup,
                                                std::shared_ptr<TextInjector> injector);

  bool refineEnabled() const override { return refineEnabled_.get(); }
  // Saves "refineEnabled" on every assignment.
  void setRefineEnabled(bool enabled) override;
  bool languageModelAvailable() const override { return aiCleanup_->isAvailable(); }
  // Fixed at construction: a language model is given and its system has one at all.
  bool systemSupportsLanguageModel() const override { return systemSupportsLanguageModel_; }
  std::optional<std::string> lastInjectedText() const { return lastInjectedText_.get(); }
  std::optional<platform::WallClock::time_point> lastInjectedAt() const {
    return lastInjectedAt_.get();
  }
  std::optional<platform::ProcessId> lastInjectedAppPID() const {
    return lastInjectedAppPID_.get();
  }

  // A dictation was typed at the cursor of the frontmost application: it is the one to refine.
  void rememberInjection(const std::string &text);
  // The refine chord: refines on the main executor, after the chord's own handling.
  void onRefineHotkey();
  void refineLastDictation();
  void copyRefined(const std::string &text);

private:
  RefineController(const AppServices &services, std::shared_ptr<ChangeNotices> notices,
                   std::shared_ptr<AICleanupService> aiCleanup,
                   std::shared_ptr<TextInjector> injector);

  std::shared_ptr<platform::Executor> main_;
  std::shared_ptr<platform::SteadyClock> steadyClock_;
  std::shared_ptr<platform::WallClock> wallClock_;
  std::shared_ptr<platform::Settings> settings_;
  std::shared_ptr<platform::Workspace> workspace_;
  std::shared_ptr<platform::Pasteboard> pasteboard_;
  std::shared_ptr<RefinePresenter> panel_;
  std::shared_ptr<AICleanupService> aiCleanup_;
  std::shared_ptr<TextInjector> injector_;
  bool systemSupportsLanguageModel_ = false;

  Published<bool> refineEnabled_;
  Published<std::optional<std::string>> lastInjectedText_;
  Published<std::optional<platform::WallClock::time_point>> lastInjectedAt_;
  std::optional<platform::SteadyClock::time_point> lastInjectedSteady_;
  Published<std::optional<platform::ProcessId>> lastInjectedAppPID_;
};

} // namespace murmurquill
