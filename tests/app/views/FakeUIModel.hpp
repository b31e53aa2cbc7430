#pragma once

#include "app/views/MenuBarView.hpp"
#include "app/views/OnboardingView.hpp"

#include "platform/ui/Inspector.hpp"
#include "platform/ui/Observation.hpp"

#include <cmath>

#include <string>
#include <vector>

namespace murmurquill::testing {

// An in-memory model for the views: every slice they read, over observable state that
// tests set, and a log of the operations the views called.
class FakeUIModel final : public DictationState,
                          public ModelLoadState,
                          public PermissionState,
                          public HotkeyChoice,
                          public RefineChoice,
                          public OnboardingProgress,
                          public LoginItemChoice,
                          public AppSession {
public:
  template <class T> using Obs = platform::ui::Observable<T>;

  Obs<std::string> label{std::string("Right Option")};
  Obs<std::string> spoken{std::string("the Right Option key")};
  Obs<int> selectedKey{0};
  Obs<bool> inputMonitoring{false};
  Obs<int> mic{0}; // the authorization status's raw value
  Obs<bool> accessibility{false};
  Obs<bool> recording{false};
  Obs<bool> transcribing{false};
  Obs<bool> modelReady{false};
  Obs<bool> loadFailed{false};
  Obs<std::string> status{std::string("Downloading the speech model")};
  Obs<std::optional<double>> progress{std::optional<double>()};
  Obs<std::optional<std::string>> detail{std::optional<std::string>()};
  Obs<std::optional<std::chrono::steady_clock::time_point>> initStartedAt{
      std::optional<std::chrono::steady_clock::time_point>()};
  Obs<bool> refine{true};
  bool languageModel = false;
  bool supportsLanguageModel = true;
  bool hotkeyPermitted = false;
  bool complete = false;
  std::optional<std::int64_t> savedPage;
  using LoginStatus = platform::LoginItemStatus;
  LoginStatus loginStatus = LoginStatus::notRegistered;
  Obs<int> loginChanges{0}; // counts status changes, so readers observe them
  LoginStatus registerGives = LoginStatus::enabled;         // what a registration leaves
  LoginStatus unregisterGives = LoginStatus::notRegistered; // what a withdrawal leaves
  std::optional<std::string> version = std::string("2.0");
  std::vector<std::string> calls;

  std::string hotkeyLabel() const override { return label.get(); }
  std::string hotkeySpokenLabel() const override { return spoken.get(); }
  std::vector<std::string> hotkeyKeyCaps() const override { return {"Alt"}; }
  std::vector<std::string> offeredHotkeyLabels() const override {
    return {"Right Option", "Right Command", "Left Option"};
  }
  int selectedHotkeyIndex() const override { return selectedKey.get(); }
  void selectHotkey(int index) override { selectedKey.set(index); }
  bool inputMonitoringGranted() const override { return inputMonitoring.get(); }
  platform::AuthorizationStatus micStatus() const override {
    return platform::AuthorizationStatus(mic.get());
  }
  bool accessibilityGranted() const override { return accessibility.get(); }
  bool isRecording() const override { return recording.get(); }
  bool isTranscribing() const override { return transcribing.get(); }
  bool isModelReady() const override { return modelReady.get(); }
  bool isModelLoadFailed() const override { return loadFailed.get(); }
  std::string modelStatus() const override { return status.get(); }
  std::optional<double> loadProgress() const override { return progress.get(); }
  std::optional<std::string> loadDetailText() const override { return detail.get(); }
  std::optional<std::chrono::steady_clock::time_point> modelInitStartedAt() const override {
    return initStartedAt.get();
  }
  bool languageModelAvailable() const override { return languageModel; }
  bool systemSupportsLanguageModel() const override { return supportsLanguageModel; }
  bool refineEnabled() const override { return refine.get(); }
  void setRefineEnabled(bool enabled) override { refine.set(enabled); }

  void permitHotkey() override {
    calls.push_back("permitHotkey");
    hotkeyPermitted = true;
  }
  void startHotkey() override { calls.push_back("startHotkey"); }
  void refreshMicStatus() override { calls.push_back("refreshMicStatus"); }
  void refreshAccessibility() override { calls.push_back("refreshAccessibility"); }
  void requestMicrophoneAccess(std::function<void()>) override {
    calls.push_back("requestMicrophoneAccess");
  }
  void requestAccessibility() override { calls.push_back("requestAccessibility"); }
  void loadModel() override { calls.push_back("loadModel"); }
  void noteUserWaitingForModel() override { calls.push_back("noteUserWaitingForModel"); }
  void relaunch() override { calls.push_back("relaunch"); }
  void checkForUpdates() override { calls.push_back("checkForUpdates"); }
  void quit() override { calls.push_back("quit"); }
  bool onboardingComplete() const override { return complete; }
  void setOnboardingComplete(bool value) override { complete = value; }
  std::optional<std::int64_t> resumePage() const override { return savedPage; }
  void setResumePage(std::int64_t page) override { savedPage = page; }
  void removeResumePage() override { savedPage.reset(); }
  LoginStatus loginItemStatus() const override {
    loginChanges.get();
    return loginStatus;
  }
  void registerLoginItem() override {
    calls.push_back("registerLoginItem");
    setLoginStatus(registerGives);
  }
  void unregisterLoginItem() override {
    calls.push_back("unregisterLoginItem");
    setLoginStatus(unregisterGives);
  }
  // The entry as another part of the app (or another program) leaves it; readers redraw.
  void setLoginStatus(LoginStatus status) {
    loginStatus = status;
    loginChanges.set(loginChanges.peek() + 1);
  }
  std::string appName() const override { return "Murmurquill"; }
  std::optional<std::string> shortVersion() const override { return version; }

  MenuBarView::Model menuModel() { return {*this, *this, *this, *this, *this, *this, *this}; }
  OnboardingView::Model onboardingModel() {
    return {*this, *this, *this, *this, *this, *this, *this};
  }

  bool called(const std::string &name) const {
    for (const std::string &call : calls) {
      if (call == name) {
        return true;
      }
    }
    return false;
  }
};

// Whether the menu's "Open at Login" row shows its checkmark.
inline bool loginRowChecked(platform::ui::Inspector inspect) {
  const auto row = inspect.findText("Open at Login");
  if (!row) {
    return false;
  }
  for (const platform::ui::Element &e : inspect.elements()) {
    if (e.kind == platform::ui::NodeKind::symbol && e.symbol == "checkmark" &&
        std::abs(e.frame.midY() - row->frame.midY()) < 8) {
      return true;
    }
  }
  return false;
}

} // namespace murmurquill::testing
