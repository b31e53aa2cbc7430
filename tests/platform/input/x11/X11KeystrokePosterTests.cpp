#include "platform/input/x11/X11KeystrokePoster.hpp"

#include "platform/input/EventTap.hpp"
#include "tests/platform/input/x11/TestWindow.hpp"
#include "tests/platform/x11/DesktopTest.hpp"

#include <X11/Xlib.h>

#include <gtest/gtest.h>

namespace platform {
namespace {

using testing::TestWindow;

class X11KeystrokePosterTest : public testing::DesktopTest {
protected:
  void postChord(X11KeystrokePoster &poster, std::uint16_t keyCode, std::uint64_t flags) {
    Keystroke down;
    down.keyCode = keyCode;
    down.flags = flags;
    Keystroke up = down;
    up.keyDown = false;
    ASSERT_TRUE(poster.post(down, EventTapLocation::hidEventTap));
    ASSERT_TRUE(poster.post(up, EventTapLocation::hidEventTap));
  }
};

struct TypedCase {
  const char *name;
  const char *text;
};

class X11TypeTextTest : public X11KeystrokePosterTest,
                        public ::testing::WithParamInterface<TypedCase> {};

TEST_P(X11TypeTextTest, TextArrivesInTheFocusedWindow) {
  TestWindow window(*peer);
  window.focus();
  X11KeystrokePoster poster({options});
  ASSERT_TRUE(poster.canPostEvents());
  const std::string text = GetParam().text;
  ASSERT_TRUE(poster.typeText(text));
  std::size_t count = 0;
  for (const char c : text) {
    count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }
  EXPECT_EQ(testing::utf8(window.readText(count)), text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, X11TypeTextTest,
    ::testing::Values(TypedCase{"Ascii", "Hello, World! 42"},
                      TypedCase{"Latin1AndBeyond", "Gr\xC3\xBC\xC3\x9F"
                                                   "e \xE2\x82\xAC 5"},
                      TypedCase{"ManyDistinct",
                                "\xCE\xB1\xCE\xB2\xCE\xB3\xCE\xB4\xCE\xB5\xCE\xB6\xCE\xB7\xCE\xB8"
                                "\xCE\xB9\xCE\xBA\xCE\xBB\xCE\xBC\xCE\xBD\xCE\xBE\xCE\xBF\xCF\x80"
                                "\xCF\x81\xCF\x83\xCF\x84\xCF\x85\xCF\x86\xCF\x87\xCF\x88\xCF\x89"},
                      TypedCase{"EmojiAndNewline", "ok \xF0\x9F\x98\x80\nnext"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(X11KeystrokePosterTest, TheKeyboardMappingIsAsItWasOnceThePosterIsGone) {
  TestWindow window(*peer);
  window.focus();
  int min = 0;
  int max = 0;
  XDisplayKeycodes(peer->display(), &min, &max);
  int per = 0;
  auto snapshot = [&] {
    KeySym *map =
        XGetKeyboardMapping(peer->display(), static_cast<KeyCode>(min), max - min + 1, &per);
    std::vector<KeySym> copy(map, map + (max - min + 1) * per);
    XFree(map);
    return copy;
  };
  const auto before = snapshot();
  {
    X11KeystrokePoster poster({options});
    ASSERT_TRUE(poster.typeText("\xC3\xA9\xE2\x9C\x93"));
    ASSERT_TRUE(poster.typeText("\xE2\x9C\x93\xC3\xB8"));
    EXPECT_EQ(testing::utf8(window.readText(4)), "\xC3\xA9\xE2\x9C\x93\xE2\x9C\x93\xC3\xB8");
  }
  EXPECT_EQ(snapshot(), before);
}

TEST_F(X11KeystrokePosterTest, MoreDistinctUnmappedCharactersThanSpareKeysTypesNothing) {
  TestWindow window(*peer);
  window.focus();
  X11KeystrokePoster poster({options});
  std::u32string many;
  for (char32_t c = 0x4E00; c < 0x4E00 + 600; ++c) {
    many.push_back(c);
  }
  EXPECT_FALSE(poster.typeText(testing::utf8(many)));
  ASSERT_TRUE(poster.typeText("x"));
  EXPECT_EQ(testing::utf8(window.readText(1)), "x");
}

TEST_F(X11KeystrokePosterTest, InvalidUtf8TypesNothing) {
  X11KeystrokePoster poster({options});
  EXPECT_FALSE(poster.typeText("ab\xC3"));
  EXPECT_FALSE(poster.typeText("\xED\xA0\x80")); // a surrogate
  EXPECT_FALSE(poster.typeText("\xC0\xAF"));     // overlong
}

struct PasteCase {
  const char *name;
  const char *windowClass;
  bool shifted;
};

class X11PasteChordTest : public X11KeystrokePosterTest,
                          public ::testing::WithParamInterface<PasteCase> {};

TEST_P(X11PasteChordTest, CommandVPastesWithControlAndShiftInTerminals) {
  TestWindow window(*peer, GetParam().windowClass, GetParam().windowClass);
  window.focus();
  X11KeystrokePoster poster({options});
  postChord(poster, 9, EventFlags::maskCommand);
  const auto text = window.readText(1);
  ASSERT_EQ(text.size(), 1u);
  EXPECT_TRUE(text[0] == U'v' || text[0] == U'V');
  EXPECT_NE(window.states()[0] & ControlMask, 0u);
  EXPECT_EQ((window.states()[0] & ShiftMask) != 0, GetParam().shifted);
}

INSTANTIATE_TEST_SUITE_P(Windows, X11PasteChordTest,
                         ::testing::Values(PasteCase{"Editor", "gedit", false},
                                           PasteCase{"Xterm", "XTerm", true},
                                           PasteCase{"Gnome", "Gnome-terminal", true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(X11KeystrokePosterTest, UndoChordIsControlZAndModifiersAreReleased) {
  TestWindow window(*peer);
  window.focus();
  X11KeystrokePoster poster({options});
  postChord(poster, 6, EventFlags::maskCommand);
  ASSERT_TRUE(poster.typeText("a"));
  const auto text = window.readText(2);
  ASSERT_EQ(text.size(), 2u);
  EXPECT_EQ(text[0], U'z');
  EXPECT_NE(window.states()[0] & ControlMask, 0u);
  EXPECT_EQ(text[1], U'a');
  EXPECT_EQ(window.states()[1] & (ControlMask | ShiftMask), 0u);
}

TEST_F(X11KeystrokePosterTest, FocusedWindowClassIsRead) {
  TestWindow window(*peer, "kitty", "kitty");
  window.focus();
  X11KeystrokePoster poster({options});
  EXPECT_EQ(poster.focusedWindowClass(), (std::pair<std::string, std::string>{"kitty", "kitty"}));
  EXPECT_TRUE(poster.focusedWindowIsTerminal());
}

TEST(X11KeystrokePosterNoServerTest, CannotPostWithoutADisplay) {
  X11KeystrokePosterOptions options;
  options.connection.displayName = ":4711";
  X11KeystrokePoster poster(options);
  EXPECT_FALSE(poster.canPostEvents());
  EXPECT_FALSE(poster.post({}, EventTapLocation::hidEventTap));
  EXPECT_FALSE(poster.typeText("a"));
}

} // namespace
} // namespace platform
