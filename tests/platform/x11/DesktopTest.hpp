#pragma once

#include "platform/x11/X11Connection.hpp"
#include "tests/support/XvfbServer.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace platform::testing {

// Base of the tests that need an X server: the test process's private Xvfb (skipped when there
// is none) and a connection of the test's own, playing the other applications of the desktop.
// These tests type keys, move the focus and write the root window's window-manager properties,
// so they never run on the session's own display (the fallback of XvfbServer without Xvfb).
class DesktopTest : public ::testing::Test {
protected:
  void SetUp() override {
    const auto display = mqtest::XvfbServer::display();
    const char *session = std::getenv("DISPLAY");
    if (!display || (session != nullptr && *display == session)) {
      GTEST_SKIP() << "needs a private X server (the Xvfb program)";
    }
    options.displayName = *display;
    peer = X11Connection::open(options);
  }

  X11ConnectionOptions options;
  std::shared_ptr<X11Connection> peer;
};

} // namespace platform::testing
