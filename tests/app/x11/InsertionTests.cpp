#include "app/services/TextInjector.hpp"

#include "tests/app/AppTestSupport.hpp"

#include "platform/input/EventTap.hpp"
#include "platform/input/InMemoryAccessibility.hpp"
#include "platform/input/x11/X11KeystrokePoster.hpp"
#include "platform/input/x11/X11Pasteboard.hpp"
#include "platform/system/ManualExecutor.hpp"
#include "tests/support/AnnouncingProcess.hpp"
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

    user = std::make_shared<platform::X11Pasteboard>(platform::X11PasteboardOptions{options});
    user->clearContents();
    ASSERT_TRUE(user->setString(kUsersWords));
    pasteboard = std::make_shared<platform::X11Pasteboard>(platform::X11PasteboardOptions{options});
    poster = std::make_shared<platform::X11KeystrokePoster>(
        platform::X11KeystrokePosterOptions{.connection = options, .pasteboard = pasteboard});
    ASSERT_TRUE(poster->canPostEvents());
    injector = TextInjector::make(
        poster, pasteboard, std::make_shared<platform::InMemoryAccessibility>(), main, log.sink());
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
    ASSERT_EQ(injector->inject(text), TextInjector::InjectResult::injected);
    ASSERT_TRUE(eventually(arrived)) << "the text did not arrive";
    main->advance(TextInjector::kRestoreDelay);
  }

  void expectTheUsersClipboardBack() {
    platform::X11Pasteboard reader(platform::X11PasteboardOptions{options});
    EXPECT_EQ(reader.string(), kUsersWords);
    EXPECT_TRUE(log.lines().empty());
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
  static constexpr platform::X11Id kWindowType = 33; // XA_WINDOW
  platform::X11ConnectionOptions options;
  std::shared_ptr<platform::X11Connection> peer;
  std::unique_ptr<mqtest::AnnouncingProcess> windowManager;
  std::unique_ptr<mqtest::AnnouncingProcess> program;
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

} // namespace
} // namespace murmurquill
