#include "platform/input/x11/X11KeystrokePoster.hpp"

#include "platform/input/EventTap.hpp"
#include "tests/platform/input/x11/TestWindow.hpp"
#include "tests/platform/x11/DesktopTest.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <gtest/gtest.h>

#include <algorithm>

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

struct RouteCase {
  const char *name;
  const char *instance;
  const char *windowClass;
  PasteKey key;
  bool undoes = false;
};

class PasteRouteTable : public ::testing::TestWithParam<RouteCase> {};

TEST_P(PasteRouteTable, EachWindowClassPastesItsOwnWay) {
  const auto &c = GetParam();
  const PasteRoute route = routeFor(standardPasteRoutes(), c.instance, c.windowClass);
  EXPECT_EQ(route.key, c.key);
  EXPECT_EQ(route.undoes, c.undoes);
}

INSTANTIATE_TEST_SUITE_P(
    Classes, PasteRouteTable,
    ::testing::Values(RouteCase{"Xterm", "xterm", "XTerm", PasteKey::shiftInsert},
                      RouteCase{"Uxterm", "uxterm", "UXTerm", PasteKey::shiftInsert},
                      RouteCase{"Rxvt", "rxvt", "Rxvt", PasteKey::shiftInsert},
                      RouteCase{"Urxvt", "urxvt", "URxvt", PasteKey::shiftInsert},
                      RouteCase{"St", "st-256color", "st-256color", PasteKey::shiftInsert},
                      RouteCase{"GnomeTerminal", "gnome-terminal-server", "Gnome-terminal",
                                PasteKey::controlShiftV},
                      RouteCase{"Xfce4Terminal", "xfce4-terminal", "Xfce4-terminal",
                                PasteKey::controlShiftV},
                      RouteCase{"Konsole", "konsole", "konsole", PasteKey::controlShiftV},
                      RouteCase{"Kitty", "kitty", "kitty", PasteKey::controlShiftV},
                      RouteCase{"Alacritty", "Alacritty", "Alacritty", PasteKey::controlShiftV},
                      RouteCase{"Xedit", "xedit", "Xedit", PasteKey::typeText},
                      RouteCase{"Gedit", "gedit", "Gedit", PasteKey::controlV, true},
                      RouteCase{"Firefox", "Navigator", "firefox-esr", PasteKey::controlV, true},
                      RouteCase{"Emacs", "emacs", "Emacs", PasteKey::shiftInsert},
                      RouteCase{"Gvim", "gvim", "Gvim", PasteKey::shiftInsert},
                      // Programs the table does not know paste on Shift+Insert.
                      RouteCase{"Gtk3Entry", "python3", "Python3", PasteKey::shiftInsert, false},
                      RouteCase{"NoClass", "", "", PasteKey::shiftInsert}),
    [](const auto &info) { return std::string(info.param.name); });

class X11PasteRouteTest : public X11KeystrokePosterTest {
protected:
  void SetUp() override {
    X11KeystrokePosterTest::SetUp();
    if (!IsSkipped()) {
      pasteboard = std::make_shared<X11Pasteboard>(X11PasteboardOptions{options});
      pasteboard->clearContents();
      ASSERT_TRUE(pasteboard->setString(kText));
    }
  }

  static constexpr const char *kText = "dictated caf\xC3\xA9";
  std::shared_ptr<X11Pasteboard> pasteboard;
};

// xterm has no clipboard chord: Shift+Insert pastes PRIMARY, which carries the text for the paste.
TEST_F(X11PasteRouteTest, TerminalsOfTheSelectionPasteWithShiftInsertFromPrimary) {
  TestWindow window(*peer, "xterm", "XTerm");
  window.focus();
  X11KeystrokePoster poster({.connection = options, .pasteboard = pasteboard});
  postChord(poster, 9, EventFlags::maskCommand);
  window.readText(1, std::chrono::milliseconds(500));
  ASSERT_FALSE(window.presses().empty());
  const auto insert = std::find_if(window.presses().begin(), window.presses().end(),
                                   [](const auto &press) { return press.first == XK_Insert; });
  ASSERT_NE(insert, window.presses().end());
  EXPECT_NE(insert->second & ShiftMask, 0u);
  EXPECT_EQ(insert->second & ControlMask, 0u);
  EXPECT_TRUE(window.text().empty());
  EXPECT_EQ(testing::requestSelection(*peer, "PRIMARY", "UTF8_STRING"), kText);
  // The next contents end the offer: PRIMARY is not left serving the user's clipboard.
  pasteboard->clearContents();
  EXPECT_EQ(XGetSelectionOwner(peer->display(), XA_PRIMARY), None);
}

// xedit has no paste key at all: the clipboard's text is typed, and the chord itself types
// nothing.
TEST_F(X11PasteRouteTest, ProgramsWithoutAPasteKeyGetTheTextTyped) {
  TestWindow window(*peer, "xedit", "Xedit");
  window.focus();
  X11KeystrokePoster poster({.connection = options, .pasteboard = pasteboard});
  postChord(poster, 9, EventFlags::maskCommand);
  EXPECT_EQ(testing::utf8(window.readText(13)), kText);
  EXPECT_EQ(testing::utf8(window.readText(14, std::chrono::milliseconds(300))), kText);
}

// A long dictation typed in one go must not overflow the server's input queue.
TEST_F(X11KeystrokePosterTest, ALongTextArrivesWholeAndInOrder) {
  TestWindow window(*peer);
  window.focus();
  X11KeystrokePoster poster({options});
  std::string text;
  for (int i = 0; text.size() < 1300; ++i) {
    text += "Word" + std::to_string(i) + (i % 7 == 6 ? ". " : " ");
  }
  ASSERT_TRUE(poster.typeText(text));
  EXPECT_EQ(testing::utf8(window.readText(text.size())), text);
}

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
  EXPECT_EQ(poster.focusedPasteKey(), PasteKey::controlShiftV);
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
