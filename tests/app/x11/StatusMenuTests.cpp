#include "app/DesktopApp.hpp"

#include "tests/app/views/FakeUIModel.hpp"

#include "app/presenters/OnboardingWindowController.hpp"
#include "app/views/MenuBarIconLabel.hpp"
#include "platform/system/Clock.hpp"
#include "platform/system/ManualExecutor.hpp"
#include "platform/ui/Desktop.hpp"
#include "platform/ui/Window.hpp"
#include "tests/support/SessionBus.hpp"

#include <gtest/gtest.h>

#include <poll.h>

#include <algorithm>
#include <chrono>

namespace murmurquill {
namespace {

namespace ui = platform::ui;

class StatusMenuTest : public ::testing::Test {
protected:
  std::vector<ui::StatusMenuItem> items() {
    return DesktopApp::statusMenuItems(
        core.menuModel(), onboarding.menuOpener(core.onboardingModel()), [this] { ++opened; });
  }
  const ui::StatusMenuItem &find(const std::vector<ui::StatusMenuItem> &all,
                                 const std::string &label) {
    for (const auto &item : all) {
      if (item.label == label) {
        return item;
      }
    }
    ADD_FAILURE() << "no entry " << label;
    return all.front();
  }

  ui::Desktop desktop;
  testing::FakeUIModel core;
  OnboardingWindowController onboarding{desktop, platform::SteadyClock::system()};
  int opened = 0;
};

TEST_F(StatusMenuTest, TheMenusEntriesInOrder) {
  std::vector<std::string> labels;
  for (const auto &item : items()) {
    labels.push_back(item.separator ? "-" : item.label);
  }
  EXPECT_EQ(labels, (std::vector<std::string>{"Open Murmurquill", "-", "About Murmurquill",
                                              "Permissions & Setup", "Refine  Ctrl+Super+R",
                                              "Open at Login", "-", "Check for Updates\u2026",
                                              "Quit Murmurquill"}));
  core.languageModel = true;
  EXPECT_EQ(items()[4].label, "AI Refine  Ctrl+Super+R");
}

TEST_F(StatusMenuTest, EntriesRunTheMenuWindowsActions) {
  auto all = items();
  find(all, "Open Murmurquill").action();
  EXPECT_EQ(opened, 1);
  find(all, "About Murmurquill").action();
  EXPECT_NE(onboarding.aboutWindow(), nullptr);
  find(all, "Permissions & Setup").action();
  EXPECT_NE(onboarding.window(), nullptr);
  find(all, "Check for Updates\u2026").action();
  find(all, "Quit Murmurquill").action();
  EXPECT_EQ(core.calls, (std::vector<std::string>{"checkForUpdates", "quit"}));
}

TEST_F(StatusMenuTest, ToggleRowsShowAndFlipTheirState) {
  auto all = items();
  const auto &refine = find(all, "Refine  Ctrl+Super+R");
  EXPECT_TRUE(refine.toggle);
  EXPECT_TRUE(refine.checked);
  refine.action();
  EXPECT_FALSE(core.refine.peek());
  EXPECT_FALSE(find(items(), "Refine  Ctrl+Super+R").checked);

  EXPECT_FALSE(find(all, "Open at Login").checked);
  find(all, "Open at Login").action();
  EXPECT_TRUE(find(items(), "Open at Login").checked);
  find(items(), "Open at Login").action();
  EXPECT_EQ(core.calls, (std::vector<std::string>{"registerLoginItem", "unregisterLoginItem"}));
}

// A session bus without a status area (no watcher): the menu window opens by itself, so the
// app is not left running with nothing on screen.
TEST(StatusAreaFallbackTest, WithoutAWatcherTheMenuWindowOpens) {
  const auto bus = mqtest::SessionBus::address();
  if (!bus) {
    GTEST_SKIP() << "no dbus-daemon: status item tests need a session bus";
  }
  ui::Desktop desktop;
  desktop.setScreens(
      {ui::Screen{ui::makeRect(0, 0, 1200, 800), ui::makeRect(0, 0, 1200, 770), "main"}});
  ui::Window menu(desktop, ui::makeRect(0, 0, 280, 400), ui::kTitled | ui::kClosable);
  ui::StatusNotifierItem::Options options;
  options.busAddress = *bus;
  ui::StatusNotifierItem item(
      options, [] {}, [] { return std::vector<ui::StatusMenuItem>{}; });
  DesktopApp::showMenuWindowWithoutStatusArea(item, menu);
  for (int round = 0; round < 400 && !menu.isVisible(); ++round) {
    while (item.handle()) {
    }
    pollfd fd{item.fd(), POLLIN, 0};
    poll(&fd, 1, 25);
  }
  EXPECT_TRUE(menu.isVisible());
  EXPECT_TRUE(menu.isKeyWindow());
  EXPECT_TRUE(desktop.isActive());
  EXPECT_EQ(menu.frame().midX(), 600);
}

// The menu-bar icon's view as the status item draws it, over a set-up fake model.
class StatusIconTest : public ::testing::Test {
protected:
  StatusIconTest() { core->complete = true; }

  ui::Desktop desktop;
  std::shared_ptr<platform::ManualExecutor> main = std::make_shared<platform::ManualExecutor>();
  std::shared_ptr<testing::FakeUIModel> core = std::make_shared<testing::FakeUIModel>();
  OnboardingWindowController onboarding{desktop, main};
  ui::HostingView label{
      std::make_shared<MenuBarIconLabel>(
          core, core, [this] { onboarding.showOnboarding(core->onboardingModel()); }, main),
      ui::Size{22, 22}};
};

// The status item's icon is the menu-bar icon's view drawn: dimmed to 0.45 until the model is
// ready, then brought to full opacity over 0.4 s.
TEST_F(StatusIconTest, TheWaveformBrightensWhenTheModelIsReady) {
  label.setAnimationExecutor(main);
  const auto strongestAlpha = [&] {
    const ui::StatusIcon icon = DesktopApp::statusIcon(label, 22);
    EXPECT_EQ(icon.argb.size(), 22u * 22u * 4u);
    int most = 0;
    for (std::size_t i = 0; i < icon.argb.size(); i += 4) {
      most = std::max(most, static_cast<int>(icon.argb[i]));
    }
    return most / 255.0;
  };
  const double loading = strongestAlpha();
  core->modelReady.set(true);
  main->advance(std::chrono::milliseconds(200));
  const double halfway = strongestAlpha();
  main->advance(std::chrono::milliseconds(250));
  const double ready = strongestAlpha();
  EXPECT_GT(ready, 0.5);
  EXPECT_NEAR(loading / ready, 0.45, 0.02);
  EXPECT_NEAR(halfway / ready, 0.725, 0.02);
  EXPECT_FALSE(main->hasPendingTimers());
}

// Panels are dark on most desktops and light on some: the icon is a light glyph ringed with a
// dark outline, so it stands out from either, dimmed or not.
TEST_F(StatusIconTest, TheIconStandsOutOnDarkAndOnLightPanels) {
  // The brightest and darkest grey of the icon laid over a panel of grey `panel`.
  const auto extremesOver = [&](double panel) {
    const ui::StatusIcon icon = DesktopApp::statusIcon(label, 22);
    double brightest = 0, darkest = 1;
    for (std::size_t i = 0; i < icon.argb.size(); i += 4) {
      const double alpha = icon.argb[i] / 255.0;
      const double grey = (icon.argb[i + 1] + icon.argb[i + 2] + icon.argb[i + 3]) / (3 * 255.0);
      const double seen = alpha * grey + (1 - alpha) * panel;
      brightest = std::max(brightest, seen);
      darkest = std::min(darkest, seen);
    }
    return std::pair{brightest, darkest};
  };
  for (const bool ready : {false, true}) {
    core->modelReady.set(ready);
    const double shown = ready ? 1.0 : 0.45;
    EXPECT_GT(extremesOver(0.15).first, 0.15 + 0.6 * shown) << "dark panel, ready " << ready;
    EXPECT_LT(extremesOver(0.9).second, 0.9 - 0.6 * shown) << "light panel, ready " << ready;
  }
}

} // namespace
} // namespace murmurquill
