#include "platform/input/x11/X11EventTapService.hpp"

#include "platform/input/x11/VirtualKeyKeysyms.hpp"
#include "platform/x11/X11EventThread.hpp"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace platform {

// Main-thread state, except what the event thread's handler uses (`keymap` and `held`, which
// only it touches once the thread runs).
struct X11EventTapService::Shared : std::enable_shared_from_this<Shared> {
  struct TapEntry {
    std::uint64_t mask = 0;
    Callback callback;
    bool enabled = false;
  };

  std::shared_ptr<Executor> main;
  X11EventTapServiceOptions options;
  std::map<std::uint64_t, TapEntry> taps; // by creation order
  std::uint64_t nextId = 0;
  std::shared_ptr<X11Connection> connection;
  std::unique_ptr<X11EventThread> thread;
  int opcode = 0;

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
};

class X11EventTapService::Tap final : public EventTap {
public:
  Tap(std::shared_ptr<Shared> shared, std::uint64_t id) : shared_(std::move(shared)), id_(id) {}
  ~Tap() override { shared_->taps.erase(id_); }

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
  XSync(display, False);
  const std::weak_ptr<Shared> weak = weak_from_this();
  thread = std::make_unique<X11EventThread>(
      connection, [this](XEvent &event) { onEvent(event); }, [this] { onLost(); });
  return true;
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
  shared_->taps[id] = Shared::TapEntry{options.eventMask, std::move(callback), false};
  return std::make_unique<Tap>(shared_, id);
}

std::shared_ptr<X11Connection> X11EventTapService::connection() const {
  return shared_->connection;
}

} // namespace platform
