#pragma once

struct _XDisplay;

namespace mqtest {

// Whether the window manager on `display` frames a window of ours, waiting up to ten seconds.
// One that has only just started can drop the first map request it gets, so a probe window is
// mapped (again) until the manager frames it; a test's own windows are safe to show after.
bool windowManagerFrames(_XDisplay *display);

} // namespace mqtest
