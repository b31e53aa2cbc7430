#include "app/presenters/RecordingHUD.hpp"
#include "app/views/HUDView.hpp"
#include "app/views/HUDViewModel.hpp"

#include "UiTestSupport.hpp"

#include "platform/system/ManualExecutor.hpp"
#include "platform/ui/Inspector.hpp"
#include "tests/support/ui/AnimationLog.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

namespace murmurquill {
namespace {

namespace ui = platform::ui;
using Mode = HUDMode;

class RecordingHUDTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing::setUpTwoScreens(desktop);
    desktop.setMouseLocation({700, 400});
  }

  ui::Inspector inspector() { return ui::Inspector(*hud.panel()); }
  ui::HostingView &host() { return *hud.panel()->contentView(); }
  std::size_t dotPulses() {
    std::size_t count = 0;
    for (const ui::AnimatedChange &change : animations.changes()) {
      if (change.identity.find("#recordingDot") != std::string::npos &&
          change.property == "opacity" && change.from == 1.0 && change.to == 0.45) {
        EXPECT_TRUE(change.animation.repeatsForever);
        EXPECT_TRUE(change.animation.autoreverses);
        EXPECT_DOUBLE_EQ(change.animation.duration, 0.7);
        ++count;
      }
    }
    return count;
  }

  mqtest::AnimationLog animations;
  ui::Desktop desktop;
  RecordingHUD hud{desktop};
};

struct ModeCase {
  const char *name;
  Mode mode;
  const char *text;
  const char *symbol; // empty for the dot and the spinner
  ui::Color colour;
};

class RecordingHUDModeTest : public RecordingHUDTest,
                             public ::testing::WithParamInterface<ModeCase> {};

TEST_P(RecordingHUDModeTest, ShowsTheModesIconColourAndText) {
  const ModeCase &c = GetParam();
  hud.show(c.mode);
  ASSERT_NE(hud.panel(), nullptr);
  EXPECT_TRUE(hud.panel()->isVisible());
  EXPECT_EQ(hud.mode(), c.mode);
  EXPECT_EQ(hud.viewModel().mode(), c.mode);

  ui::Inspector inspect = inspector();
  const auto text = inspect.findText(c.text);
  ASSERT_TRUE(text.has_value()) << c.text;
  EXPECT_EQ(text->foreground, ui::Color::white());
  EXPECT_EQ(text->font, ui::Font::system(13, ui::FontWeight::medium).monospacedDigit());
  if (*c.symbol != '\0') {
    const auto icon = inspect.findSymbol(c.symbol);
    ASSERT_TRUE(icon.has_value()) << c.symbol;
    EXPECT_EQ(icon->foreground, c.colour);
    EXPECT_EQ(icon->font, ui::Font::system(11, ui::FontWeight::semibold));
    EXPECT_EQ(inspect.symbols(), std::vector<std::string>{c.symbol});
  } else {
    EXPECT_TRUE(inspect.symbols().empty());
  }
  const auto dot = inspect.findById("recordingDot");
  EXPECT_EQ(dot.has_value(), c.mode == Mode::recording());
  if (dot) {
    EXPECT_EQ(dot->node->as<ui::ShapeContent>().fill, ui::Color::red());
    EXPECT_EQ(dot->frame.size, (ui::Size{14, 14}));
  }
  const auto spinners = inspect.findKind(ui::NodeKind::progress);
  EXPECT_EQ(spinners.size(), c.mode == Mode::transcribing() ? 1u : 0u);
  if (!spinners.empty()) {
    EXPECT_EQ(spinners[0].environment.controlSize, ui::ControlSize::small);
    EXPECT_EQ(spinners[0].environment.tint, ui::Color::white());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, RecordingHUDModeTest,
    ::testing::Values(
        ModeCase{"ready", Mode::ready("Right Option"), "Ready \u2014 hold Right Option to dictate",
                 "checkmark.circle.fill", ui::Color::green()},
        ModeCase{"readyOptionZ", Mode::ready("Option-Z"), "Ready \u2014 hold Option-Z to dictate",
                 "checkmark.circle.fill", ui::Color::green()},
        ModeCase{"recording", Mode::recording(), "Recording\u2026", "", ui::Color::red()},
        ModeCase{"transcribing", Mode::transcribing(), "Transcribing\u2026", "",
                 ui::Color::white()},
        ModeCase{"notReady", Mode::notReady(), "Getting ready \u2014 try again in a moment",
                 "hourglass", ui::Color::white().opacity(0.9)},
        ModeCase{"micDenied", Mode::micDenied(),
                 "Microphone access needed \u2014 see Permissions & Setup", "mic.slash.fill",
                 ui::Color::orange()},
        ModeCase{"injectionDenied", Mode::injectionDenied(),
                 "Can't type at your cursor \u2014 see Permissions & Setup",
                 "exclamationmark.triangle.fill", ui::Color::orange()}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(RecordingHUDModeEquality, SameCaseIsEqualAndReadyComparesLabels) {
  EXPECT_EQ(Mode::ready("Right Option"), Mode::ready("Right Option"));
  EXPECT_FALSE(Mode::ready("Right Option") == Mode::ready("Left Option"));
  EXPECT_FALSE(Mode::ready("") == Mode::hidden());
  EXPECT_EQ(Mode::recording(), Mode::recording());
  EXPECT_FALSE(Mode::recording() == Mode::transcribing());
  EXPECT_EQ(hudMessage(Mode::hidden()), "");
}

TEST_F(RecordingHUDTest, HidingBeforeAnythingWasShownCreatesNoPanel) {
  hud.show(Mode::hidden());
  EXPECT_EQ(hud.panel(), nullptr);
  EXPECT_TRUE(desktop.orderedWindows().empty());
}

TEST_F(RecordingHUDTest, PanelIsANonActivatingClickThroughStatusPanel) {
  hud.show(Mode::recording());
  ui::Panel &panel = *hud.panel();
  EXPECT_TRUE(panel.isPanel());
  EXPECT_EQ(panel.styleMask(), 128u);
  EXPECT_EQ(panel.frame().size, (ui::Size{460, 48}));
  EXPECT_FALSE(panel.isOpaque());
  EXPECT_EQ(panel.backgroundColor(), ui::Color::clear());
  EXPECT_FALSE(panel.hasShadow());
  EXPECT_EQ(panel.level(), 25);
  EXPECT_EQ(panel.collectionBehavior(), 337u);
  EXPECT_FALSE(panel.isMovable());
  EXPECT_TRUE(panel.ignoresMouseEvents());
  EXPECT_FALSE(panel.hidesOnDeactivate());
  EXPECT_EQ(panel.contentView()->size(), (ui::Size{460, 48}));
  // The pill takes only the width its content needs, centred in the panel.
  const auto message = inspector().findText("Recording\u2026");
  ASSERT_TRUE(message);
  EXPECT_GT(message->frame.minX(), 100);
  // Shown without ever activating the application or becoming key.
  hud.show(Mode::transcribing());
  hud.show(Mode::micDenied());
  EXPECT_EQ(desktop.activationCount(), 0u);
  EXPECT_FALSE(desktop.isActive());
  EXPECT_EQ(desktop.keyWindow(), nullptr);
}

struct PlacementCase {
  const char *name;
  std::optional<ui::Point> mouse;
  bool noScreens;
  std::optional<std::size_t> mainScreen;
  ui::Point expectedOrigin;
};

class RecordingHUDPlacementTest : public RecordingHUDTest,
                                  public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(RecordingHUDPlacementTest, CentresAboveTheBottomOfTheScreenUnderThePointer) {
  const PlacementCase &c = GetParam();
  // First shown on the primary screen, so a case that cannot place keeps that place.
  hud.show(Mode::recording());
  desktop.setMainScreenIndex(c.mainScreen);
  if (c.noScreens) {
    desktop.setScreens({});
  }
  if (c.mouse) {
    desktop.setMouseLocation(*c.mouse);
  }
  hud.show(Mode::transcribing());
  EXPECT_EQ(hud.panel()->frame().origin, c.expectedOrigin);
  EXPECT_EQ(hud.panel()->frame().size, (ui::Size{460, 48}));
  EXPECT_TRUE(hud.panel()->isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Screens, RecordingHUDPlacementTest,
    ::testing::Values(
        PlacementCase{"primary", ui::Point{100, 850}, false, 0, ui::Point{490, 150}},
        PlacementCase{"secondary", ui::Point{3000, 20}, false, 0, ui::Point{2170, 80}},
        // The far edge of a screen belongs to the next one.
        PlacementCase{"edgeBelongsToSecondary", ui::Point{1440, 500}, false, 0,
                      ui::Point{2170, 80}},
        PlacementCase{"noneUsesMainScreen", ui::Point{-500, -500}, false, 1, ui::Point{2170, 80}},
        PlacementCase{"noneAndNoMainStays", ui::Point{-500, -500}, false, std::nullopt,
                      ui::Point{490, 150}},
        PlacementCase{"noScreensStays", ui::Point{3000, 20}, true, std::nullopt,
                      ui::Point{490, 150}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(RecordingHUDTest, ShowingTheSameModeAgainReplacesWithoutRerendering) {
  hud.show(Mode::recording());
  const std::size_t renders = host().renderCount();
  const std::size_t started = animations.changes().size();
  desktop.setMouseLocation({2000, 500});
  hud.show(Mode::recording());
  EXPECT_EQ(host().renderCount(), renders);
  EXPECT_EQ(animations.changes().size(), started);
  EXPECT_EQ(hud.panel()->frame().origin, (ui::Point{2170, 80}));
  EXPECT_EQ(dotPulses(), 1u);
}

// Key-up turns a visible pill to transcribing where it is, even with the pointer gone to
// another screen; a hidden pill is left for the caller to show.
TEST_F(RecordingHUDTest, SettingTheModeOfAVisiblePillKeepsItWhereItIs) {
  hud.setMode(Mode::transcribing());
  EXPECT_EQ(hud.panel(), nullptr);
  EXPECT_EQ(hud.mode(), Mode::hidden());
  hud.show(Mode::recording());
  const ui::Point origin = hud.panel()->frame().origin;
  desktop.setMouseLocation({3000, 20});
  hud.setMode(Mode::transcribing());
  EXPECT_EQ(hud.panel()->frame().origin, origin);
  EXPECT_TRUE(hud.panel()->isVisible());
  EXPECT_EQ(hud.mode(), Mode::transcribing());
  EXPECT_EQ(hud.viewModel().mode(), Mode::transcribing());
  EXPECT_TRUE(inspector().hasText("Transcribing\u2026"));
  hud.show(Mode::hidden());
  hud.setMode(Mode::recording());
  EXPECT_FALSE(hud.panel()->isVisible());
  EXPECT_EQ(hud.mode(), Mode::hidden());
}

TEST_F(RecordingHUDTest, ReadyWithAnotherLabelIsAChangeAndTheSameLabelIsNot) {
  hud.show(Mode::ready("Right Option"));
  const std::size_t renders = host().renderCount();
  hud.show(Mode::ready("Right Option"));
  EXPECT_EQ(host().renderCount(), renders);
  hud.show(Mode::ready("Left Option"));
  EXPECT_GT(host().renderCount(), renders);
  EXPECT_TRUE(inspector().hasText("Ready \u2014 hold Left Option to dictate"));
  EXPECT_FALSE(inspector().hasText("Ready \u2014 hold Right Option to dictate"));
}

TEST_F(RecordingHUDTest, HidingOrdersThePanelOutAndFadesThePill) {
  hud.show(Mode::notReady());
  ui::Panel *panel = hud.panel();
  std::string pill;
  for (const ui::Element &e : inspector().elements()) {
    if (e.node->animation && e.node->animation->duration == 0.18) {
      pill = e.identity;
      break;
    }
  }
  const std::size_t before = animations.changes().size();
  hud.show(Mode::hidden());
  EXPECT_EQ(hud.panel(), panel);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(panel->closeCount(), 0u);
  EXPECT_TRUE(inspector().texts().empty());
  // The pill fades out as a whole (its capsule narrows to nothing meanwhile).
  ASSERT_GT(animations.changes().size(), before);
  const ui::AnimatedChange &fade = animations.changes()[before];
  EXPECT_EQ(fade.identity, pill);
  EXPECT_EQ(fade.property, "opacity");
  EXPECT_EQ(fade.from, 1.0);
  EXPECT_EQ(fade.to, 0.0);
  EXPECT_DOUBLE_EQ(fade.animation.duration, 0.18);
  EXPECT_EQ(fade.animation.curve, ui::Animation::Curve::easeInOut);
  // The same panel comes back.
  hud.show(Mode::recording());
  EXPECT_EQ(hud.panel(), panel);
  EXPECT_TRUE(panel->isVisible());
}

TEST_F(RecordingHUDTest, PulseRestartsFromFullOpacityOnEveryRecording) {
  hud.show(Mode::recording());
  auto &view = static_cast<HUDView &>(host().root());
  EXPECT_TRUE(view.pulsing());
  EXPECT_EQ(dotPulses(), 1u);
  hud.show(Mode::transcribing());
  EXPECT_FALSE(view.pulsing());
  hud.show(Mode::recording());
  EXPECT_TRUE(view.pulsing());
  EXPECT_EQ(dotPulses(), 2u);
  const auto dot = inspector().findById("recordingDot");
  ASSERT_TRUE(dot);
  EXPECT_DOUBLE_EQ(dot->node->opacity, 0.45);
}

// On the main executor's clock the dot pulses between full opacity and 0.45, and the pill
// fades in over 0.18 s when it comes back.
TEST_F(RecordingHUDTest, TheDotPulsesAndThePillFadesInOnTheMainClock) {
  auto main = std::make_shared<platform::ManualExecutor>();
  desktop.setAnimationExecutor(main);
  hud.show(Mode::recording());
  const std::string dot = inspector().findById("recordingDot")->identity;
  const auto dotOpacity = [&] { return host().animatedValue(dot, "opacity").value_or(-1); };
  EXPECT_DOUBLE_EQ(dotOpacity(), 1.0);
  main->advance(std::chrono::milliseconds(350));
  EXPECT_NEAR(dotOpacity(), 0.725, 1e-9);
  main->advance(std::chrono::milliseconds(350));
  EXPECT_NEAR(dotOpacity(), 0.45, 1e-9);
  main->advance(std::chrono::milliseconds(700));
  EXPECT_NEAR(dotOpacity(), 1.0, 1e-9);

  hud.show(Mode::hidden());
  EXPECT_FALSE(host().isAnimating());
  EXPECT_FALSE(main->hasPendingTimers());
  hud.show(Mode::notReady());
  std::string pill;
  for (const ui::Element &e : inspector().elements()) {
    if (e.node->animation && e.node->animation->duration == 0.18) {
      pill = e.identity;
      break;
    }
  }
  ASSERT_FALSE(pill.empty());
  main->advance(std::chrono::milliseconds(90));
  EXPECT_NEAR(host().animatedValue(pill, "opacity").value_or(-1), 0.5, 1e-9);
  main->advance(std::chrono::milliseconds(100));
  EXPECT_FALSE(host().isAnimating());
  EXPECT_FALSE(main->hasPendingTimers());
}

// Recording turning to transcribing (and any other change of what the pill says) brings the
// new icon and text in over 0.18 s, ease-in-out, on the main executor's clock, while the pill
// takes the new width.
TEST_F(RecordingHUDTest, TheContentChangeFadesInOverItsDurationOnTheMainClock) {
  auto main = std::make_shared<platform::ManualExecutor>();
  desktop.setAnimationExecutor(main);
  hud.show(Mode::recording());
  main->advance(std::chrono::milliseconds(500));
  const auto contentOpacity = [&] {
    for (const ui::Element &e : inspector().elements()) {
      if (e.id.rfind("content-", 0) == 0) {
        return host().animatedValue(e.identity, "opacity");
      }
    }
    return std::optional<double>();
  };
  // The pill's capsule: its width goes from the old text's to the new one's alongside.
  const auto capsule = [&] {
    for (const ui::Element &e : inspector().elements()) {
      if (e.kind == ui::NodeKind::shape &&
          e.node->as<ui::ShapeContent>().shape == ui::ShapeKind::capsule) {
        return e;
      }
    }
    return ui::Element{};
  };
  for (const Mode &next : {Mode::transcribing(), Mode::ready("Right Alt"), Mode::micDenied()}) {
    const double wasWide = capsule().frame.width();
    hud.setMode(next);
    const ui::Element pill = capsule();
    EXPECT_NE(pill.frame.width(), wasWide);
    EXPECT_TRUE(inspector().hasText(hudMessage(next)));
    EXPECT_NEAR(contentOpacity().value_or(-1), 0.0, 1e-9) << hudMessage(next);
    main->advance(std::chrono::milliseconds(90));
    EXPECT_NEAR(contentOpacity().value_or(-1), 0.5, 1e-9) << hudMessage(next);
    EXPECT_NEAR(host().animatedValue(pill.identity, "width").value_or(-1),
                (wasWide + pill.frame.width()) / 2, 1e-6);
    main->advance(std::chrono::milliseconds(100));
    EXPECT_FALSE(contentOpacity()) << hudMessage(next);
    EXPECT_FALSE(host().animatedValue(pill.identity, "width"));
  }
  EXPECT_FALSE(host().isAnimating());
  EXPECT_FALSE(main->hasPendingTimers());
}

// The controller hides a transient message after its delay only while it is still shown;
// the HUD's `mode` is what it reads.
TEST_F(RecordingHUDTest, TransientMessageHidesOnlyWhileStillShown) {
  platform::ManualExecutor main;
  const auto showTransient = [&](const Mode &mode, std::chrono::milliseconds delay) {
    hud.show(mode);
    main.after(delay, [this, mode] {
      if (hud.mode() == mode) {
        hud.show(Mode::hidden());
      }
    });
  };
  showTransient(Mode::micDenied(), std::chrono::milliseconds(3500));
  main.advance(std::chrono::milliseconds(3499));
  EXPECT_TRUE(hud.panel()->isVisible());
  main.advance(std::chrono::milliseconds(1));
  EXPECT_FALSE(hud.panel()->isVisible());

  showTransient(Mode::notReady(), std::chrono::milliseconds(2500));
  hud.show(Mode::recording());
  main.advance(std::chrono::seconds(3));
  EXPECT_TRUE(hud.panel()->isVisible());
  EXPECT_EQ(hud.mode(), Mode::recording());
}

} // namespace
} // namespace murmurquill
