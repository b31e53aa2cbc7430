#include "app/presenters/OnboardingWindowController.hpp"
#include "app/views/AboutView.hpp"
#include "app/views/OnboardingView.hpp"

#include "FakeUIModel.hpp"
#include "UiTestSupport.hpp"

#include "platform/system/Clock.hpp"
#include "platform/ui/Inspector.hpp"
#include "tests/support/ui/WindowRenderer.hpp"

#include "platform/system/ManualExecutor.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace murmurquill {
namespace {

namespace ui = platform::ui;
using Step = OnboardingView::Step;

class OnboardingTest : public ::testing::Test {
protected:
  void SetUp() override { testing::setUpTwoScreens(desktop); }

  ui::Window &open(std::optional<std::int64_t> page = std::nullopt) {
    core.savedPage = page;
    controller.showOnboarding(core.onboardingModel());
    return *controller.window();
  }
  ui::Inspector inspector() { return ui::Inspector(*controller.window()); }
  OnboardingView &view() { return *controller.onboardingView(); }
  bool backShown() {
    const auto back = inspector().findText("\u2190 Back");
    return back.has_value();
  }

  ui::Desktop desktop;
  std::shared_ptr<platform::ManualSteadyClock> clock =
      std::make_shared<platform::ManualSteadyClock>();
  testing::FakeUIModel core;
  OnboardingWindowController controller{desktop, clock};
};

TEST(OnboardingPages, PageNumbersAreLimitedToTheSteps) {
  EXPECT_EQ(OnboardingView::stepFor(-2), Step::welcome);
  EXPECT_EQ(OnboardingView::stepFor(0), Step::welcome);
  EXPECT_EQ(OnboardingView::stepFor(3), Step::accessibility);
  EXPECT_EQ(OnboardingView::stepFor(4), Step::done);
  EXPECT_EQ(OnboardingView::stepFor(7), Step::done);
  EXPECT_EQ(OnboardingView::permissionCountSubtitle(), "Three quick permissions to set up");
  EXPECT_EQ(percentText(0.456), "45%");
  EXPECT_EQ(percentText(1.0), "100%");
  EXPECT_EQ(timerText(std::chrono::seconds(65)), "1:05");
  EXPECT_EQ(timerText(std::chrono::seconds(3725)), "1:02:05");
}

TEST_F(OnboardingTest, FooterWalksThePagesWithBackHiddenOnTheFirst) {
  ui::Window &window = open();
  EXPECT_EQ(window.title(), "Welcome to Murmurquill");
  EXPECT_EQ(window.contentRect().size, (ui::Size{460, 540}));
  EXPECT_TRUE(desktop.isActive());
  EXPECT_FALSE(backShown());
  EXPECT_TRUE(inspector().hasText("Continue"));
  // Continue has no shortcut before the last page.
  EXPECT_FALSE(inspector().key(ui::Key::returnKey(), ui::kCommand));
  const std::vector<const char *> titles{"Murmurquill", "Input Monitoring", "Microphone",
                                         "Accessibility", "You're all set!"};
  for (std::size_t page = 0; page < titles.size(); ++page) {
    EXPECT_EQ(view().page(), static_cast<std::int64_t>(page));
    EXPECT_TRUE(inspector().hasText(titles[page])) << titles[page];
    if (page < 4) {
      inspector().press("Continue");
    }
  }
  EXPECT_TRUE(backShown());
  EXPECT_TRUE(inspector().hasText("Close"));
  EXPECT_FALSE(inspector().hasText("Continue"));
  core.modelReady.set(true);
  EXPECT_TRUE(inspector().hasText("Start Dictating"));
  inspector().press("\u2190 Back");
  EXPECT_EQ(view().page(), 3);
}

TEST_F(OnboardingTest, OutOfRangeStartPagesShowTheNearestPage) {
  open(7);
  EXPECT_TRUE(inspector().hasText("You're all set!"));
  inspector().press("\u2190 Back");
  EXPECT_EQ(view().page(), 6);
  EXPECT_TRUE(inspector().hasText("You're all set!"));
  controller.window()->close();
  open(-2);
  EXPECT_TRUE(inspector().hasText("On-device dictation, everywhere."));
  EXPECT_FALSE(backShown());
  inspector().press("Continue");
  EXPECT_EQ(view().page(), -1);
  EXPECT_TRUE(inspector().hasText("On-device dictation, everywhere."));
}

TEST_F(OnboardingTest, CommandReturnOnTheLastPageDismissesAndFinishes) {
  open(4);
  EXPECT_TRUE(inspector().key(ui::Key::returnKey(), ui::kCommand));
  EXPECT_FALSE(controller.window()->isVisible());
  EXPECT_TRUE(core.complete);
  EXPECT_TRUE(core.hotkeyPermitted);
}

TEST_F(OnboardingTest, ClosingOnAnyPageFinishesTheOnboarding) {
  open();
  core.calls.clear();
  controller.window()->close();
  EXPECT_TRUE(core.complete);
  EXPECT_TRUE(core.hotkeyPermitted);
  EXPECT_EQ(core.calls, (std::vector<std::string>{"permitHotkey", "startHotkey",
                                                  "noteUserWaitingForModel", "registerLoginItem"}));
  // A registered login item is left alone the next time.
  open();
  core.calls.clear();
  controller.window()->close();
  EXPECT_FALSE(core.called("registerLoginItem"));
}

TEST_F(OnboardingTest, ResumePageIsUsedOnceAndAVisibleWindowKeepsItsPage) {
  open(3);
  EXPECT_EQ(view().page(), 3);
  EXPECT_FALSE(core.savedPage.has_value());
  ui::Window *first = controller.window();
  core.savedPage = 1;
  controller.showOnboarding(core.onboardingModel());
  EXPECT_EQ(controller.window(), first);
  EXPECT_EQ(view().page(), 3);
  EXPECT_EQ(core.savedPage, 1);
  controller.window()->close();
  core.savedPage.reset();
  controller.showOnboarding(core.onboardingModel());
  EXPECT_NE(controller.window(), first);
  EXPECT_EQ(view().page(), 0);
}

TEST_F(OnboardingTest, RelaunchSavesThePage) {
  open(3);
  inspector().press("Already granted it? Relaunch");
  EXPECT_EQ(core.savedPage, 3);
  EXPECT_TRUE(core.called("relaunch"));
}

TEST_F(OnboardingTest, ActivationRefreshRetriesAndRereads) {
  open();
  core.calls.clear();
  controller.applicationDidBecomeActive();
  EXPECT_EQ(core.calls,
            (std::vector<std::string>{"startHotkey", "refreshMicStatus", "refreshAccessibility"}));
}

struct HotkeyTextCase {
  const char *name;
  const char *label;
  const char *spoken;
};

class OnboardingHotkeyTextTest : public OnboardingTest,
                                 public ::testing::WithParamInterface<HotkeyTextCase> {};

TEST_P(OnboardingHotkeyTextTest, PagesNameTheKey) {
  const HotkeyTextCase &c = GetParam();
  core.label.set(c.label);
  core.spoken.set(c.spoken);
  open();
  const auto welcome = inspector().findText(std::string("Hold ") + c.spoken +
                                            " in any app to start dictating. Murmurquill "
                                            "transcribes your voice entirely on this computer "
                                            "\u2014 audio never leaves your device.");
  ASSERT_TRUE(welcome);
  ASSERT_EQ(welcome->node->as<ui::TextContent>().runs.size(), 3u);
  EXPECT_TRUE(welcome->node->as<ui::TextContent>().runs[1].bold);
  EXPECT_EQ(welcome->node->as<ui::TextContent>().runs[1].text, c.spoken);
  inspector().press("Continue");
  EXPECT_TRUE(inspector().hasText(std::string("Murmurquill listens for the ") + c.label +
                                  " key system-wide, even when another app is in the "
                                  "foreground. No other keystrokes are captured."));
  inspector().press("Continue");
  EXPECT_TRUE(inspector().hasText(std::string("Audio is recorded only while you hold ") + c.label +
                                  ". Transcription runs locally on this computer \u2014 nothing is "
                                  "sent to the internet."));
  inspector().press("Continue");
  inspector().press("Continue");
  EXPECT_TRUE(inspector().hasText(std::string("Hold ") + c.spoken + " in any app to start."));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, OnboardingHotkeyTextTest,
    ::testing::Values(HotkeyTextCase{"rightOption", "Right Option", "the Right Option key"},
                      HotkeyTextCase{"leftOption", "Left Option", "the Left Option key"},
                      HotkeyTextCase{"optionZ", "Option-Z", "Option-Z"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(OnboardingTest, PermissionPagesFollowTheGrantsAndAct) {
  open(1);
  EXPECT_TRUE(core.hotkeyPermitted); // the page permits and starts the hotkey on appearing
  EXPECT_TRUE(core.called("startHotkey"));
  EXPECT_TRUE(inspector().hasText("Permission needed"));
  inspector().press("Open Input Monitoring Settings");
  EXPECT_EQ(desktop.openedURLs().back(), OnboardingView::kInputMonitoringURL);
  core.inputMonitoring.set(true);
  EXPECT_TRUE(inspector().hasText("Permission granted"));
  EXPECT_TRUE(inspector().hasText("Hotkey is active \u2014 you're good to go."));
  EXPECT_FALSE(inspector().hasText("Already granted it? Relaunch"));
  EXPECT_EQ(inspector().findKind(ui::NodeKind::button).size(), 2u); // only Back and Continue

  inspector().press("Continue");
  struct MicCase {
    int status;
    const char *button;
  };
  for (const MicCase &c :
       {MicCase{0, "Allow Microphone Access"}, MicCase{1, "Open Microphone Settings"},
        MicCase{2, "Open Microphone Settings"}, MicCase{3, ""}}) {
    core.mic.set(c.status);
    if (*c.button == '\0') {
      EXPECT_TRUE(inspector().hasText("Permission granted"));
      EXPECT_FALSE(inspector().hasText("Open Microphone Settings"));
      continue;
    }
    inspector().press(c.button);
  }
  EXPECT_TRUE(core.called("requestMicrophoneAccess"));
  EXPECT_EQ(desktop.openedURLs().back(), OnboardingView::kMicrophoneURL);
  EXPECT_FALSE(core.called("requestAccessibility")); // not before the accessibility page shows

  inspector().press("Continue");
  EXPECT_TRUE(core.called("requestAccessibility"));
  EXPECT_TRUE(inspector().hasText(
      "Enable Murmurquill in System Settings \u2192 Privacy & Security \u2192 Accessibility, then "
      "relaunch \u2014 a new grant doesn't reach an app that's already running."));
  core.accessibility.set(true);
  EXPECT_TRUE(inspector().hasText("Text injection is active."));
}

// On the main executor the counter counts by itself, every second, while it is shown, and
// no timer runs once it is gone.
TEST(OnboardingCounter, ThePreparingCounterCountsWhileShown) {
  ui::Desktop desktop;
  auto main = std::make_shared<platform::ManualExecutor>();
  desktop.setAnimationExecutor(main);
  testing::FakeUIModel core;
  OnboardingWindowController controller{desktop, main};
  core.savedPage = 4;
  core.status.set("Preparing the speech model");
  core.initStartedAt.set(main->now());
  controller.showOnboarding(core.onboardingModel());
  ui::Inspector inspector(*controller.window());
  EXPECT_TRUE(inspector.hasText("0:00"));
  main->advance(std::chrono::seconds(42));
  EXPECT_TRUE(inspector.hasText("0:42"));
  main->advance(std::chrono::seconds(23));
  EXPECT_TRUE(inspector.hasText("1:05"));
  core.initStartedAt.set(std::nullopt);
  core.status.set("Ready");
  EXPECT_FALSE(inspector.hasText("1:05"));
  EXPECT_FALSE(main->hasPendingTimers());
}

TEST_F(OnboardingTest, ModelCardShowsDownloadPreparingFailedAndGoes) {
  open(4);
  // Downloading without a fraction: empty bar, no percentage.
  EXPECT_TRUE(inspector().hasText("Downloading the speech model \u2014 this happens once."));
  auto bars = inspector().findKind(ui::NodeKind::progress);
  ASSERT_EQ(bars.size(), 1u);
  EXPECT_EQ(bars[0].node->as<ui::ProgressContent>().value, 0.0);
  core.progress.set(0.456);
  core.detail.set(std::string("file 4 of 10 \u00b7 20s remaining"));
  EXPECT_TRUE(inspector().hasText("45%"));
  EXPECT_TRUE(inspector().hasText("file 4 of 10 \u00b7 20s remaining"));
  EXPECT_TRUE(
      inspector().hasText("Safe to close this window \u2014 setup continues in the background."));
  core.progress.set(1.0);
  EXPECT_TRUE(inspector().hasText("100%"));

  core.status.set("Preparing the speech model");
  core.initStartedAt.set(clock->now());
  clock->advance(std::chrono::seconds(42));
  core.status.set("Preparing the speech model.");
  EXPECT_TRUE(inspector().hasText("0:42"));
  EXPECT_TRUE(inspector().findSymbol("cpu"));
  EXPECT_TRUE(inspector().hasText("Preparing the model. Takes up to a minute or two the first "
                                  "time \u2014 after this, it loads in about a second."));

  core.loadFailed.set(true);
  core.status.set("Download failed");
  EXPECT_TRUE(inspector().hasText("Check your internet connection and try again."));
  EXPECT_FALSE(
      inspector().hasText("Safe to close this window \u2014 setup continues in the background."));
  inspector().press("Retry");
  EXPECT_TRUE(core.called("loadModel"));

  core.loadFailed.set(false);
  core.modelReady.set(true);
  EXPECT_FALSE(inspector().findById("modelStatusCard"));
  EXPECT_TRUE(inspector().hasText(
      "Some permissions are missing \u2014 the menu bar icon will show details."));
  EXPECT_TRUE(
      inspector().hasText("Download Apple Intelligence in System Settings to unlock AI Refine."));
  core.inputMonitoring.set(true);
  core.mic.set(3);
  core.accessibility.set(true);
  EXPECT_FALSE(inspector().hasText(
      "Some permissions are missing \u2014 the menu bar icon will show details."));
}

TEST_F(OnboardingTest, AboutWindowIsReusedWhileVisibleAndFallsBackToVersionOneOne) {
  controller.showAbout(core);
  ui::Window *about = controller.aboutWindow();
  EXPECT_EQ(about->title(), "About Murmurquill");
  EXPECT_EQ(about->contentRect().size, (ui::Size{340, 280}));
  ui::Inspector inspect(*about);
  EXPECT_TRUE(inspect.hasText("Version 2.0"));
  EXPECT_TRUE(inspect.hasText("On-device dictation for Linux."));
  EXPECT_TRUE(inspect.hasText("Website"));
  EXPECT_TRUE(inspect.hasText("Support"));
  controller.showAbout(core);
  EXPECT_EQ(controller.aboutWindow(), about);
  about->close();
  core.version.reset();
  controller.showAbout(core);
  EXPECT_NE(controller.aboutWindow(), about);
  EXPECT_TRUE(ui::Inspector(*controller.aboutWindow()).hasText("Version 1.1"));
}

TEST_F(OnboardingTest, RendersEveryPageAndTheAboutWindow) {
  const auto folder = testing::renderFolder("onboarding");
  core.progress.set(0.62);
  core.detail.set(std::string("file 7 of 10 \u00b7 12s remaining"));
  open();
  const std::vector<std::pair<const char *, const char *>> pages{
      {"welcome", "On-device dictation, everywhere."},
      {"input-monitoring", "Input Monitoring"},
      {"microphone", "Microphone"},
      {"accessibility", "Accessibility"},
      {"done", "You're all set!"}};
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const std::string base = std::string("setup-") + std::to_string(i) + "-" + pages[i].first;
    const ui::DrawReport report =
        ui::renderWindow(*controller.window(), (folder / (base + ".png")).string());
    EXPECT_NE(std::find(report.texts.begin(), report.texts.end(), pages[i].second),
              report.texts.end())
        << base;
    ui::renderWindow(*controller.window(), (folder / (base + ".svg")).string());
    if (i + 1 < pages.size()) {
      inspector().press("Continue");
    }
  }
  controller.showAbout(core);
  const ui::DrawReport about =
      ui::renderWindow(*controller.aboutWindow(), (folder / "about.png").string());
  EXPECT_NE(std::find(about.texts.begin(), about.texts.end(), "Version 2.0"), about.texts.end());
  ui::renderWindow(*controller.aboutWindow(), (folder / "about.svg").string());
}

TEST_F(OnboardingTest, RendersTheDonePageInEachModelState) {
  const auto folder = testing::renderFolder("onboarding");
  open(4);
  struct State {
    const char *name;
    std::function<void()> set;
    const char *text;
  };
  const std::vector<State> states{
      {"downloading-unknown", [] {}, "Downloading the speech model \u2014 this happens once."},
      {"preparing",
       [this] {
         core.status.set("Preparing the speech model");
         core.initStartedAt.set(clock->now());
         clock->advance(std::chrono::seconds(75));
         core.status.set(std::string("Preparing the speech model "));
       },
       "1:15"},
      {"failed",
       [this] {
         core.initStartedAt.set(std::nullopt);
         core.loadFailed.set(true);
         core.status.set("Download failed");
       },
       "Check your internet connection and try again."},
      {"ready",
       [this] {
         core.loadFailed.set(false);
         core.modelReady.set(true);
         core.inputMonitoring.set(true);
         core.mic.set(3);
         core.accessibility.set(true);
       },
       "Start Dictating"},
  };
  for (const State &state : states) {
    state.set();
    const std::string base = std::string("setup-4-done-") + state.name;
    const ui::DrawReport report =
        ui::renderWindow(*controller.window(), (folder / (base + ".png")).string());
    EXPECT_NE(std::find(report.texts.begin(), report.texts.end(), state.text), report.texts.end())
        << base;
    ui::renderWindow(*controller.window(), (folder / (base + ".svg")).string());
  }
}

} // namespace
} // namespace murmurquill
