#include "platform/ui/Animator.hpp"
#include "platform/ui/HostingView.hpp"
#include "platform/ui/Inspector.hpp"

#include "platform/system/ManualExecutor.hpp"

#include <gtest/gtest.h>

#include <cairo.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace platform::ui {
namespace {

using std::chrono::milliseconds;

struct CurveCase {
  Animation::Curve curve;
  double at;
  double expected;
};

class EasedTest : public ::testing::TestWithParam<CurveCase> {};

TEST_P(EasedTest, FollowsThePlatformsTimingCurves) {
  const CurveCase &c = GetParam();
  EXPECT_NEAR(eased(c.curve, c.at), c.expected, 0.002) << c.at;
}

INSTANTIATE_TEST_SUITE_P(Curves, EasedTest,
                         ::testing::Values(CurveCase{Animation::Curve::linear, 0.25, 0.25},
                                           CurveCase{Animation::Curve::easeInOut, 0.0, 0.0},
                                           CurveCase{Animation::Curve::easeInOut, 0.5, 0.5},
                                           CurveCase{Animation::Curve::easeInOut, 0.25, 0.1291},
                                           CurveCase{Animation::Curve::easeInOut, 1.0, 1.0},
                                           CurveCase{Animation::Curve::easeIn, 0.5, 0.3153},
                                           CurveCase{Animation::Curve::easeOut, 0.5, 0.6847},
                                           CurveCase{Animation::Curve::linear, 1.5, 1.0}));

// A view whose opacity follows a flag under an animation keyed to it, as a fading pill.
class Fading : public ::testing::Test {
protected:
  void SetUp() override {
    host.setAnimationExecutor(main);
    host.setOnRedraw([this] { ++redraws; });
    host.layout();
  }

  std::string pillIdentity() { return Inspector(host).findById("pill")->identity; }
  std::optional<double> drawnOpacity() { return host.animatedValue(pillIdentity(), "opacity"); }

  // The alpha of the pixel in the middle of the drawn view.
  double alphaDrawnAtCentre() {
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 100, 40);
    cairo_t *cr = cairo_create(surface);
    host.draw(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const unsigned char *row =
        cairo_image_surface_get_data(surface) + 20 * cairo_image_surface_get_stride(surface);
    const std::uint32_t pixel = reinterpret_cast<const std::uint32_t *>(row)[50];
    cairo_surface_destroy(surface);
    return static_cast<double>(pixel >> 24) / 255.0;
  }

  std::shared_ptr<ManualExecutor> main = std::make_shared<ManualExecutor>();
  Observable<bool> shown{true};
  Animation animation = Animation::easeInOut(0.2);
  HostingView host{[this] {
                     return Capsule()
                         .fill(Color::black())
                         .opacity(shown.get() ? 1.0 : 0.0)
                         .animation(animation, shown.get() ? "shown" : "hidden")
                         .id("pill");
                   },
                   Size{100, 40}};
  int redraws = 0;
};

TEST_F(Fading, DrawsTheValueOfTheCurveAtEachInstantAndStopsAtTheEnd) {
  EXPECT_FALSE(main->hasPendingTimers());
  shown.set(false);
  EXPECT_TRUE(host.isAnimating());
  EXPECT_DOUBLE_EQ(*drawnOpacity(), 1.0);
  main->advance(milliseconds(50));
  EXPECT_NEAR(*drawnOpacity(), 1.0 - eased(Animation::Curve::easeInOut, 0.25), 1e-9);
  main->advance(milliseconds(50));
  EXPECT_NEAR(*drawnOpacity(), 0.5, 1e-9);
  EXPECT_NEAR(alphaDrawnAtCentre(), 0.5, 0.01);
  const int halfway = redraws;
  EXPECT_GE(halfway, 5); // about sixty frames a second
  main->advance(milliseconds(120));
  EXPECT_FALSE(host.isAnimating());
  EXPECT_FALSE(drawnOpacity().has_value());
  // Idle: no timer wakes the main thread once the animation ended.
  EXPECT_FALSE(main->hasPendingTimers());
  EXPECT_EQ(alphaDrawnAtCentre(), 0.0);
  const int finished = redraws;
  main->advance(std::chrono::seconds(5));
  EXPECT_EQ(redraws, finished);
  // The inspector reads end states all along.
  EXPECT_EQ(Inspector(host).findById("pill")->opacity, 0.0);
}

TEST_F(Fading, AnInterruptedAnimationGoesOnFromWhereItIsDrawn) {
  shown.set(false);
  main->advance(milliseconds(100));
  shown.set(true);
  EXPECT_NEAR(*drawnOpacity(), 0.5, 1e-9);
  main->advance(milliseconds(100));
  EXPECT_NEAR(*drawnOpacity(), 0.75, 1e-9);
}

TEST_F(Fading, ARepeatingPulseSwingsBetweenItsEndsWhileShownAndStopsWhenItGoes) {
  animation = Animation::easeInOut(0.7).repeatForever(/*reverses=*/true);
  shown.set(false);
  main->advance(milliseconds(800));
  shown.set(true); // from 0 to full opacity, and back, for ever
  main->advance(milliseconds(700));
  EXPECT_NEAR(*drawnOpacity(), 1.0, 1e-9); // full opacity at its peak
  main->advance(milliseconds(700));
  EXPECT_NEAR(*drawnOpacity(), 0.0, 1e-9);
  main->advance(milliseconds(350));
  EXPECT_NEAR(*drawnOpacity(), 0.5, 1e-9);
  EXPECT_TRUE(main->hasPendingTimers());
  host.stopAnimations();
  EXPECT_FALSE(host.isAnimating());
  main->advance(milliseconds(100));
  EXPECT_FALSE(main->hasPendingTimers());
}

TEST_F(Fading, ARepeatingAnimationTowardsNothingRunsOnceAndEnds) {
  animation = Animation::easeInOut(0.7).repeatForever(/*reverses=*/true);
  shown.set(false);
  main->advance(milliseconds(800));
  EXPECT_FALSE(host.isAnimating());
  EXPECT_FALSE(main->hasPendingTimers());
}

TEST_F(Fading, WithoutAnExecutorViewsAreDrawnInTheirEndStates) {
  host.setAnimationExecutor(nullptr);
  shown.set(false);
  EXPECT_FALSE(host.isAnimating());
  EXPECT_FALSE(drawnOpacity().has_value());
  EXPECT_FALSE(main->hasPendingTimers());
}

TEST(Animator, AFrameDueAfterTheAnimatorDiedDoesNothing) {
  auto main = std::make_shared<ManualExecutor>();
  int redraws = 0;
  {
    Animator animator([&] { ++redraws; });
    animator.setExecutor(main);
    animator.start(AnimatedChange{"/0:Shape", "scale", 0, 1, Animation::linear(1)});
  }
  main->advance(milliseconds(100));
  EXPECT_EQ(redraws, 0);
}

} // namespace
} // namespace platform::ui

namespace platform::ui {
namespace {

// A colour change is drawn in between its ends, a clear end taking the other end's hue (no
// passing through black), and an interrupted change goes on from the colour drawn.
TEST(ColourAnimation, MixesFromTheDrawnColour) {
  auto main = std::make_shared<ManualExecutor>();
  Animator animator([] {});
  animator.setExecutor(main);
  const RGBA red{1, 0, 0, 1};
  const RGBA blue{0, 0, 1, 1};
  animator.start(
      AnimatedChange{"/0:Shape", "fill", 0, 1, Animation::linear(1), RGBA{0, 0, 0, 0}, red});
  main->advance(milliseconds(500));
  EXPECT_EQ(animator.colour("/0:Shape", "fill"), (RGBA{1, 0, 0, 0.5}));
  EXPECT_FALSE(animator.value("/0:Shape", "fill"));
  animator.start(AnimatedChange{"/0:Shape", "fill", 0, 1, Animation::linear(1), red, blue});
  main->advance(milliseconds(500));
  const auto drawn = animator.colour("/0:Shape", "fill");
  ASSERT_TRUE(drawn);
  EXPECT_NEAR(drawn->red, 0.5, 1e-9);
  EXPECT_NEAR(drawn->blue, 0.5, 1e-9);
  EXPECT_NEAR(drawn->alpha, 0.75, 1e-9);
  // A colour runs once even under a repeating animation.
  animator.start(
      AnimatedChange{"/1:Shape", "fill", 0, 1, Animation::linear(1).repeatForever(), red, blue});
  main->advance(milliseconds(1600));
  EXPECT_FALSE(animator.isRunning());
  EXPECT_FALSE(main->hasPendingTimers());
}

// What is drawn in between is the mixed colour.
TEST(ColourAnimation, TheDrawnFillIsTheMix) {
  auto main = std::make_shared<ManualExecutor>();
  Observable<bool> on{false};
  HostingView host(
      [&] {
        return Rectangle()
            .fill(on.get() ? Color::rgb(0, 0, 1) : Color::rgb(1, 0, 0))
            .animation(Animation::linear(1), on.get() ? "on" : "off");
      },
      Size{10, 10});
  host.setAnimationExecutor(main);
  host.layout();
  on.set(true);
  main->advance(milliseconds(500));
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 10, 10);
  cairo_t *cr = cairo_create(surface);
  host.draw(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  const unsigned char *pixel =
      cairo_image_surface_get_data(surface) + 5 * cairo_image_surface_get_stride(surface) + 5 * 4;
  EXPECT_NEAR(pixel[2], 128, 2); // red
  EXPECT_NEAR(pixel[0], 128, 2); // blue
  cairo_surface_destroy(surface);
}

// An indeterminate bar sweeps while it is shown and indeterminate, and not otherwise.
TEST(IndeterminateBar, SweepsOnlyWhileShownAndIndeterminate) {
  auto main = std::make_shared<ManualExecutor>();
  Observable<int> state{0}; // 0: indeterminate, 1: a value, 2: gone
  HostingView host(
      [&] {
        if (state.get() == 2) {
          return Text("done");
        }
        return (state.get() == 0 ? LinearProgressView() : ProgressView(0.3)).id("bar");
      },
      Size{200, 20});
  host.setAnimationExecutor(main);
  host.layout();
  const std::string bar = Inspector(host).findById("bar")->identity;
  main->advance(milliseconds(300));
  EXPECT_NEAR(host.animatedValue(bar, "phase").value_or(-1), 0.25, 1e-6);
  state.set(1);
  EXPECT_FALSE(host.isAnimating());
  EXPECT_FALSE(main->hasPendingTimers());
  state.set(0);
  EXPECT_TRUE(host.isAnimating());
  state.set(2);
  EXPECT_FALSE(host.isAnimating());
  EXPECT_FALSE(main->hasPendingTimers());
}

} // namespace
} // namespace platform::ui
