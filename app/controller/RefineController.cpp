#include "app/controller/RefineController.hpp"

#include "app/services/RuleBasedCleanup.hpp"

namespace murmurquill {
namespace {

constexpr const char *kRefineEnabledKey = "refineEnabled";

bool savedRefineEnabled(const platform::Settings &settings) {
  return settings.contains(kRefineEnabledKey)
             ? settings.boolValue(kRefineEnabledKey).value_or(false)
             : true;
}

} // namespace

std::shared_ptr<RefineController>
RefineController::make(const AppServices &services, std::shared_ptr<ChangeNotices> notices,
                       std::shared_ptr<AICleanupService> aiCleanup,
                       std::shared_ptr<TextInjector> injector) {
  return std::shared_ptr<RefineController>(new RefineController(
      services, std::move(notices), std::move(aiCleanup), std::move(injector)));
}

RefineController::RefineController(const AppServices &services,
                                   std::shared_ptr<ChangeNotices> notices,
                                   std::shared_ptr<AICleanupService> aiCleanup,
                                   std::shared_ptr<TextInjector> injector)
    : main_(services.main), steadyClock_(services.steadyClock), wallClock_(services.wallClock),
      settings_(services.settings), workspace_(services.workspace),
      pasteboard_(services.pasteboard), panel_(services.refinePanel),
      aiCleanup_(std::move(aiCleanup)), injector_(std::move(injector)),
      systemSupportsLanguageModel_(services.languageModel != nullptr &&
                                   services.languageModel->availability() !=
                                       platform::LanguageModelAvailability::unsupportedSystem),
      refineEnabled_(notices, AppChange::refineEnabled, savedRefineEnabled(*services.settings)),
      lastInjectedText_(notices, AppChange::lastInjectedText),
      lastInjectedAt_(notices, AppChange::lastInjectedAt),
      lastInjectedAppPID_(notices, AppChange::lastInjectedAppPID) {}

std::set<std::string> RefineController::settingsKeys() { return {kRefineEnabledKey}; }

void RefineController::setRefineEnabled(bool enabled) {
  refineEnabled_.set(enabled);
  settings_->setBool(kRefineEnabledKey, enabled);
}

void RefineController::rememberInjection(const std::string &text) {
  lastInjectedText_.set(std::optional<std::string>(text));
  lastInjectedAt_.set(std::optional(wallClock_->now()));
  lastInjectedSteady_ = steadyClock_->now();
  lastInjectedAppPID_.set(workspace_->frontmostApplication());
}

void RefineController::onRefineHotkey() {
  main_->post([weak = weak_from_this()] {
    if (const auto self = weak.lock()) {
      self->refineLastDictation();
    }
  });
}

void RefineController::refineLastDictation() {
  if (!refineEnabled_.peek() || !lastInjectedText_.peek() || !lastInjectedAt_.peek() ||
      !lastInjectedSteady_) {
    return;
  }
  // Measured on the steady clock: a change of the wall clock neither opens nor closes it.
  if (steadyClock_->now() - *lastInjectedSteady_ >= kRefineWindow) {
    return;
  }
  const std::string consumed = *lastInjectedText_.peek();
  lastInjectedText_.set(std::optional<std::string>());
  const auto pid = lastInjectedAppPID_.peek();
  const std::weak_ptr<RefineController> weak = weak_from_this();
  RefinePresenter::ApplyAction onApply = [weak, pid, consumed](const std::string &refined) {
    const auto self = weak.lock();
    if (!self) {
      return false;
    }
    if (pid) {
      self->workspace_->activateApplication(*pid);
    }
    return self->injector_->replaceLastInjection(consumed, refined);
  };
  RefinePresenter::CopyAction onCopy = [weak](const std::string &refined) {
    if (const auto self = weak.lock()) {
      self->copyRefined(refined);
    }
  };
  if (aiCleanup_->isAvailable()) {
    const auto token = panel_->show(std::move(onApply), std::move(onCopy));
    aiCleanup_->refine(consumed, [weak, token](std::string refined) {
      if (const auto self = weak.lock()) {
        self->panel_->showResult(refined, token);
      }
    });
  } else {
    const std::string refined = ruleBasedCleanup(consumed);
    const auto token = panel_->show(std::move(onApply), std::move(onCopy));
    panel_->showResult(refined, token);
  }
}

void RefineController::copyRefined(const std::string &text) {
  pasteboard_->clearContents();
  pasteboard_->setString(text);
}

} // namespace murmurquill
