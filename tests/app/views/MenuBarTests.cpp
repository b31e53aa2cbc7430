#include "app/presenters/OnboardingWindowController.hpp"
#include "app/views/MenuBarView.hpp"

#include "FakeUIModel.hpp"
#include "UiTestSupport.hpp"

#include "platform/ui/Inspector.hpp"
#include "platform/ui/Window.hpp"
#include "tests/support/ui/LayoutCheck.hpp"
#include "tests/support/ui/WindowRenderer.hpp"

#include <gtest/gtest.h>

namespace murmurquill {
namespace {

namespace ui = platform::ui;

class MenuBarTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing::setUpTwoScreens(desktop);
    grantAll();
    core.modelReady.set(true);
  }
  void grantAll() {
    core.inputMonitoring.set(true);
    core.mic.set(3);
    core.accessibility.set(true);
  }
  ui::HostingView &menu() {
    if (!host) {
      host = std::make_unique<ui::HostingView>(
          std::make_shared<MenuBarView>(core.menuModel(),
                                        onboarding.menuOpener(core.onboardingModel())),
          ui::Size{280, 420});
    }
    return *host;
  }
  ui::Inspector inspector() { return ui::Inspector(menu()); }
  MenuBarView &view() { return static_cast<MenuBarView &>(menu().root()); }

  ui::Desktop desktop;
  testing::FakeUIModel core;
  OnboardingWindowController onboarding{desktop, platform::SteadyClock::system()};
  std::unique_ptr<ui::HostingView> host;
};

struct StatusCase {
  const char *name;
  bool failed, ready, missing, recording, transcribing;
  const char *text;
  ui::Color colour;
};

class MenuStatusTest : public MenuBarTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(MenuStatusTest, FirstMatchingRowWins) {
  const StatusCase &c = GetParam();
  core.loadFailed.set(c.failed);
  core.modelReady.set(c.ready);
  core.accessibility.set(!c.missing);
  core.recording.set(c.recording);
  core.transcribing.set(c.transcribing);
  const auto text = inspector().findText(c.text);
  ASSERT_TRUE(text) << c.text;
  EXPECT_EQ(MenuBarView::status(core.menuModel()).colour, c.colour);
  EXPECT_EQ(text->font, ui::Font::callout());
  // The pulse ring follows recording alone.
  const auto ring = inspector().findById("pulseRing");
  ASSERT_TRUE(ring);
  EXPECT_EQ(ring->node->scale, c.recording ? 1.0 : 0.0);
  // The permission block and the dimmed hotkey block follow the permissions alone.
  EXPECT_EQ(inspector().hasText("Permissions needed"), c.missing);
  EXPECT_DOUBLE_EQ(inspector().findText("Hold to dictate")->opacity, c.missing ? 0.5 : 1.0);
}

INSTANTIATE_TEST_SUITE_P(Rows, MenuStatusTest,
                         ::testing::Values(StatusCase{"failedBeatsAll", true, false, true, true,
                                                      true, "Download failed", ui::Color::red()},
                                           StatusCase{"loading", false, false, true, false, false,
                                                      "Loading model\u2026", ui::Color::orange()},
                                           StatusCase{"setup", false, true, true, true, false,
                                                      "Setup needed", ui::Color::orange()},
                                           StatusCase{"recording", false, true, false, true, true,
                                                      "Recording", ui::Color::red()},
                                           StatusCase{"transcribing", false, true, false, false,
                                                      true, "Transcribing", ui::Color::blue()},
                                           StatusCase{"ready", false, true, false, false, false,
                                                      "Ready", ui::Color::green()}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(MenuBarTest, PermissionRowsListOnlyWhatIsMissing) {
  EXPECT_FALSE(inspector().hasText("Permissions needed"));
  core.mic.set(0);
  EXPECT_TRUE(inspector().hasText("Microphone access"));
  EXPECT_FALSE(inspector().hasText("Accessibility access"));
  core.mic.set(3);
  core.accessibility.set(false);
  EXPECT_TRUE(inspector().hasText("Permissions needed"));
  EXPECT_TRUE(inspector().hasText("Accessibility access"));
  EXPECT_FALSE(inspector().hasText("Microphone access"));
  EXPECT_FALSE(inspector().hasText("Input Monitoring (hotkey)"));
  inspector().press("Open setup guide \u2192");
  ASSERT_NE(onboarding.window(), nullptr);
  EXPECT_TRUE(onboarding.window()->isVisible());
}

TEST_F(MenuBarTest, PickerChangesTheHotkeyAndTheRowsAct) {
  EXPECT_EQ(inspector().findKind(ui::NodeKind::picker).at(0).node->as<ui::PickerContent>().options,
            (std::vector<std::string>{"Right Option", "Right Command", "Left Option"}));
  inspector().choose("Right Command");
  EXPECT_EQ(core.selectedKey.peek(), 1);
  inspector().press("Check for Updates\u2026");
  EXPECT_TRUE(core.called("checkForUpdates"));
  EXPECT_TRUE(inspector().key(ui::Key::of('q'), ui::kCommand));
  EXPECT_TRUE(core.called("quit"));
  inspector().press("About Murmurquill");
  EXPECT_NE(onboarding.aboutWindow(), nullptr);
}

TEST_F(MenuBarTest, RefineRowShowsItsVariantAndToggles) {
  EXPECT_TRUE(inspector().hasText("Refine  Ctrl+Super+R"));
  EXPECT_FALSE(inspector().hasText("Experimental"));
  inspector().press("Refine  Ctrl+Super+R");
  EXPECT_FALSE(core.refine.peek());
  core.languageModel = true;
  core.refine.set(true);
  EXPECT_TRUE(inspector().hasText("AI Refine  Ctrl+Super+R"));
  EXPECT_TRUE(inspector().hasText("Experimental"));
}

TEST_F(MenuBarTest, RowsLightUpUnderThePointer) {
  inspector().hover("Permissions & Setup", true);
  EXPECT_EQ(inspector().findText("Permissions & Setup")->foreground, ui::Color::white());
  EXPECT_EQ(inspector().findText("About Murmurquill")->foreground, ui::Color::primary());
  inspector().hover("Permissions & Setup", false);
  EXPECT_EQ(inspector().findText("Permissions & Setup")->foreground, ui::Color::primary());
}

// The checkmark is read again every time the menu window shows: something else (the setup
// window) may have written the autostart entry meanwhile.
TEST_F(MenuBarTest, OpenAtLoginIsReadAgainWhenTheMenuWindowShowsAgain) {
  ui::Window window(desktop, ui::makeRect(0, 0, 280, 400), ui::kTitled | ui::kClosable);
  window.setContentView(std::make_unique<ui::HostingView>(std::make_shared<MenuBarView>(
                            core.menuModel(), onboarding.menuOpener(core.onboardingModel()))),
                        /*fitsContent=*/true);
  window.makeKeyAndOrderFront();
  auto &shown = static_cast<MenuBarView &>(window.contentView()->root());
  EXPECT_FALSE(shown.launchAtLogin());
  window.close();
  core.loginStatus = platform::LoginItemStatus::enabled;
  window.makeKeyAndOrderFront();
  EXPECT_TRUE(shown.launchAtLogin());
  EXPECT_EQ(core.loginStatus, platform::LoginItemStatus::enabled);
}

// The entry written or removed elsewhere while the menu shows (the setup window registers it):
// the row's checkmark follows without the menu appearing again.
TEST_F(MenuBarTest, OpenAtLoginFollowsTheEntryWhileTheMenuShows) {
  ui::Window window(desktop, ui::makeRect(0, 0, 280, 400), ui::kTitled | ui::kClosable);
  window.setContentView(
      std::make_unique<ui::HostingView>(std::make_shared<MenuBarView>(
          core.menuModel(), onboarding.menuOpener(core.onboardingModel()))),
      /*fitsContent=*/true);
  window.makeKeyAndOrderFront();
  auto &shown = static_cast<MenuBarView &>(window.contentView()->root());
  EXPECT_FALSE(testing::loginRowChecked(ui::Inspector(window)));
  core.setLoginStatus(platform::LoginItemStatus::enabled);
  EXPECT_TRUE(shown.launchAtLogin());
  EXPECT_TRUE(testing::loginRowChecked(ui::Inspector(window)));
  core.setLoginStatus(platform::LoginItemStatus::notRegistered);
  EXPECT_FALSE(shown.launchAtLogin());
  EXPECT_FALSE(testing::loginRowChecked(ui::Inspector(window)));
  // The row's own clicks still run their sequence once each.
  ui::Inspector(window).press("Open at Login");
  EXPECT_TRUE(shown.launchAtLogin());
  EXPECT_EQ(core.calls, std::vector<std::string>{"registerLoginItem"});
  EXPECT_TRUE(testing::loginRowChecked(ui::Inspector(window)));
}

TEST_F(MenuBarTest, LoginItemSequenceFollowsTheServiceStatus) {
  EXPECT_FALSE(view().launchAtLogin());
  inspector().press("Open at Login");
  EXPECT_TRUE(view().launchAtLogin());
  EXPECT_EQ(core.calls, std::vector<std::string>{"registerLoginItem"});
  // Waiting for the user's approval: the checkmark goes off and the registration is withdrawn.
  core.calls.clear();
  core.loginStatus = platform::LoginItemStatus::notRegistered;
  core.registerGives = platform::LoginItemStatus::requiresApproval;
  host.reset();
  inspector().press("Open at Login");
  EXPECT_FALSE(view().launchAtLogin());
  EXPECT_EQ(core.calls, (std::vector<std::string>{"registerLoginItem", "unregisterLoginItem"}));
}

TEST_F(MenuBarTest, LoginItemSequenceStopsWhenTheStatusKeepsFlipping) {
  // A service that reports the opposite of every request.
  core.registerGives = platform::LoginItemStatus::notRegistered;
  core.unregisterGives = platform::LoginItemStatus::enabled;
  inspector().press("Open at Login");
  EXPECT_EQ(core.calls, (std::vector<std::string>{"registerLoginItem", "unregisterLoginItem",
                                                  "registerLoginItem"}));
}

// Clicking the key picker opens the menu of the keys, the current one checked, over the
// picker; choosing "Right Command" selects it and closes the menu.
TEST_F(MenuBarTest, TheKeyPickerOpensAMenuOfTheKeys) {
  ui::Window window(desktop, ui::makeRect(200, 300, 280, 420), ui::kBorderless);
  window.setContentView(std::make_unique<ui::HostingView>(
                            std::make_shared<MenuBarView>(
                                core.menuModel(), onboarding.menuOpener(core.onboardingModel())),
                            ui::Size{280, 420}),
                        /*fitsContent=*/true);
  window.orderFrontRegardless();
  ui::Inspector inspect(window);
  const auto picker = inspect.findKind(ui::NodeKind::picker).at(0);
  EXPECT_TRUE(inspect.click({picker.frame.midX(), picker.frame.midY()}));
  ui::Window *menu = desktop.popUpMenu();
  ASSERT_NE(menu, nullptr);
  ui::Inspector rows(*menu);
  EXPECT_EQ(rows.texts(),
            (std::vector<std::string>{"Right Option", "Right Command", "Left Option"}));
  EXPECT_EQ(rows.findText("Right Option")->font, ui::Font::caption());
  EXPECT_TRUE(mqtest::layoutProblems(*menu).empty());
  ui::renderDesktop(desktop, (testing::renderFolder("menu") / "menu-key-picker.png").string());
  rows.press("Right Command");
  EXPECT_EQ(core.selectedKey.peek(), 1);
  EXPECT_EQ(desktop.popUpMenu(), nullptr);
}

TEST_F(MenuBarTest, RendersWithAndWithoutMissingPermissions) {
  const auto folder = testing::renderFolder("menu");
  ui::Window window(desktop, ui::makeRect(0, 0, 280, 420), ui::kBorderless);
  window.setContentView(std::make_unique<ui::HostingView>(
                            std::make_shared<MenuBarView>(
                                core.menuModel(), onboarding.menuOpener(core.onboardingModel())),
                            ui::Size{280, 420}),
                        /*fitsContent=*/true);
  window.orderFrontRegardless();
  auto report = ui::renderWindow(window, (folder / "menu-ready.png").string());
  EXPECT_NE(std::find(report.texts.begin(), report.texts.end(), "Ready"), report.texts.end());
  ui::renderWindow(window, (folder / "menu-ready.svg").string());
  core.accessibility.set(false);
  core.mic.set(2);
  report = ui::renderWindow(window, (folder / "menu-setup-needed.png").string());
  EXPECT_NE(std::find(report.texts.begin(), report.texts.end(), "Permissions needed"),
            report.texts.end());
  ui::renderWindow(window, (folder / "menu-setup-needed.svg").string());
}

} // namespace
} // namespace murmurquill
