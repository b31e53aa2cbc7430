#include "app/presenters/RefinePanelController.hpp"

#include "UiTestSupport.hpp"

#include "platform/ui/Inspector.hpp"
#include "tests/support/ui/LayoutCheck.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace murmurquill {
namespace {

namespace ui = platform::ui;

constexpr const char *kFailure = "Apply isn't supported in this app \u2014 use Copy instead.";

class RefinePanelTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing::setUpTwoScreens(desktop);
    controller = std::make_unique<RefinePanelController>(desktop);
  }

  RefinePanelController::PanelToken open() {
    return controller->show(
        [this](const std::string &text) {
          applied.push_back(text);
          return applyResult;
        },
        [this](const std::string &text) { copied.push_back(text); });
  }

  ui::Inspector inspector() { return ui::Inspector(*controller->panel()); }

  std::size_t visiblePanels() const { return desktop.orderedWindows().size(); }

  ui::Desktop desktop;
  std::unique_ptr<RefinePanelController> controller;
  bool applyResult = true;
  std::vector<std::string> applied;
  std::vector<std::string> copied;
};

TEST_F(RefinePanelTest, OpensInTheLoadingStateWithoutActivatingTheApp) {
  open();
  ui::Panel *panel = controller->panel();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->styleMask(), 0xA093u);
  EXPECT_EQ(panel->level(), ui::kFloatingLevel);
  EXPECT_TRUE(panel->titleHidden());
  EXPECT_TRUE(panel->titlebarAppearsTransparent());
  EXPECT_TRUE(panel->closeButtonHidden());
  EXPECT_TRUE(panel->isMovableByWindowBackground());
  EXPECT_FALSE(panel->isReleasedWhenClosed());
  EXPECT_EQ(panel->frame().width(), 340);
  EXPECT_EQ(desktop.activationCount(), 0u);

  const auto state = controller->currentState();
  ASSERT_TRUE(state);
  EXPECT_TRUE(state->isLoading());
  EXPECT_EQ(state->refined(), "");
  EXPECT_FALSE(state->applyFailed());

  ui::Inspector inspect = inspector();
  EXPECT_TRUE(inspect.hasText("Refining\u2026"));
  EXPECT_TRUE(inspect.hasText("Cleaning up with Apple Intelligence\u2026"));
  EXPECT_EQ(inspect.findText("Refining\u2026")->font, ui::Font::headline());
  EXPECT_EQ(inspect.findSymbol("sparkles")->foreground, ui::Color::accent());
  EXPECT_EQ(inspect.findKind(ui::NodeKind::progress).size(), 1u);
  EXPECT_TRUE(inspect.findKind(ui::NodeKind::textEditor).empty());
  EXPECT_FALSE(inspect.hasText("Apply"));
  // Command-Return has nothing to apply while loading.
  EXPECT_FALSE(inspect.key(ui::Key::returnKey(), ui::kCommand));
  EXPECT_TRUE(applied.empty());
}

TEST_F(RefinePanelTest, ResultReplacesTheLoadingRowAndTheHeightFollows) {
  open();
  const double loadingHeight = controller->panel()->frame().height();
  const double top = controller->panel()->frame().maxY();
  controller->showResult("Hello, world.");
  EXPECT_FALSE(controller->currentState()->isLoading());
  ui::Inspector inspect = inspector();
  EXPECT_TRUE(inspect.hasText("Refined"));
  EXPECT_FALSE(inspect.hasText("Refining\u2026"));
  EXPECT_FALSE(inspect.hasText("Cleaning up with Apple Intelligence\u2026"));
  EXPECT_EQ(inspect.findSymbol("checkmark.circle.fill")->foreground, ui::Color::green());
  const auto editor = inspect.findText("Hello, world.");
  ASSERT_TRUE(editor);
  EXPECT_EQ(editor->kind, ui::NodeKind::textEditor);
  EXPECT_GE(editor->frame.height(), 60);
  EXPECT_LE(editor->frame.height(), 160);
  EXPECT_TRUE(inspect.hasText("Apply"));
  EXPECT_TRUE(inspect.hasText("Copy"));
  EXPECT_TRUE(inspect.hasText("Dismiss"));
  EXPECT_FALSE(inspect.hasText(kFailure));
  EXPECT_GT(controller->panel()->frame().height(), loadingHeight);
  EXPECT_EQ(controller->panel()->frame().maxY(), top);
}

// Typing renders the panel again, so what is drawn is the edited text and the panel's height
// follows it; a shorter result shrinks it again.
TEST_F(RefinePanelTest, EditsAreDrawnAndTheHeightFollowsTheText) {
  open();
  controller->showResult("Helo world");
  ui::Panel *panel = controller->panel();
  const double oneLine = panel->frame().height();
  const std::size_t renders = panel->contentView()->renderCount();
  inspector().type("xyz");
  EXPECT_GT(panel->contentView()->renderCount(), renders);
  EXPECT_TRUE(inspector().hasText("Helo worldxyz"));
  inspector().type(std::string(6, '\n'));
  const double sevenLines = panel->frame().height();
  EXPECT_GT(sevenLines, oneLine);
  EXPECT_EQ(panel->frame().size, panel->contentView()->idealSize());
  controller->showResult("Hi");
  EXPECT_EQ(panel->frame().height(), oneLine);
}

// Text taller than the editor's 160 points scrolls inside it; the panel stops growing and
// its layout still fits.
TEST_F(RefinePanelTest, LongTextScrollsInsideTheEditor) {
  open();
  std::string longText;
  for (int i = 0; i < 40; ++i) {
    longText += "Sentence number " + std::to_string(i) + ".\n";
  }
  controller->showResult(longText);
  ui::Panel *panel = controller->panel();
  ui::Inspector inspect = inspector();
  const auto editor = inspect.findKind(ui::NodeKind::textEditor).at(0);
  EXPECT_EQ(editor.frame.height(), 160);
  EXPECT_EQ(panel->frame().size, panel->contentView()->idealSize());
  EXPECT_TRUE(mqtest::layoutProblems(*panel).empty());
  const ui::Point inside{editor.frame.midX(), editor.frame.midY()};
  EXPECT_TRUE(inspect.scroll(inside, 100));
  EXPECT_TRUE(inspect.key(ui::Key::named(ui::Key::Kind::pageUp)));
  EXPECT_FALSE(inspect.scroll(inside, -1)); // back at the top
  inspect.type(" The end.");
  EXPECT_EQ(controller->currentState()->refined(), longText + " The end.");
}

// A press on the panel's background moves the panel with the pointer; presses on the editor
// and the buttons do not.
TEST_F(RefinePanelTest, DraggingTheBackgroundMovesThePanel) {
  open();
  controller->showResult("Text.");
  ui::Panel *panel = controller->panel();
  ui::Inspector inspect = inspector();
  const ui::Rect start = panel->frame();
  const auto editor = inspect.findKind(ui::NodeKind::textEditor).at(0);
  EXPECT_EQ(inspect.pressPointer({editor.frame.midX(), editor.frame.midY()}),
            ui::EventDispatcher::Press::editor);
  const auto copy = inspect.findText("Copy");
  EXPECT_EQ(inspect.pressPointer({copy->frame.midX(), copy->frame.midY()}),
            ui::EventDispatcher::Press::control);
  EXPECT_EQ(desktop.draggedWindow(), nullptr);

  // A press alone, or with the pointer barely moved, is a click: the panel does not move.
  EXPECT_EQ(inspect.pressPointer({4, 4}), ui::EventDispatcher::Press::movableBackground);
  EXPECT_EQ(desktop.draggedWindow(), nullptr);
  EXPECT_FALSE(inspect.moveFromBackground({4, 4}, {8, 8}));
  EXPECT_EQ(desktop.draggedWindow(), nullptr);
  EXPECT_TRUE(inspect.moveFromBackground({4, 4}, {4, 11}));
  ASSERT_EQ(desktop.draggedWindow(), panel);
  const ui::Point grabbed{start.minX() + 4, start.maxY() - 4};
  desktop.windowDragMoved({grabbed.x + 30, grabbed.y - 50});
  desktop.windowDragMoved({grabbed.x + 45, grabbed.y - 60});
  desktop.endWindowDrag();
  desktop.windowDragMoved({grabbed.x + 500, grabbed.y});
  EXPECT_EQ(panel->frame().origin, (ui::Point{start.minX() + 45, start.minY() - 60}));
  EXPECT_EQ(panel->frame().size, start.size);
}

TEST_F(RefinePanelTest, ApplySuccessClosesThePanel) {
  open();
  controller->showResult("Refined text.");
  ui::Panel *panel = controller->panel();
  inspector().press("Apply");
  EXPECT_EQ(applied, std::vector<std::string>{"Refined text."});
  EXPECT_EQ(controller->panel(), nullptr);
  EXPECT_EQ(controller->currentState(), nullptr);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(visiblePanels(), 0u);
}

TEST_F(RefinePanelTest, ApplyFailureShowsTheOrangeLineAndCopyStillWorks) {
  applyResult = false;
  open();
  controller->showResult("Refined text.");
  inspector().press("Apply");
  ASSERT_NE(controller->panel(), nullptr);
  EXPECT_TRUE(controller->currentState()->applyFailed());
  const auto failure = inspector().findText(kFailure);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->foreground, ui::Color::orange());
  EXPECT_EQ(failure->font, ui::Font::caption());
  inspector().press("Copy");
  EXPECT_EQ(copied, std::vector<std::string>{"Refined text."});
  EXPECT_EQ(controller->panel(), nullptr);
}

TEST_F(RefinePanelTest, CopyHandsOverTheTextAndCloses) {
  open();
  controller->showResult("Copied text.");
  inspector().press("Copy");
  EXPECT_EQ(copied, std::vector<std::string>{"Copied text."});
  EXPECT_TRUE(applied.empty());
  EXPECT_EQ(controller->panel(), nullptr);
}

TEST_F(RefinePanelTest, EscapeDismissesInEitherState) {
  open();
  EXPECT_TRUE(inspector().key(ui::Key::escape()));
  EXPECT_EQ(controller->panel(), nullptr);
  open();
  controller->showResult("Text.");
  EXPECT_TRUE(inspector().key(ui::Key::escape()));
  EXPECT_EQ(controller->panel(), nullptr);
  EXPECT_TRUE(applied.empty());
  EXPECT_TRUE(copied.empty());
}

TEST_F(RefinePanelTest, DismissAndTheCloseSymbolClose) {
  open();
  inspector().press("xmark");
  EXPECT_EQ(controller->panel(), nullptr);
  open();
  controller->showResult("Text.");
  inspector().press("Dismiss");
  EXPECT_EQ(controller->panel(), nullptr);
  EXPECT_TRUE(applied.empty());
}

TEST_F(RefinePanelTest, CommandReturnAppliesTheEditedText) {
  open();
  controller->showResult("Helo world");
  ui::Inspector inspect = inspector();
  inspect.setText("Hello world");
  inspect.type("!");
  EXPECT_EQ(controller->currentState()->refined(), "Hello world!");
  EXPECT_TRUE(inspect.hasText("Hello world!"));
  EXPECT_TRUE(inspect.key(ui::Key::returnKey(), ui::kCommand));
  EXPECT_EQ(applied, std::vector<std::string>{"Hello world!"});
  EXPECT_EQ(controller->panel(), nullptr);
}

TEST_F(RefinePanelTest, StaleResultAfterCloseChangesNothing) {
  open();
  inspector().key(ui::Key::escape());
  const std::size_t windows = visiblePanels();
  controller->showResult("Late text.");
  EXPECT_EQ(controller->panel(), nullptr);
  EXPECT_EQ(controller->currentState(), nullptr);
  EXPECT_EQ(visiblePanels(), windows);
}

TEST_F(RefinePanelTest, ResultWhenAlreadyShownOnlyReplacesTheText) {
  open();
  controller->showResult("First.");
  const auto state = controller->currentState();
  state->setApplyFailed(true);
  controller->showResult("Second.");
  EXPECT_EQ(controller->currentState(), state);
  EXPECT_EQ(state->refined(), "Second.");
  EXPECT_FALSE(state->isLoading());
  EXPECT_TRUE(state->applyFailed());
  EXPECT_TRUE(inspector().hasText("Second."));
}

TEST_F(RefinePanelTest, ShowingTwiceLeavesOneFreshPanel) {
  open();
  controller->showResult("Old.");
  const auto oldState = controller->currentState();
  open();
  EXPECT_NE(controller->currentState(), oldState);
  EXPECT_TRUE(controller->currentState()->isLoading());
  EXPECT_EQ(visiblePanels(), 1u);
  EXPECT_TRUE(inspector().hasText("Refining\u2026"));
}

TEST_F(RefinePanelTest, TokenedResultOnlyFillsThePanelItWasMadeFor) {
  const auto first = open();
  const auto second = open();
  controller->showResult("For the first panel.", first);
  EXPECT_TRUE(controller->currentState()->isLoading());
  EXPECT_EQ(controller->currentState()->refined(), "");
  controller->showResult("For the second panel.", second);
  EXPECT_EQ(controller->currentState()->refined(), "For the second panel.");
  // Untokened results keep filling the newest panel.
  controller->showResult("Newest.");
  EXPECT_EQ(controller->currentState()->refined(), "Newest.");
}

TEST_F(RefinePanelTest, ActionsAfterTheControllerIsGoneStillReportButCloseNothing) {
  applyResult = false;
  open();
  controller->showResult("Text.");
  const auto state = controller->currentState();
  const auto buttons = inspector().findKind(ui::NodeKind::button);
  ASSERT_EQ(buttons.size(), 4u); // close symbol, Apply, Copy, Dismiss
  const auto apply = buttons[1].node->as<ui::ButtonContent>().action;
  const auto copy = buttons[2].node->as<ui::ButtonContent>().action;
  const auto dismiss = buttons[3].node->as<ui::ButtonContent>().action;
  controller.reset();
  apply();
  EXPECT_EQ(applied, std::vector<std::string>{"Text."});
  EXPECT_TRUE(state->applyFailed());
  applyResult = true;
  apply();
  copy();
  dismiss();
  EXPECT_EQ(applied.size(), 2u);
  EXPECT_EQ(copied, std::vector<std::string>{"Text."});
}

} // namespace
} // namespace murmurquill
