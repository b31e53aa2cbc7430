#include "app/MurmurquillApp.hpp"

#include "platform/ui/Inspector.hpp"
#include "tests/app/controller/AppCoreFixture.hpp"
#include "tests/app/views/UiTestSupport.hpp"
#include "tests/support/ui/WindowRenderer.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace murmurquill {
namespace {

namespace ui = platform::ui;
using namespace std::chrono_literals;
using testing::AppCoreTest;

// The views on the controller itself: the setup window the controller owns, the menu and the
// icon of the application value, all reading AppCore and calling it.
class AppCoreUiTest : public AppCoreTest {
public:
  void makeApp() {
    app.reset();
    app = std::make_unique<MurmurquillApp>(services());
    coreRef = app->sharedCore();
  }
  // The controller of a whole application, so the setup window has its window controller.
  void makeCore() override {
    makeApp();
    core = coreRef;
  }
  OnboardingWindowController &onboarding() { return app->onboarding(); }

  // Opens the setup window through the controller's window controller.
  ui::Window &openSetup() {
    onboarding().showOnboarding(app->onboardingModel());
    return *onboarding().window();
  }
  ui::Inspector setup() { return ui::Inspector(*onboarding().window()); }
  std::int64_t page() { return onboarding().onboardingView()->page(); }

  ui::HostingView &menu() {
    if (!menuHost) {
      menuHost = std::make_unique<ui::HostingView>(app->makeMenuContent(), ui::Size{280, 420});
    }
    return *menuHost;
  }

  std::unique_ptr<MurmurquillApp> app;
  std::shared_ptr<AppCore> coreRef;
  std::unique_ptr<ui::HostingView> menuHost;
};

TEST_F(AppCoreUiTest, FirstLaunchOpensTheSetupWindowAfterThreeTenthsOfASecond) {
  settings->remove("onboardingComplete");
  makeApp();
  ui::HostingView icon(app->makeIconLabel(), ui::Size{22, 22});
  EXPECT_EQ(ui::Inspector(icon).findSymbol("waveform")->opacity, 0.45);
  main->advance(299ms);
  EXPECT_EQ(onboarding().window(), nullptr);
  main->advance(1ms);
  ASSERT_NE(onboarding().window(), nullptr);
  EXPECT_TRUE(onboarding().window()->isVisible());
  EXPECT_EQ(onboarding().window()->title(), "Welcome to Murmurquill");
  EXPECT_TRUE(coreRef->modelLoad().isModelReady());
  EXPECT_EQ(ui::Inspector(icon).findSymbol("waveform")->opacity, 1.0);
}

TEST_F(AppCoreUiTest, ACompletedOnboardingOpensNothing) {
  makeApp();
  ui::HostingView icon(app->makeIconLabel(), ui::Size{22, 22});
  icon.layout();
  main->advance(10s);
  EXPECT_EQ(onboarding().window(), nullptr);
  EXPECT_TRUE(coreRef->hotkey().isRunning());
}

TEST_F(AppCoreUiTest, ClosingTheSetupWindowFinishesTheOnboardingOnTheController) {
  settings->remove("onboardingComplete");
  speech->reports = {{0.5, 3, 10, 20.0}};
  engineWorker = std::make_shared<testing::HeldExecutor>();
  makeCore();
  coreRef = core;
  main->runUntilIdle();
  ASSERT_FALSE(core->modelLoad().isModelReady());
  openSetup();
  EXPECT_FALSE(core->permissions().hotkeyPermitted());
  EXPECT_FALSE(core->hotkey().isRunning());
  onboarding().window()->close();
  EXPECT_TRUE(settings->boolOrFalse("onboardingComplete"));
  EXPECT_TRUE(core->permissions().hotkeyPermitted());
  EXPECT_TRUE(core->hotkey().isRunning());
  EXPECT_TRUE(core->permissions().inputMonitoringGranted());
  EXPECT_TRUE(core->modelLoad().userIsWaitingForModel());
  EXPECT_EQ(loginItems->calls(), std::vector<std::string>{"register"});
  EXPECT_EQ(core->permissions().loginItemStatus(), platform::LoginItemStatus::enabled);
  static_cast<testing::HeldExecutor &>(*engineWorker).held.clear(); // the load never ends
  // A registered item is left alone the next time.
  openSetup();
  onboarding().window()->close();
  EXPECT_EQ(loginItems->calls(), std::vector<std::string>{"register"});
}

TEST_F(AppCoreUiTest, AFailedLoginItemRegistrationIsDropped) {
  loginItems->setFails(true);
  loginItems->setRegisterLeaves(platform::LoginItemStatus::requiresApproval);
  launch();
  coreRef = core;
  openSetup();
  onboarding().window()->close();
  EXPECT_TRUE(settings->boolOrFalse("onboardingComplete"));
  EXPECT_EQ(core->permissions().loginItemStatus(), platform::LoginItemStatus::requiresApproval);
}

// Command-Return acts only where the last page's button is: on every other page nothing
// handles it and the window stays.
class CommandReturnTable : public AppCoreUiTest,
                           public ::testing::WithParamInterface<std::int64_t> {};

TEST_P(CommandReturnTable, ActsOnlyOnTheLastPage) {
  const std::int64_t start = GetParam();
  settings->setInt("onboardingResumePage", start);
  launch();
  coreRef = core;
  ui::Window &window = openSetup();
  ASSERT_EQ(page(), start);
  const bool last = start > 3;
  EXPECT_EQ(setup().key(ui::Key::returnKey(), ui::kCommand), last);
  EXPECT_EQ(window.isVisible(), !last);
  EXPECT_EQ(window.closeCount(), last ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Pages, CommandReturnTable, ::testing::Values(-1, 0, 1, 2, 3, 4, 7));

struct MicCase {
  platform::AuthorizationStatus status;
  const char *button; // "" when no button shows
  bool pillGranted;
};

// The microphone page's button for each authorization status, on the controller's status.
class MicrophoneButtonTable : public AppCoreUiTest,
                              public ::testing::WithParamInterface<MicCase> {};

TEST_P(MicrophoneButtonTable, FollowsTheStatus) {
  const MicCase &c = GetParam();
  micAuth->setStatus(c.status);
  micAuth->setAnswer(true);
  settings->setInt("onboardingResumePage", 2);
  launch();
  coreRef = core;
  openSetup();
  EXPECT_EQ(setup().hasText("Permission granted"), c.pillGranted);
  for (const char *button : {"Allow Microphone Access", "Open Microphone Settings"}) {
    EXPECT_EQ(setup().hasText(button), std::string(button) == c.button) << button;
  }
  if (*c.button == '\0') {
    return;
  }
  setup().press(c.button);
  if (c.status == platform::AuthorizationStatus::notDetermined) {
    EXPECT_TRUE(desktop->openedURLs().empty());
    main->runUntilIdle();
    EXPECT_EQ(core->permissions().micStatus(), platform::AuthorizationStatus::authorized);
    EXPECT_EQ(log.lines().back(), "[AudioCapture] Mic granted");
    EXPECT_TRUE(setup().hasText("Permission granted"));
    EXPECT_FALSE(setup().hasText("Allow Microphone Access"));
  } else {
    EXPECT_EQ(desktop->openedURLs(), std::vector<std::string>{OnboardingView::kMicrophoneURL});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, MicrophoneButtonTable,
    ::testing::Values(
        MicCase{platform::AuthorizationStatus::notDetermined, "Allow Microphone Access", false},
        MicCase{platform::AuthorizationStatus::restricted, "Open Microphone Settings", false},
        MicCase{platform::AuthorizationStatus::denied, "Open Microphone Settings", false},
        MicCase{platform::AuthorizationStatus::authorized, "", true}));

TEST_F(AppCoreUiTest, ActivationWhileTheSetupWindowIsOpenStartsTheHotkey) {
  settings->remove("onboardingComplete");
  taps->setRefusesTaps(true);
  settings->setInt("onboardingResumePage", 1);
  launch();
  coreRef = core;
  openSetup();
  EXPECT_TRUE(core->permissions().hotkeyPermitted())
      << "the Input Monitoring page permits the hotkey";
  EXPECT_FALSE(core->permissions().inputMonitoringGranted());
  EXPECT_TRUE(setup().hasText("Permission needed"));
  taps->setRefusesTaps(false);
  accessibility->setTrusted(true);
  app->applicationDidBecomeActive();
  EXPECT_TRUE(core->permissions().inputMonitoringGranted());
  EXPECT_TRUE(setup().hasText("Permission granted"));
  EXPECT_TRUE(setup().hasText("Hotkey is active \xE2\x80\x94 you're good to go."));
}

TEST_F(AppCoreUiTest, RelaunchSavesThePageStartsANewInstanceAndEndsThisOne) {
  settings->remove("onboardingComplete");
  poster->setCanPostEvents(false);
  settings->setInt("onboardingResumePage", 3);
  launch();
  coreRef = core;
  openSetup();
  EXPECT_FALSE(settings->contains("onboardingResumePage")) << "used once";
  setup().press("Already granted it? Relaunch");
  EXPECT_EQ(settings->intValue("onboardingResumePage"), 3);
  EXPECT_EQ(launcher->requestCount(), 1);
  launcher->fail("Could not start /opt/murmurquill: No such file or directory");
  main->runUntilIdle();
  EXPECT_EQ(log.lines().back(),
            "[AppCore] Relaunch failed: Could not start /opt/murmurquill: No such file or "
            "directory");
  EXPECT_FALSE(runLoop->isTerminated());

  setup().press("Already granted it? Relaunch");
  launcher->succeed();
  EXPECT_FALSE(runLoop->isTerminated()) << "this instance ends from the main queue";
  main->runUntilIdle();
  EXPECT_TRUE(runLoop->isTerminated());

  // The next instance opens on the saved page once, then on the first page.
  onboarding().window()->close();
  core.reset();
  coreRef.reset();
  launch();
  coreRef = core;
  openSetup();
  EXPECT_EQ(page(), 3);
  onboarding().window()->close();
  openSetup();
  EXPECT_EQ(page(), 0);
}

TEST_F(AppCoreUiTest, TheDonePageFollowsTheLoadOnTheController) {
  engineWorker = std::make_shared<testing::HeldExecutor>();
  auto &held = static_cast<testing::HeldExecutor &>(*engineWorker);
  speech->reports = {{0.456, 3, 10, 20.0}};
  settings->setInt("onboardingResumePage", 4);
  launch();
  coreRef = core;
  openSetup();
  EXPECT_TRUE(setup().hasText("Close"));
  EXPECT_TRUE(setup().hasText("Checking for Whisper model\xE2\x80\xA6"));
  core->modelLoad().apply(
      {TranscriptionEngine::LoadingPhase::Kind::downloading, 0.456, 3, 10, 20.0});
  EXPECT_TRUE(setup().hasText("Downloading the speech model"));
  EXPECT_TRUE(setup().hasText("45%"));
  EXPECT_TRUE(setup().hasText("file 4 of 10 \xC2\xB7 20s remaining"));
  core->modelLoad().apply(
      TranscriptionEngine::LoadingPhase::of(TranscriptionEngine::LoadingPhase::Kind::initializing));
  main->advance(42s);
  core->permissions().refreshPermissions(); // any change redraws; the counter reads the clock
  setup().texts();
  EXPECT_TRUE(setup().hasText("Preparing the speech model"));
  EXPECT_TRUE(setup().findSymbol("cpu"));
  held.run(0);
  main->runUntilIdle();
  EXPECT_TRUE(core->modelLoad().isModelReady());
  EXPECT_FALSE(setup().findById("modelStatusCard"));
  EXPECT_TRUE(setup().hasText("Start Dictating"));
}

TEST_F(AppCoreUiTest, RetryAfterAFailedLoadReloadsThroughTheController) {
  speech->buildError = "no TextDecoder";
  settings->setInt("onboardingResumePage", 4);
  launch();
  coreRef = core;
  openSetup();
  EXPECT_TRUE(setup().hasText("Download failed"));
  speech->buildError.reset();
  setup().press("Retry");
  main->runUntilIdle();
  EXPECT_TRUE(core->modelLoad().isModelReady());
  EXPECT_FALSE(setup().findById("modelStatusCard"));
}

TEST_F(AppCoreUiTest, TheMenuReadsAndDrivesTheController) {
  speech->buildError = "offline";
  makeApp();
  ui::Inspector inspect(menu());
  EXPECT_TRUE(inspect.hasText("Loading model\xE2\x80\xA6"));
  main->runUntilIdle();
  EXPECT_TRUE(inspect.hasText("Download failed"));
  speech->buildError.reset();
  coreRef->modelLoad().loadModel();
  main->runUntilIdle();
  EXPECT_TRUE(inspect.hasText("Ready"));
  EXPECT_FALSE(inspect.hasText("Permissions needed"));

  inspect.choose("Right Super");
  EXPECT_EQ(coreRef->permissions().hotkeyKey(), HotkeyKey::rightCommand);
  EXPECT_EQ(settings->stringValue("selectedHotkeyKey"), "rightCommand");
  EXPECT_EQ(coreRef->hotkey().key(), HotkeyKey::rightCommand);
  EXPECT_TRUE(inspect.hasText("Super"));

  inspect.press("AI Refine  Ctrl+Super+R");
  EXPECT_FALSE(coreRef->refine().refineEnabled());
  EXPECT_EQ(settings->boolValue("refineEnabled"), false);

  micAuth->setStatus(platform::AuthorizationStatus::denied);
  coreRef->permissions().refreshPermissions();
  EXPECT_TRUE(inspect.hasText("Setup needed"));
  EXPECT_TRUE(inspect.hasText("Microphone access"));
  inspect.press("Open setup guide \xE2\x86\x92");
  ASSERT_NE(onboarding().window(), nullptr);
  EXPECT_TRUE(onboarding().window()->isVisible());
  inspect.press("About Murmurquill");
  EXPECT_TRUE(ui::Inspector(*onboarding().aboutWindow()).hasText("Version 2.0"));
}

TEST_F(AppCoreUiTest, TheMenuRecordsADictation) {
  makeApp();
  main->runUntilIdle();
  ui::Inspector inspect(menu());
  press();
  main->runUntilIdle();
  EXPECT_TRUE(inspect.hasText("Recording"));
  EXPECT_EQ(inspect.findById("pulseRing")->node->scale, 1.0);
  release();
  main->runUntilIdle();
  EXPECT_TRUE(inspect.hasText("Ready"));
}

TEST_F(AppCoreUiTest, CheckForUpdatesReachesTheUpdater) {
  auto inMemory = std::make_shared<platform::InMemoryUpdater>();
  updater = inMemory;
  makeApp();
  EXPECT_EQ(inMemory->startCount(), 1) << "started with the application";
  ui::Inspector(menu()).press("Check for Updates\xE2\x80\xA6");
  EXPECT_EQ(inMemory->checkCount(), 1);
}

TEST_F(AppCoreUiTest, WithoutAnUpdateServiceTheCheckSaysSo) {
  updater = std::make_shared<platform::UnavailableUpdater>();
  makeApp();
  EXPECT_TRUE(updater->isStarted());
  ui::Inspector(menu()).press("Check for Updates\xE2\x80\xA6");
  EXPECT_EQ(log.lines().back(),
            "[AppCore] Update check unavailable: this installation has no update service");
}

TEST_F(AppCoreUiTest, QuitEndsTheRunLoop) {
  makeApp();
  std::thread loop([this] { runLoop->run(); });
  ui::Inspector(menu()).press("Quit Murmurquill");
  loop.join(); // returns only once Quit ended the loop
  EXPECT_TRUE(runLoop->isTerminated());
}

TEST_F(AppCoreUiTest, CommandQEndsTheRunLoop) {
  makeApp();
  EXPECT_TRUE(ui::Inspector(menu()).key(ui::Key::of('q'), ui::kCommand));
  EXPECT_TRUE(runLoop->isTerminated());
}

TEST_F(AppCoreUiTest, TheLoginRowFollowsTheServiceThroughTheController) {
  loginItems->setRegisterLeaves(platform::LoginItemStatus::requiresApproval);
  makeApp();
  ui::Inspector inspect(menu());
  inspect.press("Open at Login");
  EXPECT_EQ(loginItems->calls(), (std::vector<std::string>{"register", "unregister"}));
  EXPECT_FALSE(static_cast<MenuBarView &>(menu().root()).launchAtLogin());
  loginItems->setRegisterLeaves(platform::LoginItemStatus::enabled);
  inspect.press("Open at Login");
  EXPECT_TRUE(static_cast<MenuBarView &>(menu().root()).launchAtLogin());
  EXPECT_EQ(loginItems->status(), platform::LoginItemStatus::enabled);
}

// The menu stays open (as the menu window does without a status area) while the setup
// window finishes and registers the login item: the row follows the entry at once.
TEST_F(AppCoreUiTest, TheLoginRowFollowsARegistrationByTheSetupWindowWhileTheMenuShows) {
  settings->remove("onboardingComplete");
  makeCore();
  main->runUntilIdle();
  menu().layout();
  auto &view = static_cast<MenuBarView &>(menu().root());
  EXPECT_FALSE(view.launchAtLogin());
  openSetup();
  onboarding().window()->close();
  EXPECT_EQ(loginItems->calls(), std::vector<std::string>{"register"});
  EXPECT_TRUE(view.launchAtLogin());
  // Removed by the user outside the app and seen when the app comes back to the front.
  loginItems->unregisterItem();
  coreRef->applicationDidBecomeActive();
  main->runUntilIdle();
  EXPECT_FALSE(view.launchAtLogin());
  EXPECT_EQ(loginItems->calls(), (std::vector<std::string>{"register", "unregister"}));
}

// The texts a person reads name this computer and its keys, never the other platform's
// machine or keys: the setup pages, the about window, the menu and the key names.
TEST_F(AppCoreUiTest, NoTextNamesAnotherPlatformsMachineOrKeys) {
  settings->remove("onboardingComplete");
  makeApp();
  std::vector<std::string> seen = coreRef->permissions().offeredHotkeyLabels();
  seen.push_back(coreRef->permissions().hotkeySpokenLabel());
  for (const std::string &cap : coreRef->permissions().hotkeyKeyCaps()) {
    seen.push_back(cap);
  }
  const auto collect = [&](const ui::Inspector &inspect) {
    for (const ui::Element &e : inspect.elements()) {
      if (!e.text.empty()) {
        seen.push_back(e.text);
      }
    }
  };
  openSetup();
  for (int page = 0; page < 5; ++page) {
    collect(setup());
    if (setup().hasText("Continue")) {
      setup().press("Continue");
    }
  }
  onboarding().showAbout(*coreRef);
  collect(ui::Inspector(*onboarding().aboutWindow()));
  collect(ui::Inspector(menu()));
  ASSERT_GT(seen.size(), 20u);
  for (const std::string &text : seen) {
    for (const char *word :
         {"Mac", "Neural Engine", "Option", "Command", "\u2318", "\u2325", "\u2303"}) {
      EXPECT_EQ(text.find(word), std::string::npos) << "\"" << text << "\" names " << word;
    }
  }
}

TEST_F(AppCoreUiTest, RendersTheMenuAndTheIconInTheControllersStates) {
  const auto folder = testing::renderFolder("menu");
  engineWorker = std::make_shared<testing::HeldExecutor>();
  auto &held = static_cast<testing::HeldExecutor &>(*engineWorker);
  makeApp();
  main->runUntilIdle();
  ui::Window menuWindow(*desktop, ui::makeRect(0, 0, 280, 420), ui::kBorderless);
  menuWindow.setContentView(
      std::make_unique<ui::HostingView>(app->makeMenuContent(), ui::Size{280, 420}),
      /*fitsContent=*/true);
  menuWindow.orderFrontRegardless();
  ui::Window iconWindow(*desktop, ui::makeRect(0, 0, 22, 22), ui::kBorderless);
  iconWindow.setContentView(
      std::make_unique<ui::HostingView>(app->makeIconLabel(), ui::Size{22, 22}));
  iconWindow.orderFrontRegardless();
  const auto render = [&](ui::Window &window, const std::string &base, const std::string &text) {
    const ui::DrawReport report = ui::renderWindow(window, (folder / (base + ".png")).string());
    if (!text.empty()) {
      EXPECT_NE(std::find(report.texts.begin(), report.texts.end(), text), report.texts.end())
          << base;
    }
    ui::renderWindow(window, (folder / (base + ".svg")).string());
  };
  render(menuWindow, "menu-loading", "Loading model\xE2\x80\xA6");
  // The icon drawn is the waveform, dimmed until the model is ready.
  const auto iconOpacity = [&](const std::string &base) {
    const ui::DrawReport report = ui::renderWindow(iconWindow, (folder / (base + ".png")).string());
    EXPECT_NE(std::find(report.symbols.begin(), report.symbols.end(), "waveform"),
              report.symbols.end())
        << base;
    const auto symbol = ui::Inspector(iconWindow).findSymbol("waveform");
    return symbol ? symbol->opacity : -1.0;
  };
  render(iconWindow, "icon-loading", "");
  EXPECT_DOUBLE_EQ(iconOpacity("icon-loading"), 0.45);
  held.run(0);
  main->runUntilIdle();
  ASSERT_TRUE(coreRef->modelLoad().isModelReady());
  render(iconWindow, "icon-ready", "");
  EXPECT_DOUBLE_EQ(iconOpacity("icon-ready"), 1.0);
  press();
  main->runUntilIdle();
  render(menuWindow, "menu-recording", "Recording");
  release();
  main->runUntilIdle();
}

// Closing the setup window finishes the onboarding whatever page it shows.
class FinishFromAnyPage : public AppCoreUiTest, public ::testing::WithParamInterface<int> {};

TEST_P(FinishFromAnyPage, ClosingFinishes) {
  settings->remove("onboardingComplete");
  settings->setInt("onboardingResumePage", GetParam());
  launch();
  coreRef = core;
  openSetup().close();
  EXPECT_TRUE(settings->boolOrFalse("onboardingComplete"));
  EXPECT_TRUE(core->permissions().hotkeyPermitted());
  EXPECT_TRUE(core->hotkey().isRunning());
  EXPECT_EQ(loginItems->calls(), std::vector<std::string>{"register"});
}

INSTANTIATE_TEST_SUITE_P(Pages, FinishFromAnyPage, ::testing::Values(0, 1, 2, 3, 4));

struct LanguageModelNoteCase {
  const char *name;
  std::optional<platform::LanguageModelAvailability> availability; // absent: no model given
  bool note;
};

// The done page's language-model note shows only where the system has such a model and it
// is not available.
class LanguageModelNoteTable : public AppCoreUiTest,
                               public ::testing::WithParamInterface<LanguageModelNoteCase> {};

TEST_P(LanguageModelNoteTable, ShowsOnlyWhereTheSystemHasAModel) {
  const LanguageModelNoteCase &c = GetParam();
  if (c.availability) {
    languageModel->setAvailability(*c.availability);
  } else {
    languageModel.reset();
  }
  settings->setInt("onboardingResumePage", 4);
  launch();
  coreRef = core;
  openSetup();
  EXPECT_EQ(setup().hasText("Download Apple Intelligence in System Settings to unlock AI Refine."),
            c.note);
}

INSTANTIATE_TEST_SUITE_P(
    Systems, LanguageModelNoteTable,
    ::testing::Values(
        LanguageModelNoteCase{"available", platform::LanguageModelAvailability::available, false},
        LanguageModelNoteCase{"notEnabled", platform::LanguageModelAvailability::notEnabled, true},
        LanguageModelNoteCase{"unsupportedSystem",
                              platform::LanguageModelAvailability::unsupportedSystem, false},
        LanguageModelNoteCase{"none", std::nullopt, false}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace murmurquill
