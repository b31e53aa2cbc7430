#pragma once

#include "platform/x11/X11Connection.hpp"
#include "tests/support/XvfbServer.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace platform::testing {

// Base of the tests that need an X server: the test process's private Xvfb (skipped when there
// is none) and a connection of the test's own, playing the other applications of the desktop.
class DesktopTest : public ::testing::Test {
protected:
  void SetUp() override {
    const auto display = mqtest::XvfbServer::display();
    if (!display) {
      GTEST_SKIP() << "needs an X server: neither Xvfb nor a DISPLAY is available";
    }
    options.displayName = *display;
    peer = X11Connection::open(options);
  }

  X11ConnectionOptions options;
  std::shared_ptr<X11Connection> peer;
};

} // namespace platform::testing
