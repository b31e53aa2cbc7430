#include "app/services/TextInjector.hpp"

#include "tests/app/AppTestSupport.hpp"

#include "platform/input/EventTap.hpp"
#include "platform/input/InMemoryAccessibility.hpp"
#include "platform/input/x11/AtspiAccessibility.hpp"
#include "platform/input/x11/X11EventTapService.hpp"
#include "platform/input/x11/X11KeystrokePoster.hpp"
#include "platform/input/x11/X11Pasteboard.hpp"
#include "platform/system/ManualExecutor.hpp"
#include "tests/support/AnnouncingProcess.hpp"
#include "tests/support/SessionBus.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/XvfbServer.hpp"
#include "tests/support/x11/WindowManagerProbe.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <poll.h>
#include <unistd.h>

namespace murmurquill {
namespace {

using namespace std::chrono_literals;

std::string readFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Waits, bounded, for another program to reach a state: these peers run on their own.
bool eventually(const std::function<bool()> &reached, std::chrono::seconds limit = 20s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!reached()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    poll(nullptr, 0, 20);
  }
  return true;
}

bool installed(const std::string &program) { return access(program.c_str(), X_OK) == 0; }

// A command line that announces itself on `fd` and then becomes `command` on the display.
std::vector<std::string> announced(const std::string &display, const std::string &command,
                                   const std::string &fd) {
  return {"/bin/sh", "-c",
          "echo started > /proc/self/fd/" + fd + "; DISPLAY=" + display + " NO_AT_BRIDGE=1 exec " +
              command};
}

// Dictation into real programs on a private X server under a window manager: the text arrives
// once at the caret, and the user's clipboard is back afterwards.
class InsertionTest : public ::testing::Test {
protected:
  void SetUp() override {
    const auto display = mqtest::XvfbServer::display();
    const char *session = std::getenv("DISPLAY");
    if (!display || (session != nullptr && *display == session)) {
      GTEST_SKIP() << "needs a private X server (the Xvfb program)";
    }
    if (!installed("/usr/bin/openbox")) {
      GTEST_SKIP() << "needs the openbox window manager";
    }
    options.displayName = *display;
    peer = platform::X11Connection::open(options);
    windowManager = std::make_unique<mqtest::AnnouncingProcess>(
        [&](const std::string &fd) { return announced(*display, "openbox --sm-disable", fd); });
    ASSERT_TRUE(eventually([&] { return hasWindowManager(); })) << "openbox did not start";
    ASSERT_TRUE(mqtest::windowManagerFrames(peer->display())) << "openbox frames no window";

    selection = std::make_shared<platform::X11Pasteboard>(platform::X11PasteboardOptions{options});
    user = std::make_shared<platform::X11Pasteboard>(platform::X11PasteboardOptions{options});
    holdTheUsersSelections();
    pasteboard = std::make_shared<platform::X11Pasteboard>(platform::X11PasteboardOptions{options});
    poster = std::make_shared<platform::X11KeystrokePoster>(
        platform::X11KeystrokePosterOptions{.connection = options, .pasteboard = pasteboard});
    ASSERT_TRUE(poster->canPostEvents());
    injector = TextInjector::make(
        poster, pasteboard, std::make_shared<platform::InMemoryAccessibility>(), main, log.sink());
  }

  // The user selected some words in one program (PRIMARY) and copied others (CLIPBOARD).
  void holdTheUsersSelections() {
    selection->clearContents();
    ASSERT_TRUE(selection->setString(kUsersSelection));
    ASSERT_TRUE(selection->offerAsPrimary());
    user->clearContents();
    ASSERT_TRUE(user->setString(kUsersWords));
  }

  void TearDown() override {
    program.reset();
    windowManager.reset();
  }

  // The window manager's check window names itself; a stale root property (a window manager
  // of an earlier test) names a window that is gone.
  bool hasWindowManager() {
    const auto checkOf = [&](platform::X11Id window) -> platform::X11Id {
      platform::X11Connection::ErrorTrap trap(*peer);
      const auto check = peer->readProperty(window, peer->atom("_NET_SUPPORTING_WM_CHECK"),
                                            platform::X11PropertyRead{.type = kWindowType});
      const auto windows = check ? check->items32() : std::vector<std::uint32_t>{};
      return windows.empty() ? 0 : windows.front();
    };
    const platform::X11Id check = checkOf(peer->rootWindow());
    return check != 0 && checkOf(check) == check;
  }

  void start(const std::string &command) {
    program = std::make_unique<mqtest::AnnouncingProcess>(
        [&](const std::string &fd) { return announced(options.displayName, command, fd); });
    ASSERT_TRUE(program->line());
  }

  // Waits until the window manager gave the keyboard focus to a window of `instance`.
  void waitForFocus(const std::string &instance) {
    ASSERT_TRUE(eventually([&] { return poster->focusedWindowClass().first == instance; }))
        << "the focus is on '" << poster->focusedWindowClass().first << "'";
  }

  // Inserts `text` as a dictation does, and lets the restore delay pass once the program has
  // received it.
  void dictate(const std::string &text, const std::function<bool()> &arrived) {
    // Again: a program that selects its text as it starts (a GTK entry) takes PRIMARY. The
    // dictation starts once the app has seen both owners of the clipboard come and go.
    const std::int64_t before = pasteboard->changeCount();
    holdTheUsersSelections();
    ASSERT_TRUE(eventually([&] { return pasteboard->changeCount() >= before + 2; }));
    ASSERT_EQ(injector->inject(text), TextInjector::InjectResult::injected);
    ASSERT_TRUE(eventually(arrived)) << "the text did not arrive";
    main->advance(TextInjector::kRestoreDelay);
  }

  void expectTheUsersClipboardBack() {
    // A patient reader: the test machine may be busy, and what matters is what the app holds.
    platform::X11Pasteboard reader(platform::X11PasteboardOptions{
        .connection = options, .replyTimeout = 10s, .contentsTimeout = 10s});
    EXPECT_EQ(reader.string(), kUsersWords);
    const platform::PasteboardContents primary = reader.primaryContents();
    EXPECT_EQ(primary.empty() ? "" : primary.front().data, kUsersSelection) << "PRIMARY";
    EXPECT_TRUE(log.lines().empty()) << log.lines().front();
  }

  // Presses (or releases) the key of `keysym` as a person would.
  void fakeKey(unsigned long keysym, bool down) {
    const unsigned keycode = XKeysymToKeycode(peer->display(), keysym);
    ASSERT_NE(keycode, 0u);
    XTestFakeKeyEvent(peer->display(), keycode, down ? True : False, CurrentTime);
    XSync(peer->display(), False);
  }

  // Posts Control+`keyCode` (virtual key code), as a person's shortcut.
  void pressControl(std::uint16_t keyCode) {
    platform::Keystroke down;
    down.keyCode = keyCode;
    down.flags = platform::EventFlags::maskControl;
    platform::Keystroke up = down;
    up.keyDown = false;
    ASSERT_TRUE(poster->post(down, platform::EventTapLocation::hidEventTap));
    ASSERT_TRUE(poster->post(up, platform::EventTapLocation::hidEventTap));
  }

  static constexpr const char *kUsersWords = "the user's own words";
  static constexpr const char *kUsersSelection = "words the user selected";
  static constexpr platform::X11Id kWindowType = 33; // XA_WINDOW
  platform::X11ConnectionOptions options;
  std::shared_ptr<platform::X11Connection> peer;
  std::unique_ptr<mqtest::AnnouncingProcess> windowManager;
  std::unique_ptr<mqtest::AnnouncingProcess> program;
  std::shared_ptr<platform::X11Pasteboard> selection;
  std::shared_ptr<platform::X11Pasteboard> user;
  std::shared_ptr<platform::X11Pasteboard> pasteboard;
  std::shared_ptr<platform::X11KeystrokePoster> poster;
  std::shared_ptr<platform::ManualExecutor> main = std::make_shared<platform::ManualExecutor>();
  testing::LogRecorder log;
  std::shared_ptr<TextInjector> injector;
  mqtest::TempDir folder;
};

// xterm has no clipboard chord: the dictation reaches the program in it through PRIMARY and
// Shift+Insert, byte for byte.
TEST_F(InsertionTest, AnXtermReaderReceivesTheTextOnce) {
  if (!installed("/usr/bin/xterm")) {
    GTEST_SKIP() << "needs xterm";
  }
  const auto output = folder.path() / "typed";
  const auto ready = folder.path() / "ready";
  start("xterm -e /bin/sh -c 'stty raw -echo; : > " + ready.string() + "; exec cat > " +
        output.string() + "'");
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(ready); }));
  waitForFocus("xterm");
  const std::string text = "Dictated into a terminal, caf\xC3\xA9 and all.";
  dictate(text, [&] { return readFile(output).size() >= text.size(); });
  EXPECT_EQ(readFile(output), text);
  expectTheUsersClipboardBack();
}

// xedit (Xaw) has no paste key: the dictation is typed, a long one whole and in order.
TEST_F(InsertionTest, XeditReceivesALongDictationWholeAtTheCaret) {
  if (!installed("/usr/bin/xedit")) {
    GTEST_SKIP() << "needs xedit";
  }
  const auto file = folder.path() / "notes.txt";
  std::ofstream(file) << "tail\n";
  start("xedit " + file.string());
  waitForFocus("xedit");
  std::string text;
  for (int i = 0; text.size() < 1300; ++i) {
    text += "word" + std::to_string(i) + (i % 9 == 8 ? ", " : " ");
  }
  text.resize(1300);
  injector->inject(text);
  main->advance(TextInjector::kRestoreDelay);
  // Control+X Control+S saves in xedit; the saved file shows what the widget holds.
  pressControl(7);
  pressControl(1);
  ASSERT_TRUE(eventually([&] { return readFile(file).size() >= text.size() + 5; }));
  EXPECT_EQ(readFile(file), text + "tail\n");
  expectTheUsersClipboardBack();
}

// A GTK 3 entry pastes the clipboard with Control+V, at the caret.
TEST_F(InsertionTest, AGtkEntryReceivesTheTextOnceAtTheCaret) {
  if (!installed("/usr/bin/python3") ||
      std::system("/usr/bin/python3 -c \"import gi; gi.require_version('Gtk', '3.0'); "
                  "from gi.repository import Gtk\" 2>/dev/null") != 0) {
    GTEST_SKIP() << "needs python3-gi with GTK 3";
  }
  const auto output = folder.path() / "entry";
  const std::string script = std::string(MQ_SOURCE_DIR) + "/tests/app/x11/programs/gtk_entry.py";
  program = std::make_unique<mqtest::AnnouncingProcess>([&](const std::string &fd) {
    return std::vector<std::string>{"/usr/bin/env",
                                    "DISPLAY=" + options.displayName,
                                    "NO_AT_BRIDGE=1",
                                    "/usr/bin/python3",
                                    script,
                                    output.string(),
                                    fd};
  });
  ASSERT_TRUE(program->line()) << "the GTK window did not get the focus";
  const std::string text = "dictated \xE2\x9C\x93 text";
  dictate(text, [&] { return readFile(output) == "[" + text + "]"; });
  EXPECT_EQ(readFile(output), "[" + text + "]");
  expectTheUsersClipboardBack();
}

// A terminal program and how to run a command in it.
struct Terminal {
  const char *program;
  const char *instance; // WM_CLASS instance of its windows
  // The command line running `inner`; gnome-terminal's server is started on the session bus.
  std::string (*command)(const std::string &inner, const std::string &bus);
};

std::string xfce4Terminal(const std::string &inner, const std::string &) {
  return "xfce4-terminal --disable-server -x /bin/sh -c '" + inner + "'";
}

// The bus starts the server with its own environment, which must name the display.
std::string gnomeTerminal(const std::string &inner, const std::string &bus) {
  const std::string onBus = "env DBUS_SESSION_BUS_ADDRESS=" + bus + " ";
  return "/bin/sh -c \"" + onBus + "dbus-update-activation-environment DISPLAY=\\$DISPLAY && " +
         "exec " + onBus + "gnome-terminal --wait -- /bin/sh -c '" + inner + "'\"";
}

class TerminalInsertionTest : public InsertionTest,
                              public ::testing::WithParamInterface<Terminal> {};

// VTE terminals paste with Control+Shift+V, and only once they have learnt what the new
// clipboard holds: the chord waits for that.
TEST_P(TerminalInsertionTest, AVteTerminalReceivesTheTextOnce) {
  const Terminal &terminal = GetParam();
  if (!installed(std::string("/usr/bin/") + terminal.program)) {
    GTEST_SKIP() << "needs " << terminal.program;
  }
  const auto bus = mqtest::SessionBus::address();
  if (!bus) {
    GTEST_SKIP() << "needs the dbus-daemon program for a private session bus";
  }
  const std::string text = "Dictated into a VTE terminal, caf\xC3\xA9 and all.";
  const auto output = folder.path() / "typed";
  const auto ready = folder.path() / "ready";
  start(terminal.command("stty raw -echo; : > " + ready.string() + "; exec head -c " +
                             std::to_string(text.size()) + " > " + output.string(),
                         *bus));
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(ready); }));
  waitForFocus(terminal.instance);
  dictate(text, [&] { return readFile(output).size() >= text.size(); });
  EXPECT_EQ(readFile(output), text);
  expectTheUsersClipboardBack();
}

INSTANTIATE_TEST_SUITE_P(
    Vte, TerminalInsertionTest,
    ::testing::Values(Terminal{"gnome-terminal", "gnome-terminal-server", gnomeTerminal},
                      Terminal{"xfce4-terminal", "xfce4-terminal", xfce4Terminal}),
    [](const auto &info) {
      return std::string(info.param.program) == "gnome-terminal" ? "GnomeTerminal"
                                                                 : "Xfce4Terminal";
    });

// GUI Emacs scrolls on Control+V; the dictation goes in at point, and the next key follows it.
TEST_F(InsertionTest, GuiEmacsReceivesTheTextOnceAtPoint) {
  if (!installed("/usr/bin/emacs")) {
    GTEST_SKIP() << "needs emacs (GUI)";
  }
  const auto output = folder.path() / "buffer";
  const auto ready = folder.path() / "ready";
  start("emacs -Q --eval \"(progn (switch-to-buffer \\\"dictation\\\") (insert \\\"[]\\\") "
        "(goto-char 2) (add-hook 'after-change-functions (lambda (&rest _) (write-region nil nil "
        "\\\"" +
        output.string() + "\\\" nil 'silent))) (write-region \\\"\\\" nil \\\"" + ready.string() +
        "\\\" nil 'silent))\"");
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(ready); }));
  waitForFocus("emacs");
  const std::string text = "dictated into Emacs, caf\xC3\xA9";
  dictate(text, [&] { return readFile(output) == "[" + text + "]"; });
  ASSERT_TRUE(poster->typeText("!"));
  EXPECT_TRUE(eventually([&] { return readFile(output) == "[" + text + "!]"; }))
      << readFile(output);
  expectTheUsersClipboardBack();
}

// gvim takes the key after Control+V literally in insert mode (an Escape went in as ^[); the
// dictation goes in at the caret and the user's next keys act as keys. Shift+Insert pastes with
// the system's settings of a Debian gvim.
TEST_F(InsertionTest, GvimReceivesTheTextOnceAtTheCaretAndTheNextKeysAct) {
  if (!installed("/usr/bin/gvim")) {
    GTEST_SKIP() << "needs gvim";
  }
  const auto output = folder.path() / "buffer";
  const auto ready = folder.path() / "ready";
  start("gvim -f -u /etc/vim/vimrc -U NONE -N -c \"call setline(1, '[]')\" -c \"call cursor(1, "
        "2)\" -c "
        "\"autocmd TextChangedI * call writefile([getline(1)], '" +
        output.string() + "')\" -c \"call writefile([], '" + ready.string() +
        "')\" -c startinsert");
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(ready); }));
  waitForFocus("gvim");
  const std::string text = "dictated into gvim, caf\xC3\xA9";
  dictate(text, [&] { return readFile(output) == "[" + text + "]\n"; });
  // Escape leaves insert mode; "a" appends after the text's last character.
  platform::Keystroke escape;
  escape.keyCode = 53;
  platform::Keystroke up = escape;
  up.keyDown = false;
  ASSERT_TRUE(poster->post(escape, platform::EventTapLocation::hidEventTap));
  ASSERT_TRUE(poster->post(up, platform::EventTapLocation::hidEventTap));
  ASSERT_TRUE(poster->typeText("a!"));
  EXPECT_TRUE(eventually([&] { return readFile(output) == "[" + text + "!]\n"; }))
      << readFile(output);
  expectTheUsersClipboardBack();
}

// The refine chord is the app's alone, whatever lock keys are on: bash in an xterm would enter
// its reverse search on ^R.
TEST_F(InsertionTest, TheRefineChordDoesNotReachAFocusedXterm) {
  if (!installed("/usr/bin/xterm")) {
    GTEST_SKIP() << "needs xterm";
  }
  const auto output = folder.path() / "typed";
  const auto ready = folder.path() / "ready";
  start("xterm -e /bin/sh -c 'stty raw -echo; : > " + ready.string() + "; exec cat -v > " +
        output.string() + "'");
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(ready); }));
  waitForFocus("xterm");
  platform::X11EventTapService taps(main, platform::X11EventTapServiceOptions{options});
  int chords = 0;
  auto tap = taps.createTap(
      platform::EventTapOptions{.eventMask = platform::eventMaskBit(platform::EventType::keyDown)},
      [&](const platform::KeyEvent &event) {
        constexpr auto refine =
            platform::EventFlags::maskControl | platform::EventFlags::maskCommand;
        chords += event.keyCode == 15 && (event.flags & refine) == refine ? 1 : 0;
      });
  ASSERT_NE(tap, nullptr);
  tap->setEnabled(true);
  ASSERT_TRUE(
      tap->reserveChord(15, platform::EventFlags::maskControl | platform::EventFlags::maskCommand));
  const std::vector<std::vector<unsigned long>> locks = {
      {}, {XK_Caps_Lock}, {XK_Num_Lock}, {XK_Caps_Lock, XK_Num_Lock}};
  std::string expected;
  for (const auto &lock : locks) {
    for (const unsigned long key : lock) { // on
      fakeKey(key, true);
      fakeKey(key, false);
    }
    fakeKey(XK_Control_L, true);
    fakeKey(XK_Super_L, true);
    fakeKey(XK_r, true);
    fakeKey(XK_r, false);
    fakeKey(XK_Super_L, false);
    fakeKey(XK_Control_L, false);
    for (const unsigned long key : lock) { // off again
      fakeKey(key, true);
      fakeKey(key, false);
    }
    ASSERT_TRUE(poster->typeText("1"));
    expected += "1";
    ASSERT_TRUE(eventually([&] { return readFile(output).size() >= expected.size(); }));
  }
  EXPECT_EQ(readFile(output), expected);
  ASSERT_TRUE(eventually([&] {
    main->runUntilIdle();
    return chords == static_cast<int>(locks.size());
  }));
}

// The title of the window manager's active window.
std::string focusedTitle(platform::X11Connection &peer, platform::X11KeystrokePoster &) {
  platform::X11Connection::ErrorTrap trap(peer);
  const auto active = peer.readProperty(peer.rootWindow(), peer.atom("_NET_ACTIVE_WINDOW"),
                                        platform::X11PropertyRead{.type = 33}); // XA_WINDOW
  const auto windows = active ? active->items32() : std::vector<std::uint32_t>{};
  if (windows.empty()) {
    return "";
  }
  const auto title = peer.readProperty(windows.front(), peer.atom("_NET_WM_NAME"),
                                       platform::X11PropertyRead{.type = peer.atom("UTF8_STRING")});
  return title ? title->bytes : "";
}

// Firefox activates its menu bar when Alt is pressed and released alone, and a paste chord then
// goes to the menus. Right Alt held for a take must not do that: the dictation reaches the page.
TEST_F(InsertionTest, ALoneRightAltTakeOpensNoMenuInFirefox) {
  if (!installed("/usr/bin/firefox-esr")) {
    GTEST_SKIP() << "needs firefox-esr";
  }
  const auto profile = folder.path() / "profile";
  std::filesystem::create_directories(profile);
  std::ofstream(profile / "user.js")
      << "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
         "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
         "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
         "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
         "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n"
         "user_pref(\"browser.tabs.warnOnClose\", false);\n";
  // The page's title shows the text area's text.
  const auto page = folder.path() / "page.html";
  std::ofstream(page) << "<title>loading</title><body onload=\"document.querySelector('textarea')"
                         ".focus(); document.title='ready'\"><textarea oninput=\"document.title="
                         "'['+this.value+']'\"></textarea></body>";
  start("firefox-esr --no-remote --new-instance --profile " + profile.string() + " file://" +
        page.string());
  ASSERT_TRUE(eventually([&] { return focusedTitle(*peer, *poster).starts_with("ready"); }, 60s))
      << "the page did not load; the focus is on '" << focusedTitle(*peer, *poster) << "'";
  platform::X11EventTapService taps(main, platform::X11EventTapServiceOptions{options});
  bool held = false;
  auto tap =
      taps.createTap(platform::EventTapOptions{.eventMask = platform::eventMaskBit(
                                                   platform::EventType::flagsChanged)},
                     [&](const platform::KeyEvent &event) { held = held || event.keyCode == 61; });
  ASSERT_NE(tap, nullptr);
  tap->setEnabled(true);
  tap->setMaskedModifier(61);
  fakeKey(XK_Alt_R, true);
  // The tap has seen the press, and so masked it, before the key comes up.
  ASSERT_TRUE(eventually([&] {
    main->runUntilIdle();
    return held;
  }));
  fakeKey(XK_Alt_R, false);
  const std::string text = "dictated into a page";
  dictate(text, [&] { return focusedTitle(*peer, *poster).starts_with("[" + text + "]"); });
  EXPECT_TRUE(focusedTitle(*peer, *poster).starts_with("[" + text + "]"));
}

// Apply replaces through accessibility only in editable text: a terminal's screen or a read-only
// view is text too, but selecting there only highlights, and the paste lands elsewhere.
TEST_F(InsertionTest, TheAccessibilityRoadTakesOnlyEditableText) {
  if (!installed("/usr/bin/python3") ||
      std::system("/usr/bin/python3 -c \"import gi; gi.require_version('Gtk', '3.0'); "
                  "from gi.repository import Gtk\" 2>/dev/null") != 0) {
    GTEST_SKIP() << "needs python3-gi with GTK 3";
  }
  const auto bus = mqtest::SessionBus::address();
  if (!bus) {
    GTEST_SKIP() << "needs the dbus-daemon program for a private session bus";
  }
  const char *old = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::optional<std::string> previous = old ? std::optional<std::string>(old) : std::nullopt;
  setenv("DBUS_SESSION_BUS_ADDRESS", bus->c_str(), 1);
  struct Restore {
    std::optional<std::string> previous;
    ~Restore() {
      if (previous) {
        setenv("DBUS_SESSION_BUS_ADDRESS", previous->c_str(), 1);
      } else {
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
      }
    }
  } restore{previous};
  platform::AtspiAccessibility accessibility;
  if (!accessibility.isProcessTrusted()) {
    GTEST_SKIP() << "the accessibility bus could not be started on the private session bus";
  }
  const std::string script = std::string(MQ_SOURCE_DIR) + "/tests/app/x11/programs/gtk_text.py";
  program = std::make_unique<mqtest::AnnouncingProcess>([&](const std::string &fd) {
    return std::vector<std::string>{"/usr/bin/env",
                                    "DISPLAY=" + options.displayName,
                                    "DBUS_SESSION_BUS_ADDRESS=" + *bus,
                                    "/usr/bin/python3",
                                    script,
                                    fd};
  });
  ASSERT_TRUE(program->line()) << "the GTK window did not get the focus";
  const auto focusedText = [&]() -> std::optional<std::u16string> {
    platform::AccessibilityValue focused;
    if (accessibility.systemWideElement()->copyAttributeValue(
            platform::AccessibilityAttribute::focusedElement, focused) !=
        platform::AccessibilityError::success) {
      return std::nullopt;
    }
    platform::AccessibilityValue text;
    std::get<std::shared_ptr<platform::AccessibilityElement>>(focused)->copyAttributeValue(
        platform::AccessibilityAttribute::value, text);
    const auto *value = std::get_if<std::u16string>(&text);
    return value ? *value : u"";
  };
  ASSERT_TRUE(eventually([&] { return focusedText() == u"editable words"; }));
  // A change of the entry moves the focus to the read-only view.
  ASSERT_TRUE(poster->typeText("!"));
  EXPECT_TRUE(eventually([&] { return !focusedText(); }));
}

} // namespace
} // namespace murmurquill
