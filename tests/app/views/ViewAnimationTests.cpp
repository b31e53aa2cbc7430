#include "app/presenters/OnboardingWindowController.hpp"
#include "app/views/MenuBarView.hpp"

#include "FakeUIModel.hpp"
#include "UiTestSupport.hpp"

#include "platform/system/ManualExecutor.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/Inspector.hpp"
#include "platform/ui/Window.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace murmurquill {
namespace {

namespace ui = platform::ui;
using std::chrono::milliseconds;

ui::RGBA mix(const ui::RGBA &a, const ui::RGBA &b, double t) {
  return {a.red + (b.red - a.red) * t, a.green + (b.green - a.green) * t,
          a.blue + (b.blue - a.blue) * t, a.alpha + (b.alpha - a.alpha) * t};
}

void expectNear(const std::optional<ui::RGBA> &drawn, const ui::RGBA &expected) {
  ASSERT_TRUE(drawn.has_value());
  EXPECT_NEAR(drawn->red, expected.red, 0.01);
  EXPECT_NEAR(drawn->green, expected.green, 0.01);
  EXPECT_NEAR(drawn->blue, expected.blue, 0.01);
  EXPECT_NEAR(drawn->alpha, expected.alpha, 0.01);
}

// The views' animations run on a manual clock; the drawn values are read at chosen instants.
class ViewAnimationTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing::setUpTwoScreens(desktop);
    desktop.setAnimationExecutor(main);
    core.inputMonitoring.set(true);
    core.mic.set(3);
    core.accessibility.set(true);
  }

  std::shared_ptr<platform::ManualExecutor> main = std::make_shared<platform::ManualExecutor>();
  ui::Desktop desktop;
  testing::FakeUIModel core;
  OnboardingWindowController onboarding{desktop, main};
};

class MenuAnimationTest : public ViewAnimationTest {
protected:
  void SetUp() override {
    ViewAnimationTest::SetUp();
    core.modelReady.set(true);
    host = std::make_unique<ui::HostingView>(
        std::make_shared<MenuBarView>(core.menuModel(),
                                      onboarding.menuOpener(core.onboardingModel())),
        ui::Size{280, 420});
    host->setAnimationExecutor(main);
    host->layout();
  }
  std::unique_ptr<ui::HostingView> host;
};

// A row lights up over 0.08 s, ease-in-out: half way there at 0.04 s.
TEST_F(MenuAnimationTest, RowHoverColoursEaseInOverTheirDuration) {
  ui::Inspector inspector(*host);
  inspector.hover("Permissions & Setup", true);
  const std::string text = inspector.findText("Permissions & Setup")->identity;
  const ui::RGBA primary = ui::Color::primary().resolve(ui::Appearance::light);
  const ui::RGBA white = ui::Color::white().resolve(ui::Appearance::light);
  const ui::RGBA accent = ui::Color::accent().resolve(ui::Appearance::light);
  expectNear(host->animatedColour(text, "foreground"), primary);
  main->advance(milliseconds(40));
  expectNear(host->animatedColour(text, "foreground"), mix(primary, white, 0.5));
  std::vector<ui::RGBA> fills;
  for (const ui::Element &e : inspector.elements()) {
    if (const auto fill = host->animatedColour(e.identity, "fill")) {
      fills.push_back(*fill);
    }
  }
  ASSERT_EQ(fills.size(), 1u);
  expectNear(fills.front(), ui::RGBA{accent.red, accent.green, accent.blue, 0.5});
  main->advance(milliseconds(60));
  EXPECT_FALSE(host->animatedColour(text, "foreground"));
  EXPECT_FALSE(host->isAnimating());
  EXPECT_FALSE(main->hasPendingTimers());
}

// While recording, the ring around the status dot grows to full size in 0.7 s and shrinks
// back in the next 0.7 s, for as long as it records; then it settles at nothing.
TEST_F(MenuAnimationTest, TheRecordingRingPulses) {
  ui::Inspector inspector(*host);
  const std::string ring = inspector.findById("pulseRing")->identity;
  core.recording.set(true);
  for (const auto &[at, scale] : std::vector<std::pair<int, double>>{
           {350, 0.5}, {350, 1.0}, {350, 0.5}, {350, 0.0}, {700, 1.0}}) {
    main->advance(milliseconds(at));
    ASSERT_TRUE(host->animatedValue(ring, "scale"));
    EXPECT_NEAR(*host->animatedValue(ring, "scale"), scale, 0.01);
  }
  core.recording.set(false);
  main->advance(milliseconds(350));
  EXPECT_NEAR(host->animatedValue(ring, "scale").value_or(-1), 0.5, 0.01);
  main->advance(milliseconds(400));
  EXPECT_FALSE(host->isAnimating());
  EXPECT_FALSE(main->hasPendingTimers());
}

class OnboardingAnimationTest : public ViewAnimationTest {
protected:
  ui::HostingView &host() { return *onboarding.window()->contentView(); }
  ui::Inspector inspector() { return ui::Inspector(*onboarding.window()); }
  std::vector<ui::Element> dots() {
    std::vector<ui::Element> out;
    for (const ui::Element &e : inspector().elements()) {
      if (e.kind == ui::NodeKind::shape &&
          e.node->as<ui::ShapeContent>().shape == ui::ShapeKind::circle) {
        out.push_back(e);
      }
    }
    return out;
  }
};

// "Continue" fades the next page in over 0.22 s; the dots trade colour and size over 0.2 s.
TEST_F(OnboardingAnimationTest, APageChangeFadesInAndTheDotsFollow) {
  core.savedPage = 0;
  onboarding.showOnboarding(core.onboardingModel());
  ASSERT_EQ(dots().size(), 5u);
  inspector().press("Continue");
  const auto page = inspector().findText("Input Monitoring");
  ASSERT_TRUE(page);
  std::optional<double> pageOpacity;
  for (const ui::Element &e : inspector().elements()) {
    if (!pageOpacity && e.identity.find("#inputMonitoring") != std::string::npos) {
      pageOpacity = host().animatedValue(e.identity, "opacity");
    }
  }
  ASSERT_TRUE(pageOpacity);
  EXPECT_NEAR(*pageOpacity, 0.0, 0.01);
  const auto current = dots()[1];
  const auto previous = dots()[0];
  EXPECT_EQ(current.frame.width(), 8);
  const ui::RGBA gray = ui::Color::gray().opacity(0.3).resolve(ui::Appearance::light);
  const ui::RGBA accent = ui::Color::accent().resolve(ui::Appearance::light);
  main->advance(milliseconds(100));
  expectNear(host().animatedColour(current.identity, "fill"), mix(gray, accent, 0.5));
  EXPECT_NEAR(host().animatedValue(current.identity, "scale").value_or(0), 0.875, 0.01);
  EXPECT_NEAR(host().animatedValue(previous.identity, "scale").value_or(0), (8.0 / 6 + 1) / 2,
              0.01);
  main->advance(milliseconds(10));
  for (const ui::Element &e : inspector().elements()) {
    if (e.identity.find("#inputMonitoring") != std::string::npos) {
      EXPECT_NEAR(host().animatedValue(e.identity, "opacity").value_or(-1), 0.5, 0.01);
      break;
    }
  }
  // The frame after the last instant finds everything done.
  main->advance(milliseconds(150));
  EXPECT_FALSE(host().isAnimating());
  EXPECT_FALSE(main->hasPendingTimers());
}

// The model card comes in with a fade and a scale from 0.96 over 0.3 s; while the model
// prepares, its indeterminate bar sweeps every 1.2 s, and stops with the card.
TEST_F(OnboardingAnimationTest, TheModelCardComesInAndItsBarSweepsWhileShown) {
  core.savedPage = 4;
  core.modelReady.set(true);
  onboarding.showOnboarding(core.onboardingModel());
  EXPECT_FALSE(inspector().findById("modelStatusCard"));
  core.status.set("Preparing the speech model");
  core.initStartedAt.set(main->now());
  core.modelReady.set(false);
  const auto card = inspector().findById("modelStatusCard");
  ASSERT_TRUE(card);
  const auto bar = inspector().findKind(ui::NodeKind::progress).at(0);
  main->advance(milliseconds(150));
  EXPECT_NEAR(host().animatedValue(card->identity, "opacity").value_or(-1), 0.5, 0.01);
  EXPECT_NEAR(host().animatedValue(card->identity, "scale").value_or(-1), 0.98, 0.001);
  EXPECT_NEAR(host().animatedValue(bar.identity, "phase").value_or(-1), 0.125, 0.01);
  main->advance(milliseconds(750));
  EXPECT_FALSE(host().animatedValue(card->identity, "opacity"));
  EXPECT_NEAR(host().animatedValue(bar.identity, "phase").value_or(-1), 0.75, 0.01);
  main->advance(milliseconds(600));
  EXPECT_NEAR(host().animatedValue(bar.identity, "phase").value_or(-1), 0.25, 0.01);
  core.initStartedAt.set(std::nullopt);
  core.modelReady.set(true);
  main->advance(milliseconds(400));
  EXPECT_FALSE(host().isAnimating());
  EXPECT_FALSE(main->hasPendingTimers());
}

} // namespace
} // namespace murmurquill
