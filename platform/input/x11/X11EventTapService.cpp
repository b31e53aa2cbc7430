#include "platform/input/x11/X11EventTapService.hpp"

#include "platform/input/x11/VirtualKeyKeysyms.hpp"
#include "platform/x11/X11EventThread.hpp"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace platform {

// Main-thread state, except what the event thread's handler uses (`keymap` and `held`, which
// only it touches once the thread runs).
struct X11EventTapService::Shared : std::enable_shared_from_this<Shared> {
  // A chord reserved by a tap: virtual key code and flags.
  using Chord = std::pair<std::int64_t, std::uint64_t>;
  struct TapEntry {
    std::uint64_t mask = 0;
    Callback callback;
    bool enabled = false;
    std::int64_t masked = -1;
    std::vector<Chord> reserved;
  };

  std::shared_ptr<Executor> main;
  X11EventTapServiceOptions options;
  std::map<std::uint64_t, TapEntry> taps; // by creation order
  std::uint64_t nextId = 0;
  std::shared_ptr<X11Connection> connection;
  std::unique_ptr<X11EventThread> thread;
  int opcode = 0;
  bool hasXTest = false;
  // The virtual key code of the modifier whose presses are masked (-1: none); read by the event
  // thread.
  std::atomic<std::int64_t> maskedModifier{-1};
  // The key code the mask presses: the highest one without keysyms, which nothing types (the
  // keystroke poster leaves it alone for this). Set before the event thread starts.
  unsigned maskKeycode = 0;

  // Event thread only.
  int minKeycode = 0;
  int keysymsPerKeycode = 0;
  std::vector<KeySym> keymap;
  std::map<int, std::uint64_t> held; // keycode -> modifier flags of a held modifier key

  bool connect();
  void disconnect();
  void loadKeymap();
  KeySym keysymOf(int keycode) const;
  void onEvent(XEvent &event);
  void onLost();
  void deliver(const KeyEvent &event);
  void deliverDisabled();
  std::uint64_t heldFlags() const;
  void updateMaskedModifier();
  // Grabs (or with `grab` false ungrabs) `chord` on the root window with every combination of
  // the lock modifiers; false when another client holds it.
  bool grabChord(const Chord &chord, bool grab);
  unsigned modifierMaskOf(KeySym keysym) const;
  void pressMask();
};

class X11EventTapService::Tap final : public EventTap {
public:
  Tap(std::shared_ptr<Shared> shared, std::uint64_t id) : shared_(std::move(shared)), id_(id) {}
  ~Tap() override {
    for (const Shared::Chord &chord : shared_->taps.at(id_).reserved) {
      shared_->grabChord(chord, false);
    }
    shared_->taps.erase(id_);
    shared_->updateMaskedModifier();
  }

  void setMaskedModifier(std::int64_t keyCode) override {
    shared_->taps.at(id_).masked = keyCode;
    shared_->updateMaskedModifier();
  }

  bool reserveChord(std::int64_t keyCode, std::uint64_t flags) override {
    const Shared::Chord chord{keyCode, flags};
    if (!shared_->grabChord(chord, true)) {
      return false;
    }
    shared_->taps.at(id_).reserved.push_back(chord);
    return true;
  }

  void setEnabled(bool enabled) override {
    auto &entry = shared_->taps.at(id_);
    if (enabled && (!shared_->connection || shared_->connection->isLost())) {
      shared_->disconnect();
      if (!shared_->connect()) {
        entry.enabled = false;
        return;
      }
    }
    entry.enabled = enabled;
  }
  bool isEnabled() const override { return shared_->taps.at(id_).enabled; }

private:
  std::shared_ptr<Shared> shared_;
  std::uint64_t id_;
};

bool X11EventTapService::Shared::connect() {
  try {
    connection = X11Connection::open(options.connection);
  } catch (const X11Error &) {
    return false;
  }
  Display *display = connection->display();
  int event = 0;
  int error = 0;
  int major = 2;
  int minor = 2;
  if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error) ||
      XIQueryVersion(display, &major, &minor) != Success) {
    connection.reset();
    return false;
  }
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawKeyPress);
  XISetMask(bits, XI_RawKeyRelease);
  XIEventMask mask;
  mask.deviceid = XIAllMasterDevices;
  mask.mask_len = sizeof bits;
  mask.mask = bits;
  XISelectEvents(display, connection->rootWindow(), &mask, 1);
  held.clear();
  loadKeymap();
  int xtestEvent = 0;
  int xtestError = 0;
  hasXTest = XTestQueryExtension(display, &xtestEvent, &xtestError, &major, &minor);
  maskKeycode = 0;
  for (int keycode =
           minKeycode + static_cast<int>(keymap.size() / std::max(keysymsPerKeycode, 1)) - 1;
       keycode >= minKeycode && maskKeycode == 0; --keycode) {
    bool empty = true;
    for (int i = 0; i < keysymsPerKeycode; ++i) {
      empty = empty &&
              keymap[static_cast<std::size_t>((keycode - minKeycode) * keysymsPerKeycode + i)] ==
                  NoSymbol;
    }
    if (empty) {
      maskKeycode = static_cast<unsigned>(keycode);
    }
  }
  XSync(display, False);
  const std::weak_ptr<Shared> weak = weak_from_this();
  thread = std::make_unique<X11EventThread>(
      connection, [this](XEvent &event) { onEvent(event); }, [this] { onLost(); });
  // Reservations made on an earlier connection went with it.
  for (const auto &[id, entry] : taps) {
    for (const Chord &chord : entry.reserved) {
      grabChord(chord, true);
    }
  }
  return true;
}

void X11EventTapService::Shared::updateMaskedModifier() {
  std::int64_t masked = -1;
  for (const auto &[id, entry] : taps) {
    if (entry.masked >= 0) {
      masked = entry.masked;
    }
  }
  maskedModifier = masked;
}

unsigned X11EventTapService::Shared::modifierMaskOf(KeySym keysym) const {
  Display *display = connection->display();
  const KeyCode keycode = XKeysymToKeycode(display, keysym);
  XModifierKeymap *map = XGetModifierMapping(display);
  unsigned result = 0;
  for (int modifier = 0; map != nullptr && keycode != 0 && modifier < 8; ++modifier) {
    for (int i = 0; i < map->max_keypermod; ++i) {
      if (map->modifiermap[modifier * map->max_keypermod + i] == keycode) {
        result = 1u << modifier;
      }
    }
  }
  if (map != nullptr) {
    XFreeModifiermap(map);
  }
  return result;
}

bool X11EventTapService::Shared::grabChord(const Chord &chord, bool grab) {
  if (!connection || connection->isLost() || !thread) {
    return false;
  }
  auto guard = thread->lock();
  Display *display = connection->display();
  const KeySym keysym = keysymForVirtualKey(chord.first);
  const KeyCode keycode = keysym != NoSymbol ? XKeysymToKeycode(display, keysym) : 0;
  if (keycode == 0) {
    return false;
  }
  using namespace EventFlags;
  unsigned modifiers = 0;
  modifiers |= (chord.second & maskShift) ? ShiftMask : 0;
  modifiers |= (chord.second & maskControl) ? ControlMask : 0;
  modifiers |= (chord.second & maskAlternate) ? modifierMaskOf(XK_Alt_L) : 0;
  modifiers |= (chord.second & maskCommand) ? modifierMaskOf(XK_Super_L) : 0;
  const unsigned numLock = modifierMaskOf(XK_Num_Lock);
  // A passive grab matches the exact modifier state, lock keys included.
  const unsigned locks[] = {0, LockMask, numLock, LockMask | numLock};
  X11Connection::ErrorTrap trap(*connection);
  for (const unsigned lock : locks) {
    if (grab) {
      XGrabKey(display, keycode, modifiers | lock, connection->rootWindow(), False, GrabModeAsync,
               GrabModeAsync);
    } else {
      XUngrabKey(display, keycode, modifiers | lock, connection->rootWindow());
    }
  }
  if (trap.finish() == 0 || !grab) {
    return true;
  }
  // Held elsewhere (in some lock combination): what was taken goes back, so no combination
  // behaves differently from the others.
  X11Connection::ErrorTrap undo(*connection);
  for (const unsigned lock : locks) {
    XUngrabKey(display, keycode, modifiers | lock, connection->rootWindow());
  }
  undo.finish();
  return false;
}

void X11EventTapService::Shared::pressMask() {
  if (!hasXTest || maskKeycode == 0) {
    return;
  }
  Display *display = connection->display();
  XTestFakeKeyEvent(display, maskKeycode, True, CurrentTime);
  XTestFakeKeyEvent(display, maskKeycode, False, CurrentTime);
  XFlush(display);
}

void X11EventTapService::Shared::disconnect() {
  thread.reset();
  connection.reset();
}

void X11EventTapService::Shared::loadKeymap() {
  Display *display = connection->display();
  int maxKeycode = 0;
  XDisplayKeycodes(display, &minKeycode, &maxKeycode);
  KeySym *symbols = XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode),
                                        maxKeycode - minKeycode + 1, &keysymsPerKeycode);
  keymap.clear();
  if (symbols != nullptr) {
    keymap.assign(symbols, symbols + (maxKeycode - minKeycode + 1) * keysymsPerKeycode);
    XFree(symbols);
  }
}

KeySym X11EventTapService::Shared::keysymOf(int keycode) const {
  const long index = static_cast<long>(keycode - minKeycode) * keysymsPerKeycode;
  if (keycode < minKeycode || index < 0 || index >= static_cast<long>(keymap.size())) {
    return NoSymbol;
  }
  return keymap[static_cast<std::size_t>(index)];
}

std::uint64_t X11EventTapService::Shared::heldFlags() const {
  std::uint64_t flags = 0;
  for (const auto &[keycode, modifier] : held) {
    flags |= modifier;
  }
  return flags;
}

void X11EventTapService::Shared::onEvent(XEvent &event) {
  if (event.type == MappingNotify) {
    if (event.xmapping.request == MappingKeyboard) {
      loadKeymap();
    }
    return;
  }
  if (event.type != GenericEvent || event.xcookie.extension != opcode) {
    return;
  }
  Display *display = connection->display();
  if (!XGetEventData(display, &event.xcookie)) {
    return;
  }
  const int type = event.xcookie.evtype;
  const int keycode = static_cast<const XIRawEvent *>(event.xcookie.data)->detail;
  XFreeEventData(display, &event.xcookie);
  if (type != XI_RawKeyPress && type != XI_RawKeyRelease) {
    return;
  }
  const bool press = type == XI_RawKeyPress;
  const auto key = virtualKeyForKeysym(keysymOf(keycode));
  if (!key) {
    return;
  }
  KeyEvent delivered;
  delivered.keyCode = key->keyCode;
  if (key->modifierFlags != 0) {
    // A held modifier's repeats change nothing.
    if (press == held.contains(keycode)) {
      return;
    }
    if (press) {
      held[keycode] = key->modifierFlags;
      if (key->keyCode == maskedModifier.load()) {
        // The focused program sees another key while the modifier is held: its release is no
        // lone press there.
        pressMask();
      }
    } else {
      held.erase(keycode);
    }
    delivered.type = EventType::flagsChanged;
  } else {
    delivered.type = press ? EventType::keyDown : EventType::keyUp;
  }
  delivered.flags = heldFlags();
  main->post([weak = weak_from_this(), delivered] {
    if (const auto shared = weak.lock()) {
      shared->deliver(delivered);
    }
  });
}

void X11EventTapService::Shared::onLost() {
  main->post([weak = weak_from_this()] {
    if (const auto shared = weak.lock()) {
      shared->deliverDisabled();
    }
  });
}

void X11EventTapService::Shared::deliver(const KeyEvent &event) {
  std::vector<std::uint64_t> ids;
  for (const auto &[id, entry] : taps) {
    ids.push_back(id);
  }
  // A callback may create or destroy other taps: each is looked up when its turn comes.
  for (const std::uint64_t id : ids) {
    const auto found = taps.find(id);
    if (found == taps.end() || !found->second.enabled ||
        (found->second.mask & eventMaskBit(event.type)) == 0) {
      continue;
    }
    const Callback callback = found->second.callback;
    callback(event);
  }
}

void X11EventTapService::Shared::deliverDisabled() {
  if (!connection || !connection->isLost()) {
    return;
  }
  std::vector<std::uint64_t> ids;
  for (auto &[id, entry] : taps) {
    if (entry.enabled) {
      entry.enabled = false;
      ids.push_back(id);
    }
  }
  for (const std::uint64_t id : ids) {
    const auto found = taps.find(id);
    if (found == taps.end()) {
      continue;
    }
    const Callback callback = found->second.callback;
    callback(KeyEvent{EventType::tapDisabledByTimeout, 0, 0});
  }
}

X11EventTapService::X11EventTapService(std::shared_ptr<Executor> main,
                                       X11EventTapServiceOptions options)
    : shared_(std::make_shared<Shared>()) {
  shared_->main = std::move(main);
  shared_->options = std::move(options);
}

X11EventTapService::~X11EventTapService() { shared_->disconnect(); }

std::unique_ptr<EventTap> X11EventTapService::createTap(const EventTapOptions &options,
                                                        Callback callback) {
  if (!shared_->connection || shared_->connection->isLost()) {
    shared_->disconnect();
    if (!shared_->connect()) {
      return nullptr;
    }
  }
  const std::uint64_t id = shared_->nextId++;
  shared_->taps[id] = Shared::TapEntry{options.eventMask, std::move(callback), false, -1, {}};
  return std::make_unique<Tap>(shared_, id);
}

std::shared_ptr<X11Connection> X11EventTapService::connection() const {
  return shared_->connection;
}

} // namespace platform
