#include "app/presenters/RecordingHUD.hpp"
#include "app/presenters/RefinePanelController.hpp"
#include "app/views/HUDViewModel.hpp"

#include "platform/ui/Desktop.hpp"

#include <gtest/gtest.h>

namespace murmurquill {
namespace {

using Kind = HUDMode::Kind;

class PresenterTest : public ::testing::Test {
protected:
  PresenterTest() {
    using platform::ui::makeRect;
    desktop.setScreens({{makeRect(0, 0, 1440, 900), makeRect(0, 70, 1440, 805), "Built-in"}});
  }
  platform::ui::Desktop desktop;
};

TEST_F(PresenterTest, EveryHudModeCrossesBothWays) {
  RecordingHUD hud(desktop);
  HUDPresenter &presenter = hud;
  for (const auto &mode :
       {HUDMode::ready("Left Option"), HUDMode::of(Kind::hidden), HUDMode::of(Kind::recording),
        HUDMode::of(Kind::transcribing), HUDMode::of(Kind::notReady), HUDMode::of(Kind::micDenied),
        HUDMode::of(Kind::injectionDenied)}) {
    presenter.show(mode);
    EXPECT_EQ(presenter.mode(), mode);
    EXPECT_EQ(hud.viewModel().mode(), mode);
  }
  EXPECT_FALSE(HUDMode::ready("Left Option") == HUDMode::ready("Right Option"));
}

TEST_F(PresenterTest, HudPresenterShowsAndHidesTheWindow) {
  RecordingHUD hud(desktop);
  HUDPresenter &presenter = hud;
  EXPECT_FALSE(presenter.isPanelVisible());
  presenter.setMode(HUDMode::of(Kind::transcribing));
  EXPECT_FALSE(presenter.isPanelVisible()) << "a hidden panel is left for show()";
  presenter.show(HUDMode::of(Kind::recording));
  EXPECT_TRUE(presenter.isPanelVisible());
  EXPECT_EQ(presenter.mode(), HUDMode::of(Kind::recording));
  presenter.setMode(HUDMode::of(Kind::transcribing));
  EXPECT_EQ(presenter.mode(), HUDMode::of(Kind::transcribing));
  EXPECT_EQ(hud.viewModel().mode(), HUDMode::transcribing());
  presenter.show(HUDMode::of(Kind::hidden));
  EXPECT_FALSE(presenter.isPanelVisible());
}

TEST_F(PresenterTest, RefinePresenterSendsResultsOnlyToTheirPanel) {
  RefinePanelController controller(desktop);
  RefinePresenter &presenter = controller;
  const auto first =
      presenter.show([](const std::string &) { return true; }, [](const std::string &) {});
  const auto second =
      presenter.show([](const std::string &) { return true; }, [](const std::string &) {});
  EXPECT_NE(first, second);
  presenter.showResult("stale", first);
  ASSERT_TRUE(controller.currentState());
  EXPECT_TRUE(controller.currentState()->isLoading());
  presenter.showResult("fresh", second);
  EXPECT_FALSE(controller.currentState()->isLoading());
  EXPECT_EQ(controller.currentState()->refined(), "fresh");
}

} // namespace
} // namespace murmurquill
