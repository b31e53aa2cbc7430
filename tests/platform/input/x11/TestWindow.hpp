#pragma once

#include "platform/x11/X11Connection.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace platform::testing {

// A small X client window standing for another application: mapped, given the keyboard focus,
// it turns the key presses it receives into text as a plain Xlib client does (XLookupString,
// keyboard mapping refreshed on MappingNotify, in event order). Not thread-safe.
class TestWindow {
public:
  // `instance`/`windowClass` become its WM_CLASS; `pid` its _NET_WM_PID when not 0.
  TestWindow(X11Connection &connection, const std::string &instance = "testwindow",
             const std::string &windowClass = "TestWindow", long pid = 0);
  ~TestWindow();
  TestWindow(const TestWindow &) = delete;
  TestWindow &operator=(const TestWindow &) = delete;

  X11Id window() const { return window_; }
  // Gives it the keyboard focus and marks it active on the root (as a window manager would).
  void focus();
  // Reads key presses until `count` characters arrived or `limit` passed; the text so far.
  std::u32string readText(std::size_t count,
                          std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Modifier state (X masks) of the key presses read so far, one per character, and the
  // keysyms pressed (modifiers included).
  const std::u32string &text() const { return text_; }
  const std::basic_string<unsigned> &states() const { return states_; }
  // Every key press read so far, characters or not: its keysym and modifier state.
  const std::vector<std::pair<unsigned long, unsigned>> &presses() const { return presses_; }

private:
  X11Connection &connection_;
  X11Id window_ = 0;
  std::u32string text_;
  std::basic_string<unsigned> states_;
  std::vector<std::pair<unsigned long, unsigned>> presses_;
};

// Asks the owner of `selection` for `target` as a client would (atom lists as their names, one
// per line); absent when refused. Fails the test when no answer comes.
std::optional<std::string> requestSelection(X11Connection &connection, const std::string &selection,
                                            const std::string &target);

// `text` as UTF-8.
std::string utf8(const std::u32string &text);

} // namespace platform::testing
