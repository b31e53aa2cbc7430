#pragma once

#include <functional>

struct _XDisplay;

namespace platform::ui {
class X11Desktop;
}

namespace mqtest {

// Handles `desktop`'s events until `done` holds, syncing `client` (the test's own connection)
// and waiting on the desktop's connection between rounds, for up to ten seconds: a window
// manager answers in its own time. False when `done` never holds.
bool settleDesktop(_XDisplay *client, platform::ui::X11Desktop &desktop,
                   const std::function<bool()> &done);

} // namespace mqtest
