#include "platform/input/InMemoryPasteboard.hpp"
#include "platform/ui/Desktop.hpp"
#include "platform/ui/HostingView.hpp"
#include "platform/ui/Inspector.hpp"
#include "platform/ui/TextEditingState.hpp"
#include "platform/ui/TextLayout.hpp"
#include "platform/ui/Window.hpp"

#include <gtest/gtest.h>

#include <cairo.h>

#include <memory>
#include <string>

namespace platform::ui {
namespace {

class CountingDesktop final : public Desktop {
public:
  void windowChanged(Window *) override { ++changes; }
  int changes = 0;
};

// A window holding one editor of fixed size over an observable text, with a pasteboard.
class TextEditorTest : public ::testing::Test {
protected:
  void SetUp() override {
    desktop.setScreens({{makeRect(0, 0, 1440, 900), makeRect(0, 0, 1440, 900), "Main"}});
    desktop.setPasteboard(pasteboard);
    window.setContentView(std::make_unique<HostingView>(
        [this] {
          return TextEditor(bind(text)).font(Font::body()).frame(200.0, height).padding(10);
        },
        Size{220, height + 20}));
  }

  const LayoutNode &editor() {
    return *findFirst(window.contentView()->layout(), [](const LayoutNode &placed) {
      return placed.node->kind == NodeKind::textEditor;
    });
  }
  const TextEditorState &state() { return *editor().editor; }
  Rect frame() { return editor().frame; }

  double height = 60;
  CountingDesktop desktop;
  std::shared_ptr<InMemoryPasteboard> pasteboard = std::make_shared<InMemoryPasteboard>();
  Observable<std::string> text{std::string()};
  Window window{desktop, makeRect(100, 100, 220, 80), kBorderless};
  Inspector inspector{window};
};

TEST_F(TextEditorTest, KeysMoveTheCaretAndTypingGoesInThere) {
  text.set("Helo world");
  inspector.key(Key::named(Key::Kind::home));
  for (int i = 0; i < 3; ++i) {
    inspector.key(Key::named(Key::Kind::right));
  }
  inspector.type("l");
  EXPECT_EQ(text.get(), "Hello world");
  inspector.key(Key::named(Key::Kind::end));
  inspector.key(Key::named(Key::Kind::left), kShift);
  inspector.key(Key::named(Key::Kind::left), kShift);
  EXPECT_TRUE(inspector.key(Key::named(Key::Kind::forwardDelete)));
  EXPECT_EQ(text.get(), "Hello wor");
  EXPECT_TRUE(inspector.deleteBackward());
  EXPECT_EQ(text.get(), "Hello wo");
}

// Moving the caret draws again without building the views again.
TEST_F(TextEditorTest, CaretMovesRedrawWithoutRendering) {
  text.set("abc");
  const std::size_t renders = window.contentView()->renderCount();
  const int changes = desktop.changes;
  inspector.key(Key::named(Key::Kind::left));
  EXPECT_EQ(state().editing.caret(), 2u);
  EXPECT_EQ(window.contentView()->renderCount(), renders);
  EXPECT_GT(desktop.changes, changes);
}

TEST_F(TextEditorTest, ThePointerPlacesTheCaretAndDragsASelectionToCopy) {
  text.set("hello world");
  const Rect f = frame();
  const double line = f.minY() + Theme::editorInset + 4;
  EXPECT_EQ(inspector.pressPointer({f.minX() + 1, line}), EventDispatcher::Press::editor);
  EXPECT_EQ(state().editing.caret(), 0u);
  inspector.dragSelection({f.maxX() - 1, line});
  EXPECT_EQ(state().editing.selectedText(text.get()), "hello world");
  EXPECT_TRUE(inspector.key(Key::of('c'), kCommand));
  EXPECT_EQ(pasteboard->string(), "hello world");
  // Shift extends from where the selection began.
  inspector.pressPointer({f.minX() + 1, line});
  inspector.pressPointer({f.maxX() - 1, line}, kShift);
  EXPECT_EQ(state().editing.selection(), (std::pair<std::size_t, std::size_t>{0, 11}));
  pasteboard->externalWrite({{Pasteboard::plainTextType, "bye"}});
  inspector.key(Key::of('v'), kCommand);
  EXPECT_EQ(text.get(), "bye");
}

TEST_F(TextEditorTest, LongTextScrollsByWheelAndFollowsTheCaret) {
  std::string lines;
  for (int i = 0; i < 30; ++i) {
    lines += "line " + std::to_string(i) + "\n";
  }
  text.set(lines);
  const Rect f = frame();
  EXPECT_EQ(f.height(), 60);
  const Point inside{f.midX(), f.midY()};
  EXPECT_EQ(state().scrollOffset, 0);
  EXPECT_TRUE(inspector.scroll(inside, 40));
  EXPECT_EQ(state().scrollOffset, 40);
  EXPECT_TRUE(inspector.scroll(inside, -1000));
  EXPECT_EQ(state().scrollOffset, 0);
  EXPECT_FALSE(inspector.scroll(inside, -10));                  // already at the top
  EXPECT_FALSE(inspector.scroll({f.maxX() + 5, f.midY()}, 10)); // not over the editor
  inspector.scroll(inside, 1e6);
  const double limit = state().scrollOffset;
  EXPECT_GT(limit, 300);

  // Typing at the end keeps the caret in view; going to the start scrolls back.
  inspector.scroll(inside, -1e6);
  inspector.type("x");
  EXPECT_NEAR(state().scrollOffset, limit, 1); // text heights are rounded up to whole points
  inspector.key(Key::named(Key::Kind::home), kCommand);
  EXPECT_EQ(state().scrollOffset, 0);
  EXPECT_TRUE(inspector.key(Key::named(Key::Kind::pageDown)));
  const double page = state().scrollOffset;
  EXPECT_GT(page, 20);
  EXPECT_LT(page, 50);
  inspector.key(Key::named(Key::Kind::pageUp));
  EXPECT_EQ(state().scrollOffset, 0);
}

// A selection is drawn (in the accent colour, behind the text); without one it is not.
TEST_F(TextEditorTest, TheSelectionIsDrawn) {
  text.set("some text");
  const auto bluePixels = [this] {
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 220, 80);
    cairo_t *cr = cairo_create(surface);
    window.contentView()->draw(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const unsigned char *data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    int count = 0;
    for (int y = 0; y < 80; ++y) {
      for (int x = 0; x < 220; ++x) {
        const unsigned char *p = data + y * stride + x * 4; // B, G, R, A
        count += p[0] > p[2] + 40 ? 1 : 0;
      }
    }
    cairo_surface_destroy(surface);
    return count;
  };
  EXPECT_EQ(bluePixels(), 0);
  inspector.key(Key::of('a'), kCommand);
  EXPECT_GT(bluePixels(), 100);
}

} // namespace
} // namespace platform::ui

namespace platform::ui {
namespace {

// Up and Down follow the lines as the text wraps on screen, back to where they began;
// past the first or last line they go to the ends of the text.
TEST_F(TextEditorTest, UpAndDownFollowWrappedLines) {
  // One paragraph that wraps over several lines of the editor, then a short line.
  text.set("alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu\nxi");
  const auto caretY = [this] {
    const std::string t = text.get();
    return caretRect(t, Font::body(), frame().width() - 2 * Theme::editorInset,
                     state().editing.caret())
        .minY();
  };
  inspector.key(Key::named(Key::Kind::home), kCommand);
  inspector.key(Key::named(Key::Kind::right));
  inspector.key(Key::named(Key::Kind::right));
  const double firstLine = caretY();
  inspector.key(Key::named(Key::Kind::down));
  EXPECT_GT(caretY(), firstLine);
  const std::size_t secondLine = state().editing.caret();
  EXPECT_GT(secondLine, 2u);
  EXPECT_LT(secondLine, text.get().find('\n')); // still in the first paragraph
  inspector.key(Key::named(Key::Kind::up));
  EXPECT_EQ(state().editing.caret(), 2u);
  inspector.key(Key::named(Key::Kind::up));
  EXPECT_EQ(state().editing.caret(), 0u);
  inspector.key(Key::named(Key::Kind::end), kCommand);
  inspector.key(Key::named(Key::Kind::down), kShift);
  EXPECT_EQ(state().editing.caret(), text.get().size());
}

} // namespace
} // namespace platform::ui
