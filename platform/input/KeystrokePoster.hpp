#pragma once

#include <cstdint>

namespace platform {

// Where a synthetic event enters the platform's event stream.
enum class EventTapLocation : std::uint32_t {
  hidEventTap = 0,     // where hardware events enter: every application sees it as typed
  sessionEventTap = 1, // the login session's stream
};

// Whose modifier state a synthetic event starts from.
enum class EventSourceState : std::int32_t {
  combinedSessionState = 0,
  hidSystemState = 1, // the state of the hardware keyboard
};

// One synthetic keyboard event.
struct Keystroke {
  std::uint16_t keyCode = 0; // virtual key code
  bool keyDown = true;       // key down, else key up
  std::uint64_t flags = 0;   // EventFlags bits set on the event; the source's own are replaced
  EventSourceState sourceState = EventSourceState::hidSystemState;
};

// Posts synthetic keystrokes into the platform's event stream. Used on the main thread.
class KeystrokePoster {
public:
  virtual ~KeystrokePoster() = default;
  // Whether this process may post events (the platform's post-event permission).
  virtual bool canPostEvents() const = 0;
  // Makes the event and posts it at `location`. False when the event could not be made or
  // posted (nothing reached the stream).
  virtual bool post(const Keystroke &keystroke, EventTapLocation location) = 0;
  // Whether the application with the keyboard focus is known to undo its last edit with the
  // undo chord (Command-Z), as every application on the app's own platform does.
  virtual bool focusedApplicationUndoes() { return true; }
};

} // namespace platform
