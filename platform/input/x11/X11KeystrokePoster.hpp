#pragma once

#include "platform/input/KeystrokePoster.hpp"
#include "platform/input/x11/X11Pasteboard.hpp"
#include "platform/x11/X11Connection.hpp"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// How the paste chord reaches an application: X has no paste key every program knows.
enum class PasteKey {
  controlV,      // most toolkits
  controlShiftV, // terminals whose clipboard paste it is (Control+V reaches the program in them)
  shiftInsert,   // terminals that paste the PRIMARY selection with Shift+Insert
  typeText,      // programs with no paste key (Xt/Xaw): the text is typed key by key
};

// A window class, how its windows paste, and whether Control+Z undoes a paste there.
struct PasteRoute {
  std::string windowClass; // WM_CLASS instance or class, compared ignoring case
  PasteKey key = PasteKey::controlV;
  bool undoes = false;
};

// The paste routes of the common terminals and editors, of the Xt programs that edit text and of
// the applications known to undo with Control+Z; every other window pastes with Shift+Insert
// (clipboard and PRIMARY both holding the text), and its undo is unknown.
const std::vector<PasteRoute> &standardPasteRoutes();

// How a window of WM_CLASS `instance` and `windowClass` pastes by `routes`.
PasteRoute routeFor(const std::vector<PasteRoute> &routes, const std::string &instance,
                    const std::string &windowClass);

// How the X11 poster connects and pastes.
struct X11KeystrokePosterOptions {
  // The display to post to (default: $DISPLAY).
  X11ConnectionOptions connection = {};
  // How windows paste, by class.
  std::vector<PasteRoute> pasteRoutes = standardPasteRoutes();
  // The clipboard the paste chord pastes: Shift+Insert offers its text as PRIMARY as well, and
  // the typing route types its text. Without one, those routes paste with Control+V.
  std::shared_ptr<X11Pasteboard> pasteboard = nullptr;
  // Characters typed between two waits for the server, so neither its input queue nor the
  // receiving application falls behind on a long text.
  std::size_t typingChunk = 32;
  // How the paste chord waits for the clipboard's new owner to settle for the focused program
  // (X11Pasteboard::waitUntilSettled): how long a program that asks nothing is given to ask
  // (a busy machine, right after a transcription, delays the question by tens of milliseconds),
  // and the longest wait in all.
  std::chrono::milliseconds settleQuiet = std::chrono::milliseconds(100);
  std::chrono::milliseconds settleLimit = std::chrono::milliseconds(300);
};

// Synthetic keystrokes on an X11 desktop through the XTest extension; they reach the window
// that has the keyboard focus as if typed.
//
// Keystrokes use the app's virtual key codes and flags. Linux shortcuts take Control where the
// app's platform takes Command, so Command is pressed as Control; Control, Shift and Option
// (Alt) are pressed as themselves. The paste chord (V with Command) goes the focused window's
// paste route (by its WM_CLASS): Control+V, Control+Shift+V, Shift+Insert with the clipboard's
// text offered as PRIMARY, or the clipboard's text typed, on the chord's key-down. A key-down
// presses the modifiers of its flags and then the key; the key-up of the same key releases the
// key and then those modifiers.
// Modifiers the user holds physically stay held (X has no per-event modifier state): releasing
// them by XTest would look to the key tap like the user letting go of the push-to-talk key.
//
// Used on one thread (the main executor's); opening happens at construction and failure shows
// as canPostEvents() false.
class X11KeystrokePoster final : public KeystrokePoster {
public:
  explicit X11KeystrokePoster(X11KeystrokePosterOptions options = {});
  ~X11KeystrokePoster() override;
  X11KeystrokePoster(const X11KeystrokePoster &) = delete;
  X11KeystrokePoster &operator=(const X11KeystrokePoster &) = delete;

  // True when the display is open and has the XTest extension.
  bool canPostEvents() const override;
  // False for a key code with no key on this keyboard, or when posting is impossible.
  bool post(const Keystroke &keystroke, EventTapLocation location) override;

  // Types `text` (UTF-8) into the focused window, any character included: characters without a
  // key on the current layout are typed on spare key codes (those without keysyms), mapped to
  // them two per key code (the second with Shift). The mappings stay while the poster lives,
  // since clients look a key up from the server's map when they handle the event, which may be
  // after this returns; they are reused for the same characters, reassigned least recently used
  // first, and undone by the destructor. False, with nothing typed, for invalid UTF-8, when
  // posting is impossible, or when the text holds more distinct such characters than the spare
  // key codes can hold at once (twice their number). Types in chunks of `typingChunk`
  // characters, waiting for the server after each. Blocks for a round trip per chunk.
  bool typeText(std::string_view utf8);

  // The WM_CLASS instance and class of the window with the keyboard focus (or of its nearest
  // ancestor that has one; else of the window manager's active window); empty when none.
  std::pair<std::string, std::string> focusedWindowClass();
  // How the focused window pastes, by its class.
  PasteKey focusedPasteKey();
  // The window with the keyboard focus (else the window manager's active window); 0 when none.
  X11Id focusedWindow();
  // True when the focused window's class is known to undo with Control+Z (a GTK 3 entry,
  // a terminal and xedit do not).
  bool focusedApplicationUndoes() override;

private:
  struct Chord {
    unsigned long keysym = 0;
    std::vector<unsigned long> modifiers;
  };
  bool pressKey(unsigned keycode, bool down);
  std::pair<std::string, std::string> classOf(X11Id window);
  PasteKey pasteKeyOf(X11Id window);
  void drainEvents();
  // What the key-down of `keystroke` presses; absent when it pastes by typing (done here).
  std::optional<Chord> chordFor(const Keystroke &keystroke, bool &ok);
  bool pressChord(std::int64_t keyCode, const Chord &chord);
  bool releaseChord(std::int64_t keyCode);
  // A character as typed: a key of the layout (with Shift or not), or a spare key code mapped to
  // its keysym.
  struct TypedKey {
    unsigned keycode = 0;
    bool shifted = false;
    unsigned long onSlot = 0; // typed on a spare key code mapped to this keysym
  };
  bool findSpareKeycodes();
  std::vector<TypedKey> planKeys(const std::u32string &text, std::set<unsigned long> &wanted);
  void mapSlots(const std::set<unsigned long> &wanted);
  bool typeKeys(const std::vector<TypedKey> &keys);

  X11KeystrokePosterOptions options_;
  std::shared_ptr<X11Connection> connection_;
  bool hasXTest_ = false;
  // One of the two keysyms of a spare key code.
  struct Slot {
    unsigned keycode = 0;
    bool shifted = false;     // the second keysym, typed with Shift
    unsigned long keysym = 0; // mapped by this poster; 0 when free
  };
  std::vector<Slot> slots_;
  std::vector<Slot>::iterator slotOf(unsigned long keysym);
  bool sparesFound_ = false;
  // What a key-down pressed (key code, then modifier key codes), by virtual key code, released
  // by its key-up.
  struct Pressed {
    unsigned keycode = 0;
    std::vector<unsigned> modifiers;
  };
  std::map<std::int64_t, Pressed> pressed_;
  // Virtual key codes whose down pasted by typing: their up has nothing to release.
  std::set<std::int64_t> typedPaste_;
};

} // namespace platform
