#include "platform/input/x11/X11KeystrokePoster.hpp"

#include "platform/input/EventTap.hpp"
#include "platform/input/x11/VirtualKeyKeysyms.hpp"
#include "platform/text/Utf8.hpp"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>

namespace platform {
namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Code points of `utf8`; absent when it is not well-formed UTF-8.
std::optional<std::u32string> decodeUtf8(std::string_view utf8) {
  if (!isValidUtf8(utf8)) {
    return std::nullopt;
  }
  std::u32string result;
  for (std::size_t i = 0; i < utf8.size();) {
    result.push_back(nextScalar(utf8, i));
  }
  return result;
}

KeySym keysymForCodePoint(char32_t c) {
  if (c == U'\n' || c == U'\r') {
    return XK_Return;
  }
  if (c == U'\t') {
    return XK_Tab;
  }
  if ((c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF)) {
    return c;
  }
  return 0x01000000 | c;
}

} // namespace

const std::vector<PasteRoute> &standardPasteRoutes() {
  // xterm, rxvt and st paste PRIMARY with Shift+Insert and have no clipboard chord by default;
  // the VTE-based terminals, konsole, kitty, alacritty and the newer ones paste the clipboard
  // with Control+Shift+V. xedit (Xaw) has no paste key: Control+V scrolls a page there. GUI
  // Emacs scrolls on Control+V and gvim takes the next key literally; both paste on
  // Shift+Insert (and Control+Z iconifies them).
  static const std::vector<PasteRoute> routes = [] {
    std::vector<PasteRoute> table;
    for (const char *name : {"xterm", "uxterm", "rxvt", "urxvt", "rxvt-unicode", "st",
                             "st-256color", "emacs", "gvim", "vim"}) {
      table.push_back({name, PasteKey::shiftInsert});
    }
    for (const char *name : {"gnome-terminal",
                             "gnome-terminal-server",
                             "xfce4-terminal",
                             "mate-terminal",
                             "tilix",
                             "terminator",
                             "guake",
                             "tilda",
                             "sakura",
                             "lxterminal",
                             "kgx",
                             "ptyxis",
                             "konsole",
                             "kitty",
                             "alacritty",
                             "qterminal",
                             "terminology",
                             "wezterm",
                             "org.wezfurlong.wezterm",
                             "foot",
                             "deepin-terminal",
                             "cool-retro-term"}) {
      table.push_back({name, PasteKey::controlShiftV});
    }
    table.push_back({"xedit", PasteKey::typeText});
    // Browsers, office suites and text editors whose fields undo a paste with Control+Z.
    for (const char *name : {"firefox",
                             "firefox-esr",
                             "navigator",
                             "chromium",
                             "chromium-browser",
                             "google-chrome",
                             "brave-browser",
                             "microsoft-edge",
                             "thunderbird",
                             "libreoffice",
                             "soffice",
                             "gedit",
                             "gnome-text-editor",
                             "org.gnome.texteditor",
                             "mousepad",
                             "pluma",
                             "xed",
                             "kate",
                             "kwrite",
                             "code",
                             "sublime_text",
                             "geany",
                             "abiword",
                             "featherpad"}) {
      table.push_back({name, PasteKey::controlV, /*undoes=*/true});
    }
    return table;
  }();
  return routes;
}

X11KeystrokePoster::X11KeystrokePoster(X11KeystrokePosterOptions options)
    : options_(std::move(options)) {
  try {
    connection_ = X11Connection::open(options_.connection);
  } catch (const X11Error &) {
    return;
  }
  int event = 0;
  int error = 0;
  int major = 0;
  int minor = 0;
  hasXTest_ = XTestQueryExtension(connection_->display(), &event, &error, &major, &minor);
  if (hasXTest_) {
    // Synthetic events keep flowing while another client grabs the server.
    XTestGrabControl(connection_->display(), True);
  }
}

X11KeystrokePoster::~X11KeystrokePoster() {
  if (!connection_ || connection_->isLost()) {
    return;
  }
  // Nothing stays held down, and the spare key codes lose their keysyms again.
  for (const auto &[keyCode, pressed] : pressed_) {
    XTestFakeKeyEvent(connection_->display(), pressed.keycode, False, CurrentTime);
    for (const unsigned modifier : pressed.modifiers) {
      XTestFakeKeyEvent(connection_->display(), modifier, False, CurrentTime);
    }
  }
  for (const Slot &slot : slots_) {
    if (slot.keysym != NoSymbol) {
      KeySym none[2] = {NoSymbol, NoSymbol};
      XChangeKeyboardMapping(connection_->display(), static_cast<int>(slot.keycode), 2, none, 1);
    }
  }
  XSync(connection_->display(), False);
}

bool X11KeystrokePoster::canPostEvents() const {
  return hasXTest_ && connection_ && !connection_->isLost();
}

void X11KeystrokePoster::drainEvents() {
  connection_->dispatchPending([](XEvent &event) {
    if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
    }
  });
}

bool X11KeystrokePoster::pressKey(unsigned keycode, bool down) {
  return XTestFakeKeyEvent(connection_->display(), keycode, down ? True : False, CurrentTime) != 0;
}

std::optional<X11KeystrokePoster::Chord> X11KeystrokePoster::chordFor(const Keystroke &keystroke,
                                                                      bool &ok) {
  using namespace EventFlags;
  Chord chord{keysymForVirtualKey(keystroke.keyCode), {}};
  const bool pasteChord = keystroke.keyCode == 9 && (keystroke.flags & maskCommand) != 0;
  const X11Id focus = pasteChord ? focusedWindow() : None;
  const PasteKey route = pasteChord ? pasteKeyOf(focus) : PasteKey::controlV;
  const auto &pasteboard = options_.pasteboard;
  if (route == PasteKey::typeText && pasteboard) {
    const auto text = pasteboard->string();
    ok = text && typeText(*text);
    typedPaste_.insert(keystroke.keyCode);
    return std::nullopt;
  }
  const bool viaPrimary =
      route == PasteKey::shiftInsert && pasteboard && pasteboard->offerAsPrimary();
  if (pasteChord && pasteboard && focus != None) {
    // A toolkit asks the new clipboard owner what it holds and ignores its paste key until the
    // answer came: the chord waits for that (bounded), not for a fixed time.
    pasteboard->waitUntilSettled(focus, options_.settleQuiet, options_.settleLimit);
  }
  if (viaPrimary) {
    return Chord{XK_Insert, {XK_Shift_L}};
  }
  if (keystroke.flags & (maskControl | maskCommand)) {
    chord.modifiers.push_back(XK_Control_L);
  }
  if ((keystroke.flags & maskShift) || route == PasteKey::controlShiftV ||
      route == PasteKey::shiftInsert) {
    chord.modifiers.push_back(XK_Shift_L);
  }
  if (keystroke.flags & maskAlternate) {
    chord.modifiers.push_back(XK_Alt_L);
  }
  return chord;
}

bool X11KeystrokePoster::pressChord(std::int64_t keyCode, const Chord &chord) {
  Display *display = connection_->display();
  const unsigned keycode = chord.keysym != 0 ? XKeysymToKeycode(display, chord.keysym) : 0;
  if (keycode == 0) {
    return false;
  }
  bool ok = true;
  Pressed pressed{keycode, {}};
  for (const unsigned long symbol : chord.modifiers) {
    const unsigned modifier = XKeysymToKeycode(display, symbol);
    if (modifier != 0) {
      pressed.modifiers.push_back(modifier);
      ok = pressKey(modifier, true) && ok;
    }
  }
  ok = pressKey(keycode, true) && ok;
  pressed_[keyCode] = std::move(pressed);
  return ok;
}

bool X11KeystrokePoster::releaseChord(std::int64_t keyCode) {
  const auto found = pressed_.find(keyCode);
  if (found == pressed_.end()) {
    // No down of this poster's (or one that pasted by typing): the key itself goes up.
    const unsigned long keysym = keysymForVirtualKey(keyCode);
    const unsigned keycode = keysym != 0 ? XKeysymToKeycode(connection_->display(), keysym) : 0;
    return keycode != 0 && pressKey(keycode, false);
  }
  bool ok = pressKey(found->second.keycode, false);
  const auto &modifiers = found->second.modifiers;
  for (auto modifier = modifiers.rbegin(); modifier != modifiers.rend(); ++modifier) {
    ok = pressKey(*modifier, false) && ok;
  }
  pressed_.erase(found);
  return ok;
}

bool X11KeystrokePoster::post(const Keystroke &keystroke, EventTapLocation) {
  if (!canPostEvents()) {
    return false;
  }
  drainEvents();
  if (keysymForVirtualKey(keystroke.keyCode) == 0 ||
      XKeysymToKeycode(connection_->display(), keysymForVirtualKey(keystroke.keyCode)) == 0) {
    return false;
  }
  bool ok = true;
  if (keystroke.keyDown) {
    if (const auto chord = chordFor(keystroke, ok)) {
      ok = pressChord(keystroke.keyCode, *chord);
    }
  } else if (pressed_.contains(keystroke.keyCode) || !typedPaste_.erase(keystroke.keyCode)) {
    ok = releaseChord(keystroke.keyCode);
  }
  XSync(connection_->display(), False);
  return ok && !connection_->isLost();
}

std::vector<X11KeystrokePoster::Slot>::iterator X11KeystrokePoster::slotOf(unsigned long keysym) {
  return std::find_if(slots_.begin(), slots_.end(),
                      [&](const Slot &slot) { return slot.keysym == keysym; });
}

bool X11KeystrokePoster::findSpareKeycodes() {
  if (sparesFound_) {
    return true;
  }
  Display *display = connection_->display();
  const unsigned shift = XKeysymToKeycode(display, XK_Shift_L);
  int minKeycode = 0;
  int maxKeycode = 0;
  XDisplayKeycodes(display, &minKeycode, &maxKeycode);
  int perKeycode = 0;
  KeySym *map = XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode),
                                    maxKeycode - minKeycode + 1, &perKeycode);
  if (map == nullptr) {
    return false;
  }
  sparesFound_ = true;
  // Key codes with no keysym at all: no key of the keyboard sends them. Each holds two
  // characters, the second typed with Shift. The highest stays without keysyms: the key tap
  // presses it as a key that types nothing.
  std::vector<unsigned> spare;
  for (int keycode = minKeycode; keycode <= maxKeycode; ++keycode) {
    const KeySym *row = map + static_cast<std::size_t>(keycode - minKeycode) * perKeycode;
    if (std::all_of(row, row + perKeycode, [](KeySym s) { return s == NoSymbol; })) {
      spare.push_back(static_cast<unsigned>(keycode));
    }
  }
  XFree(map);
  if (!spare.empty()) {
    spare.pop_back();
  }
  for (const unsigned keycode : spare) {
    slots_.push_back({keycode, false, NoSymbol});
    if (shift != 0) {
      slots_.push_back({keycode, true, NoSymbol});
    }
  }
  return true;
}

std::vector<X11KeystrokePoster::TypedKey>
X11KeystrokePoster::planKeys(const std::u32string &text, std::set<unsigned long> &wanted) {
  Display *display = connection_->display();
  const unsigned shift = XKeysymToKeycode(display, XK_Shift_L);
  std::vector<TypedKey> keys;
  for (const char32_t c : text) {
    const KeySym keysym = keysymForCodePoint(c);
    TypedKey key;
    const unsigned keycode = XKeysymToKeycode(display, keysym);
    if (slotOf(keysym) != slots_.end()) {
      key.onSlot = keysym;
    } else if (keycode != 0 && XkbKeycodeToKeysym(display, keycode, 0, 0) == keysym) {
      key.keycode = keycode;
    } else if (keycode != 0 && shift != 0 && XkbKeycodeToKeysym(display, keycode, 0, 1) == keysym) {
      key.keycode = keycode;
      key.shifted = true;
    } else {
      key.onSlot = keysym;
    }
    if (key.onSlot != NoSymbol) {
      wanted.insert(keysym);
    }
    keys.push_back(key);
  }
  return keys;
}

void X11KeystrokePoster::mapSlots(const std::set<unsigned long> &wanted) {
  // Slots already holding a wanted keysym stay; the others go to the least recently used free
  // slots. A mapping stays after typing: clients may look a key up only when they handle its
  // event, from the server's map of that moment.
  std::set<unsigned> changed;
  for (const KeySym keysym : wanted) {
    if (slotOf(keysym) != slots_.end()) {
      continue;
    }
    const auto free = std::find_if(slots_.begin(), slots_.end(),
                                   [&](const Slot &slot) { return !wanted.contains(slot.keysym); });
    free->keysym = keysym;
    changed.insert(free->keycode);
  }
  for (const unsigned keycode : changed) {
    KeySym pair[2] = {NoSymbol, NoSymbol};
    for (const Slot &slot : slots_) {
      if (slot.keycode == keycode) {
        pair[slot.shifted ? 1 : 0] = slot.keysym;
      }
    }
    XChangeKeyboardMapping(connection_->display(), static_cast<int>(keycode), 2, pair, 1);
  }
  XSync(connection_->display(), False);
}

bool X11KeystrokePoster::typeKeys(const std::vector<TypedKey> &keys) {
  Display *display = connection_->display();
  const unsigned shift = XKeysymToKeycode(display, XK_Shift_L);
  bool ok = true;
  for (std::size_t i = 0; i < keys.size() && !connection_->isLost(); ++i) {
    const TypedKey &key = keys[i];
    unsigned keycode = key.keycode;
    bool shifted = key.shifted;
    if (key.onSlot != NoSymbol) {
      const auto slot = slotOf(key.onSlot);
      keycode = slot->keycode;
      shifted = slot->shifted;
    }
    if (shifted) {
      ok = pressKey(shift, true) && ok;
    }
    ok = pressKey(keycode, true) && ok;
    ok = pressKey(keycode, false) && ok;
    if (shifted) {
      ok = pressKey(shift, false) && ok;
    }
    // The server queues synthetic input in a bounded queue: waiting for it after every chunk
    // keeps a long text from overflowing it, which would drop keys.
    if ((i + 1) % std::max<std::size_t>(options_.typingChunk, 1) == 0) {
      XSync(display, False);
    }
  }
  XSync(display, False);
  return ok;
}

bool X11KeystrokePoster::typeText(std::string_view utf8) {
  const auto text = decodeUtf8(utf8);
  if (!text || !canPostEvents()) {
    return false;
  }
  drainEvents();
  if (!findSpareKeycodes()) {
    return false;
  }
  std::set<KeySym> wanted;
  const std::vector<TypedKey> keys = planKeys(*text, wanted);
  if (wanted.size() > slots_.size()) {
    return false;
  }
  mapSlots(wanted);
  const bool ok = typeKeys(keys);
  // The slots just used are reassigned last.
  std::stable_partition(slots_.begin(), slots_.end(),
                        [&](const Slot &slot) { return !wanted.contains(slot.keysym); });
  drainEvents();
  return ok && !connection_->isLost();
}

X11Id X11KeystrokePoster::focusedWindow() {
  if (!connection_ || connection_->isLost()) {
    return None;
  }
  X11Connection::ErrorTrap trap(*connection_);
  Window focus = None;
  int revert = 0;
  XGetInputFocus(connection_->display(), &focus, &revert);
  if (focus == None || focus == PointerRoot || focus == connection_->rootWindow()) {
    const auto active = connection_->readProperty(connection_->rootWindow(),
                                                  connection_->atom("_NET_ACTIVE_WINDOW"),
                                                  X11PropertyRead{.type = XA_WINDOW});
    const auto windows = active ? active->items32() : std::vector<std::uint32_t>{};
    focus = windows.empty() ? None : windows.front();
  }
  return focus;
}

std::pair<std::string, std::string> X11KeystrokePoster::focusedWindowClass() {
  return classOf(focusedWindow());
}

std::pair<std::string, std::string> X11KeystrokePoster::classOf(X11Id focus) {
  if (!connection_ || connection_->isLost() || focus == None) {
    return {};
  }
  Display *display = connection_->display();
  X11Connection::ErrorTrap trap(*connection_);
  for (Window window = focus; window != None && window != connection_->rootWindow();) {
    XClassHint hint{};
    if (XGetClassHint(display, window, &hint)) {
      std::pair<std::string, std::string> result{hint.res_name ? hint.res_name : "",
                                                 hint.res_class ? hint.res_class : ""};
      XFree(hint.res_name);
      XFree(hint.res_class);
      return result;
    }
    Window root = None;
    Window parent = None;
    Window *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) {
      break;
    }
    if (children != nullptr) {
      XFree(children);
    }
    window = parent;
  }
  return {};
}

PasteRoute routeFor(const std::vector<PasteRoute> &routes, const std::string &instance,
                    const std::string &windowClass) {
  const std::string a = lowered(instance);
  const std::string b = lowered(windowClass);
  for (const PasteRoute &route : routes) {
    const std::string name = lowered(route.windowClass);
    if ((!a.empty() && a == name) || (!b.empty() && b == name)) {
      return route;
    }
  }
  // Shift+Insert is the paste key X programs share most widely (GTK, Qt, Tk, Motif, browsers,
  // terminals, Emacs, gvim), with the text offered as both clipboard and PRIMARY; Control+V is
  // a literal next character in terminals and editors of the vi and Emacs kind.
  return PasteRoute{windowClass, PasteKey::shiftInsert, /*undoes=*/false};
}

PasteKey X11KeystrokePoster::focusedPasteKey() { return pasteKeyOf(focusedWindow()); }

PasteKey X11KeystrokePoster::pasteKeyOf(X11Id window) {
  const auto [instance, windowClass] = classOf(window);
  return routeFor(options_.pasteRoutes, instance, windowClass).key;
}

bool X11KeystrokePoster::focusedApplicationUndoes() {
  const auto [instance, windowClass] = focusedWindowClass();
  return routeFor(options_.pasteRoutes, instance, windowClass).undoes;
}

} // namespace platform
