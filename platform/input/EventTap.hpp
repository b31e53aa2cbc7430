#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// Types of the keyboard events a tap can watch, with the platform's numeric values (the
// bit of a type in an event mask is 1 << value). The two "disabled" notices are not events
// of the mask: the platform sends them to a tap it has switched off.
enum class EventType : std::uint32_t {
  keyDown = 10,
  keyUp = 11,
  flagsChanged = 12,
  tapDisabledByTimeout = 0xFFFFFFFE,
  tapDisabledByUserInput = 0xFFFFFFFF,
};

// Modifier flags of an event. The generic masks say that some key of a kind is held; the
// device masks say which one (left or right), so two keys of one kind can be told apart.
namespace EventFlags {
inline constexpr std::uint64_t maskAlphaShift = 0x10000;
inline constexpr std::uint64_t maskShift = 0x20000;
inline constexpr std::uint64_t maskControl = 0x40000;
inline constexpr std::uint64_t maskAlternate = 0x80000;
inline constexpr std::uint64_t maskCommand = 0x100000;
inline constexpr std::uint64_t deviceLeftControl = 0x1;
inline constexpr std::uint64_t deviceLeftShift = 0x2;
inline constexpr std::uint64_t deviceRightShift = 0x4;
inline constexpr std::uint64_t deviceLeftCommand = 0x8;
inline constexpr std::uint64_t deviceRightCommand = 0x10;
inline constexpr std::uint64_t deviceLeftAlternate = 0x20;
inline constexpr std::uint64_t deviceRightAlternate = 0x40;
inline constexpr std::uint64_t deviceRightControl = 0x2000;
} // namespace EventFlags

// One keyboard event as a tap sees it: its type, its virtual key code and its flags.
struct KeyEvent {
  EventType type = EventType::keyDown;
  std::int64_t keyCode = 0; // virtual key code
  std::uint64_t flags = 0;  // EventFlags bits
};

// The bit of `type` in an event mask.
constexpr std::uint64_t eventMaskBit(EventType type) {
  return std::uint64_t{1} << static_cast<std::uint32_t>(type);
}

// Where a tap sits and what it may do.
struct EventTapOptions {
  // Mask of the event types delivered (eventMaskBit of each); the disabled notices always are.
  std::uint64_t eventMask = 0;
  // Listen only: the tap sees events and cannot change or drop them.
  bool listenOnly = true;
  // Placed before the taps that exist already.
  bool headInsert = true;
};

// A tap that is installed. Destroying it removes it from the platform. Used on the main
// thread only.
class EventTap {
public:
  virtual ~EventTap() = default;
  // Switches delivery on or off. The platform may switch a tap off by itself (after a time-out
  // or on user input); it then sends the tap a disabled notice and delivers nothing more until
  // the owner enables it again.
  virtual void setEnabled(bool enabled) = 0;
  virtual bool isEnabled() const = 0;

  // While the modifier key of virtual key code `keyCode` is held (none when negative), a key
  // event no program acts on reaches the focused program, so that pressing and releasing the
  // modifier alone does not act there (Alt alone opens a menu bar). Other modifiers, and this
  // one with other keys, are untouched.
  virtual void setMaskedModifier(std::int64_t keyCode) { (void)keyCode; }
  // Takes the chord of `keyCode` (virtual key code) with exactly the modifiers of `flags`,
  // whatever lock keys are on, for this process alone while the tap lives: the focused program
  // no longer receives it, the tap still does. False when another program holds it already (it
  // then reaches both) or the platform cannot reserve keys.
  virtual bool reserveChord(std::int64_t keyCode, std::uint64_t flags) {
    (void)keyCode;
    (void)flags;
    return false;
  }
};

// The platform's global keyboard event taps (the whole login session).
class EventTapService {
public:
  // Called for every event of the mask and for the disabled notices, on the thread that runs
  // the main executor, while the event is being dispatched: it must return quickly and must
  // not destroy its own tap.
  using Callback = std::function<void(const KeyEvent &)>;

  virtual ~EventTapService() = default;
  // A new tap, created disabled, or nullptr when the platform refuses it (the process lacks
  // the permission to watch input).
  virtual std::unique_ptr<EventTap> createTap(const EventTapOptions &options,
                                              Callback callback) = 0;
};

} // namespace platform
