#include "platform/input/x11/X11Pasteboard.hpp"

#include "platform/input/x11/SelectionSettling.hpp"

#include "platform/text/Utf8.hpp"
#include "platform/x11/X11EventThread.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

namespace platform {
namespace {

// Targets that describe the selection or act on it instead of holding contents.
constexpr const char *kMetaTargets[] = {
    "TARGETS", "TIMESTAMP",        "MULTIPLE",        "SAVE_TARGETS",
    "DELETE",  "INSERT_SELECTION", "INSERT_PROPERTY", "_GTK_TEXT_BUFFER_CONTENTS"};
// Targets under which the plain text is served and read, the preferred first.
constexpr const char *kTextTargets[] = {
    "UTF8_STRING", "text/plain;charset=utf-8", "TEXT", "text/plain", "STRING", "COMPOUND_TEXT"};

bool isTextTarget(const std::string &name) {
  return std::find_if(std::begin(kTextTargets), std::end(kTextTargets),
                      [&](const char *text) { return name == text; }) != std::end(kTextTargets);
}

std::string latin1ToUtf8(const std::string &latin1) {
  std::string out;
  for (const char c : latin1) {
    appendUtf8(out, static_cast<unsigned char>(c));
  }
  return out;
}

// Characters outside Latin-1, and malformed bytes, become '?'.
std::string utf8ToLatin1(const std::string &utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t c = nextScalar(utf8, i);
    out += c <= 0xFF ? static_cast<char>(c) : '?';
  }
  return out;
}

// The part of a resource id that names the client which made it (the server gives every client
// the same mask).
unsigned long clientOf(Display *display, unsigned long id) {
  return id & ~reinterpret_cast<_XPrivDisplay>(display)->private4; // the resource mask
}

} // namespace

struct X11Pasteboard::State {
  std::shared_ptr<X11Connection> connection;
  std::atomic<std::int64_t> *changeCount = nullptr;
  int fixesEventBase = 0;
  Atom clipboard = None;
  Atom primary = XA_PRIMARY;
  Atom targets = None;
  Atom timestamp = None;
  Atom utf8String = None;
  Atom incr = None;
  Atom property = None;
  std::size_t maxWriteBytes = 0;
  // Guarded by the event thread's lock.
  bool owned = false;
  // PRIMARY is served from `primaryItems` while this is set (see offerAsPrimary).
  bool primaryOwned = false;
  unsigned long primaryTime = 0;
  PasteboardContents primaryItems;
  // What PRIMARY held before the offer in effect, given back by the next clear.
  std::optional<PasteboardContents> primarySaved;
  unsigned long ownTime = 0;
  // Times of this process's own clears whose XFixes notice has not arrived yet (counted when
  // they happened); notices can trail several quick clears.
  std::deque<unsigned long> uncountedOwnTimes;
  PasteboardContents items;

  // How far the last clear has settled (see waitUntilSettled).
  SelectionSettling settling;

  const PasteboardItem *find(const std::string &type) const {
    for (const auto &item : items) {
      if (item.type == type) {
        return &item;
      }
    }
    return nullptr;
  }

  void onEvent(XEvent &event);
  void serve(const XSelectionRequestEvent &request);
  void serveItems(const XSelectionRequestEvent &request, const PasteboardContents &served,
                  Atom property, XSelectionEvent &reply);
};

void X11Pasteboard::State::onEvent(XEvent &event) {
  if (event.type == fixesEventBase + XFixesSelectionNotify) {
    const auto &notify = reinterpret_cast<const XFixesSelectionNotifyEvent &>(event);
    if (notify.selection != clipboard) {
      return;
    }
    if (notify.subtype == XFixesSetSelectionOwnerNotify &&
        notify.owner == connection->ownWindow()) {
      const auto own =
          std::find(uncountedOwnTimes.begin(), uncountedOwnTimes.end(), notify.selection_timestamp);
      if (own != uncountedOwnTimes.end()) {
        uncountedOwnTimes.erase(uncountedOwnTimes.begin(), own + 1);
        settling.noteOwnerNotified(notify.selection_timestamp);
        return; // this process's own clear, counted when it happened
      }
    }
    ++*changeCount;
    return;
  }
  if (event.type == SelectionClear && event.xselectionclear.selection == primary &&
      event.xselectionclear.window == connection->ownWindow()) {
    // A clear that gave PRIMARY up announces itself after this process may have taken it again.
    if (XGetSelectionOwner(connection->display(), primary) == connection->ownWindow()) {
      return;
    }
    primaryOwned = false;
    primaryItems.clear();
    primarySaved.reset(); // the user selected something new: that is PRIMARY now
    return;
  }
  if (event.type == SelectionClear && event.xselectionclear.selection == clipboard &&
      event.xselectionclear.window == connection->ownWindow()) {
    // Another client took the clipboard, but this process may have taken it back since.
    if (XGetSelectionOwner(connection->display(), clipboard) == connection->ownWindow()) {
      return;
    }
    owned = false;
    items.clear();
    return;
  }
  if (event.type == SelectionRequest) {
    serve(event.xselectionrequest);
  }
}

void X11Pasteboard::State::serve(const XSelectionRequestEvent &request) {
  Display *display = connection->display();
  XSelectionEvent reply{};
  reply.type = SelectionNotify;
  reply.display = display;
  reply.requestor = request.requestor;
  reply.selection = request.selection;
  reply.target = request.target;
  reply.time = request.time;
  reply.property = None;
  // Clients of the old protocol name no property: the target stands for it.
  const Atom property = request.property != None ? request.property : request.target;
  const bool isClipboard = request.selection == clipboard && owned;
  const bool isPrimary = request.selection == primary && primaryOwned;
  const unsigned long since = isPrimary ? primaryTime : ownTime;
  const bool current = (isClipboard || isPrimary) && request.owner == connection->ownWindow() &&
                       (request.time == CurrentTime || request.time >= since);
  X11Connection::ErrorTrap trap(*connection);
  if (current) {
    serveItems(request, isPrimary ? primaryItems : items, property, reply);
  }
  XSendEvent(display, request.requestor, False, NoEventMask, reinterpret_cast<XEvent *>(&reply));
  trap.finish();
  if (current && isClipboard && request.target == targets) {
    // Answered and flushed: the asking client knows what the clipboard holds.
    settling.noteTargetsAnswered(clientOf(display, request.requestor));
  }
}

void X11Pasteboard::State::serveItems(const XSelectionRequestEvent &request,
                                      const PasteboardContents &served, Atom property,
                                      XSelectionEvent &reply) {
  Display *display = connection->display();
  const auto find = [&](const std::string &type) -> const PasteboardItem * {
    for (const auto &item : served) {
      if (item.type == type) {
        return &item;
      }
    }
    return nullptr;
  };
  {
    const std::string target = connection->atomName(request.target);
    if (request.target == targets) {
      std::vector<long> offered = {static_cast<long>(targets), static_cast<long>(timestamp)};
      for (const auto &item : served) {
        if (item.type == plainTextType) {
          for (const char *name : kTextTargets) {
            if (std::strcmp(name, "COMPOUND_TEXT") != 0) {
              offered.push_back(static_cast<long>(connection->atom(name)));
            }
          }
        } else {
          offered.push_back(static_cast<long>(connection->atom(item.type)));
        }
      }
      XChangeProperty(display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char *>(offered.data()),
                      static_cast<int>(offered.size()));
      reply.property = property;
    } else if (request.target == timestamp) {
      long time = static_cast<long>(request.selection == primary ? primaryTime : ownTime);
      XChangeProperty(display, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                      reinterpret_cast<unsigned char *>(&time), 1);
      reply.property = property;
    } else {
      const PasteboardItem *item = nullptr;
      Atom type = request.target;
      std::string converted;
      const std::string *bytes = nullptr;
      if (isTextTarget(target) && target != "COMPOUND_TEXT") {
        item = find(plainTextType);
        if (item != nullptr && target == "STRING") {
          converted = utf8ToLatin1(item->data);
          bytes = &converted;
          type = XA_STRING;
        } else if (item != nullptr) {
          bytes = &item->data;
          type = target == "TEXT" ? utf8String : request.target;
        }
      } else if ((item = find(target)) != nullptr) {
        bytes = &item->data;
      }
      if (bytes != nullptr && bytes->size() <= maxWriteBytes) {
        XChangeProperty(display, request.requestor, property, type, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(bytes->data()),
                        static_cast<int>(bytes->size()));
        reply.property = property;
      }
    }
  }
}

X11Pasteboard::X11Pasteboard(X11PasteboardOptions options)
    : options_(std::move(options)), state_(std::make_shared<State>()) {
  auto &state = *state_;
  state.connection = X11Connection::open(options_.connection);
  state.changeCount = &changeCount_;
  Display *display = state.connection->display();
  int errorBase = 0;
  if (!XFixesQueryExtension(display, &state.fixesEventBase, &errorBase)) {
    throw X11Error("The X display '" + state.connection->displayName() +
                   "' has no XFixes extension");
  }
  state.clipboard = state.connection->atom("CLIPBOARD");
  state.targets = state.connection->atom("TARGETS");
  state.timestamp = state.connection->atom("TIMESTAMP");
  state.utf8String = state.connection->atom("UTF8_STRING");
  state.incr = state.connection->atom("INCR");
  state.property = state.connection->atom("_MURMURQUILL_SELECTION");
  long units = XExtendedMaxRequestSize(display);
  if (units == 0) {
    units = XMaxRequestSize(display);
  }
  // A request's header and the property's fields take a few dozen bytes of its length.
  state.maxWriteBytes = static_cast<std::size_t>(units) * 4 - 256;
  XFixesSelectSelectionInput(display, state.connection->ownWindow(), state.clipboard,
                             XFixesSetSelectionOwnerNotifyMask |
                                 XFixesSelectionWindowDestroyNotifyMask |
                                 XFixesSelectionClientCloseNotifyMask);
  XSync(display, False);
  thread_ = std::make_unique<X11EventThread>(
      state.connection, [state = state_](XEvent &event) { state->onEvent(event); }, nullptr);
}

X11Pasteboard::~X11Pasteboard() { thread_.reset(); }

X11Id X11Pasteboard::ownerWindow() const { return state_->connection->ownWindow(); }

std::int64_t X11Pasteboard::clearContents() {
  auto guard = thread_->lock();
  auto &state = *state_;
  if (state.connection->isLost()) {
    return ++changeCount_;
  }
  const unsigned long time = state.connection->serverTime();
  Display *display = state.connection->display();
  if (state.primaryOwned) {
    // PRIMARY carried the previous contents only for their paste: what it held before comes
    // back, or it is given up when it held nothing.
    if (state.primarySaved && !state.primarySaved->empty()) {
      state.primaryItems = std::move(*state.primarySaved);
    } else if (state.primarySaved) {
      XSetSelectionOwner(display, state.primary, None, time);
      state.primaryOwned = false;
      state.primaryItems.clear();
    }
  }
  state.primarySaved.reset();
  state.settling.restart(time);
  XSetSelectionOwner(display, state.clipboard, state.connection->ownWindow(), time);
  state.owned = XGetSelectionOwner(display, state.clipboard) == state.connection->ownWindow();
  state.ownTime = time;
  if (state.owned) {
    state.uncountedOwnTimes.push_back(time);
  }
  state.items.clear();
  return ++changeCount_;
}

bool X11Pasteboard::offerAsPrimary() {
  auto guard = thread_->lock();
  auto &state = *state_;
  if (!state.owned || state.connection->isLost()) {
    return false;
  }
  Display *display = state.connection->display();
  // The notice of losing PRIMARY may not have been read yet: the server says who holds it.
  const X11Id primaryOwner = XGetSelectionOwner(display, state.primary);
  if (!state.primarySaved) {
    if (state.primaryOwned && primaryOwner == state.connection->ownWindow()) {
      state.primarySaved = state.primaryItems; // the user's, given back by an earlier clear
    } else if (primaryOwner != None && primaryOwner != state.connection->ownWindow()) {
      ReadBudget budget{std::chrono::steady_clock::now() + options_.contentsTimeout,
                        options_.maxReadBytes};
      state.primarySaved = readContents(state.primary, budget);
    } else {
      state.primarySaved = PasteboardContents{};
    }
  }
  // A time of its own: PRIMARY may have changed hands since the clipboard was taken.
  const unsigned long time = state.connection->serverTime();
  XSetSelectionOwner(display, state.primary, state.connection->ownWindow(), time);
  state.primaryOwned = XGetSelectionOwner(display, state.primary) == state.connection->ownWindow();
  state.primaryTime = time;
  state.primaryItems = state.primaryOwned ? state.items : PasteboardContents{};
  if (!state.primaryOwned) {
    state.primarySaved.reset();
  }
  return state.primaryOwned;
}

PasteboardContents X11Pasteboard::primaryContents() const {
  auto guard = thread_->lock();
  auto &state = *state_;
  if (state.primaryOwned) {
    return state.primaryItems;
  }
  if (state.connection->isLost() ||
      XGetSelectionOwner(state.connection->display(), state.primary) == None) {
    return {};
  }
  ReadBudget budget{std::chrono::steady_clock::now() + options_.contentsTimeout,
                    options_.maxReadBytes};
  return readContents(state.primary, budget);
}

bool X11Pasteboard::waitUntilSettled(X11Id window, std::chrono::milliseconds quiet,
                                     std::chrono::milliseconds limit) {
  return state_->settling.waitFor(clientOf(state_->connection->display(), window), quiet, limit);
}

bool X11Pasteboard::setData(const std::string &type, const std::string &data) {
  auto guard = thread_->lock();
  auto &state = *state_;
  if (!state.owned || data.size() > state.maxWriteBytes || type.empty()) {
    return false;
  }
  for (auto &item : state.items) {
    if (item.type == type) {
      item.data = data;
      return true;
    }
  }
  state.items.push_back({type, data});
  return true;
}

// Reads run with the event thread's lock held: events read here that are not the transfer's
// stay queued for the thread.

bool X11Pasteboard::requestConversion(X11Id selection, X11Id target,
                                      const ReadBudget &budget) const {
  auto &state = *state_;
  X11Connection &connection = *state.connection;
  if (std::chrono::steady_clock::now() >= budget.deadline) {
    return false;
  }
  const Window window = connection.ownWindow();
  XDeleteProperty(connection.display(), window, state.property);
  XConvertSelection(connection.display(), selection, target, state.property, window, CurrentTime);
  XEvent event;
  const bool answered = connection.waitForEvent(
      [&](const XEvent &candidate) {
        return candidate.type == SelectionNotify && candidate.xselection.requestor == window &&
               candidate.xselection.selection == selection && candidate.xselection.target == target;
      },
      event, budget.deadline);
  return answered && event.xselection.property != None;
}

std::optional<X11Property> X11Pasteboard::takeTransferProperty(const ReadBudget &budget) const {
  auto &state = *state_;
  return state.connection->readProperty(
      state.connection->ownWindow(), state.property,
      X11PropertyRead{.maxBytes = budget.bytesLeft, .remove = true});
}

bool X11Pasteboard::isNewTransferValue(const XEvent &event) const {
  return event.type == PropertyNotify && event.xproperty.window == ownerWindow() &&
         event.xproperty.atom == state_->property && event.xproperty.state == PropertyNewValue;
}

std::optional<X11Property> X11Pasteboard::readIncrementally(const ReadBudget &budget) const {
  X11Connection &connection = *state_->connection;
  // Each chunk appears as a new value of the property, an empty one ends it. The whole transfer
  // shares the call's deadline, so an owner that trickles chunks cannot stretch it.
  X11Property whole;
  for (;;) {
    XEvent event;
    if (!connection.waitForEvent([this](const XEvent &e) { return isNewTransferValue(e); }, event,
                                 budget.deadline)) {
      return std::nullopt;
    }
    const auto chunk = takeTransferProperty(budget);
    if (!chunk) {
      return std::nullopt;
    }
    if (chunk->type == None) {
      continue; // a notice without a value to read
    }
    whole.type = chunk->type;
    whole.format = chunk->format;
    if (chunk->bytes.empty()) {
      return whole;
    }
    whole.bytes += chunk->bytes;
    if (whole.bytes.size() > budget.bytesLeft) {
      return std::nullopt;
    }
  }
}

std::optional<X11Property> X11Pasteboard::readTarget(X11Id selection, X11Id target,
                                                     ReadBudget &budget) const {
  X11Connection &connection = *state_->connection;
  if (!requestConversion(selection, target, budget)) {
    return std::nullopt;
  }
  // Notices of the value the owner stored before answering are stale from here on.
  XEvent stale;
  while (connection.waitForEvent([this](const XEvent &e) { return isNewTransferValue(e); }, stale,
                                 std::chrono::steady_clock::time_point{})) {
  }
  auto value = takeTransferProperty(budget);
  if (value && value->type == state_->incr) {
    value = readIncrementally(budget);
  }
  if (!value) {
    return std::nullopt;
  }
  budget.bytesLeft -= std::min(budget.bytesLeft, value->bytes.size());
  return value;
}

std::optional<std::string> X11Pasteboard::readBytes(X11Id selection, X11Id target,
                                                    ReadBudget &budget) const {
  auto value = readTarget(selection, target, budget);
  if (!value) {
    return std::nullopt;
  }
  if (value->type == XA_STRING) {
    return latin1ToUtf8(value->bytes);
  }
  return std::move(value->bytes);
}

std::optional<std::string> X11Pasteboard::readText(X11Id selection, ReadBudget &budget) const {
  X11Connection &connection = *state_->connection;
  for (const char *name : {"UTF8_STRING", "text/plain;charset=utf-8", "STRING"}) {
    const X11Id target = connection.atom(name);
    auto value = readTarget(selection, target, budget);
    // An answer of another type (a number, a list of atoms) is not text, whatever was asked.
    if (!value || value->format != 8 ||
        (value->type != target && !isTextTarget(connection.atomName(value->type)))) {
      continue;
    }
    if (value->type == XA_STRING) {
      return latin1ToUtf8(value->bytes);
    }
    return std::move(value->bytes);
  }
  return std::nullopt;
}

std::optional<std::string> X11Pasteboard::data(const std::string &type) const {
  auto guard = thread_->lock();
  auto &state = *state_;
  if (state.owned) {
    const PasteboardItem *item = state.find(type);
    return item != nullptr ? std::optional(item->data) : std::nullopt;
  }
  if (state.connection->isLost() ||
      XGetSelectionOwner(state.connection->display(), state.clipboard) == None) {
    return std::nullopt;
  }
  ReadBudget budget{std::chrono::steady_clock::now() + options_.replyTimeout,
                    options_.maxReadBytes};
  if (type == plainTextType) {
    return readText(state.clipboard, budget);
  }
  return readBytes(state.clipboard, state.connection->atom(type), budget);
}

PasteboardContents X11Pasteboard::contents() const {
  auto guard = thread_->lock();
  auto &state = *state_;
  if (state.owned) {
    return state.items;
  }
  PasteboardContents result;
  if (state.connection->isLost() ||
      XGetSelectionOwner(state.connection->display(), state.clipboard) == None) {
    return result;
  }
  ReadBudget budget{std::chrono::steady_clock::now() + options_.contentsTimeout,
                    options_.maxReadBytes};
  return readContents(state.clipboard, budget);
}

PasteboardContents X11Pasteboard::readContents(X11Id selection, ReadBudget &budget) const {
  auto &state = *state_;
  PasteboardContents result;
  const auto offered = readTarget(selection, state.targets, budget);
  if (!offered || offered->format != 32) {
    return result;
  }
  std::vector<std::pair<X11Id, std::string>> others;
  bool offersText = false;
  for (const std::uint32_t atom : offered->items32()) {
    const std::string name = state.connection->atomName(atom);
    if (name.empty() ||
        std::find_if(std::begin(kMetaTargets), std::end(kMetaTargets),
                     [&](const char *meta) { return name == meta; }) != std::end(kMetaTargets)) {
      continue;
    }
    if (isTextTarget(name)) {
      offersText = true;
    } else if (std::none_of(others.begin(), others.end(),
                            [&](const auto &other) { return other.second == name; })) {
      others.emplace_back(atom, name);
    }
  }
  // The text first: it is what a user most likely copied, and what must survive a short budget.
  if (offersText) {
    if (auto text = readText(selection, budget)) {
      result.push_back({plainTextType, std::move(*text)});
    }
  }
  for (const auto &[atom, name] : others) {
    if (auto bytes = readBytes(selection, atom, budget)) {
      result.push_back({name, std::move(*bytes)});
    }
  }
  return result;
}

} // namespace platform
