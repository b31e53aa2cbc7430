#include "platform/ui/dbus/StatusNotifierItem.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <optional>
#include <unistd.h>

#include <systemd/sd-bus.h>

namespace platform::ui {

namespace {

constexpr const char *kItemPath = "/StatusNotifierItem";
constexpr const char *kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char *kMenuPath = "/MenuBar";
constexpr const char *kMenuInterface = "com.canonical.dbusmenu";
constexpr const char *kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char *kWatcherPath = "/StatusNotifierWatcher";

std::atomic<int> itemCount{0};

// A panel asks about and reports on the few entries of one menu; a call naming more is not from a
// panel, and each event may run an action on the main thread, so calls are bounded.
constexpr std::size_t kMaxIdsPerCall = 1024;
constexpr std::size_t kMaxEventsPerCall = 256;

std::string errorText(int r) { return std::strerror(r < 0 ? -r : r); }

} // namespace

struct StatusNotifierItem::Impl {
  Options options;
  std::function<void()> onActivate;
  std::function<std::vector<StatusMenuItem>()> menu;
  std::function<void(bool)> onRegistrationChanged;
  std::vector<StatusMenuItem> items; // as last shown to the panel; ids are index + 1
  std::uint32_t revision = 1;
  StatusIcon icon; // empty: the theme icon named in the options
  // Unknown until the watcher (or the bus, when there is none) answers the first request.
  std::optional<bool> registered;
  std::string name;
  sd_bus *bus = nullptr;
  sd_bus_slot *itemSlot = nullptr;
  sd_bus_slot *menuSlot = nullptr;
  sd_bus_slot *watcherSlot = nullptr;
  sd_bus_slot *registerSlot = nullptr;

  void setRegistered(bool now) {
    if (registered && *registered == now) {
      return;
    }
    registered = now;
    if (onRegistrationChanged) {
      const auto handler = onRegistrationChanged;
      handler(now);
    }
  }

  void requestRegistration() {
    sd_bus_slot_unref(registerSlot);
    registerSlot = nullptr;
    const int r = sd_bus_call_method_async(bus, &registerSlot, kWatcherName, kWatcherPath,
                                           kWatcherName, "RegisterStatusNotifierItem", registered_,
                                           this, "s", name.c_str());
    if (r < 0) {
      setRegistered(false);
    }
  }

  static int registered_(sd_bus_message *reply, void *userdata, sd_bus_error *) {
    auto *self = static_cast<Impl *>(userdata);
    self->setRegistered(!sd_bus_message_is_method_error(reply, nullptr));
    return 0;
  }

  static int watcherOwnerChanged(sd_bus_message *m, void *userdata, sd_bus_error *) {
    auto *self = static_cast<Impl *>(userdata);
    const char *watched = nullptr, *before = nullptr, *after = nullptr;
    if (sd_bus_message_read(m, "sss", &watched, &before, &after) < 0 ||
        std::strcmp(watched, kWatcherName) != 0) {
      return 0;
    }
    if (after != nullptr && *after != '\0') {
      self->requestRegistration();
    } else {
      self->setRegistered(false);
    }
    return 0;
  }

  // org.kde.StatusNotifierItem

  static int itemProperty(sd_bus *, const char *, const char *, const char *property,
                          sd_bus_message *reply, void *userdata, sd_bus_error *) {
    auto *self = static_cast<Impl *>(userdata);
    const std::string p = property;
    if (p == "Category") {
      return sd_bus_message_append(reply, "s", "ApplicationStatus");
    }
    if (p == "Id") {
      return sd_bus_message_append(reply, "s", self->options.id.c_str());
    }
    if (p == "Title") {
      return sd_bus_message_append(reply, "s", self->options.title.c_str());
    }
    if (p == "Status") {
      return sd_bus_message_append(reply, "s", "Active");
    }
    if (p == "WindowId") {
      return sd_bus_message_append(reply, "i", 0);
    }
    if (p == "IconName") {
      // A panel prefers a theme icon it finds: none while the application draws its own.
      return sd_bus_message_append(reply, "s",
                                   self->icon.argb.empty() ? self->options.iconName.c_str() : "");
    }
    if (p == "IconPixmap" && !self->icon.argb.empty()) {
      return appendIcon(reply, self->icon);
    }
    if (p == "IconPixmap" || p == "OverlayIconPixmap" || p == "AttentionIconPixmap") {
      return sd_bus_message_append(reply, "a(iiay)", 0);
    }
    if (p == "ToolTip") {
      return sd_bus_message_append(reply, "(sa(iiay)ss)", "", 0, self->options.title.c_str(), "");
    }
    if (p == "ItemIsMenu") {
      return sd_bus_message_append(reply, "b", 0);
    }
    if (p == "Menu") {
      return sd_bus_message_append(reply, "o", kMenuPath);
    }
    // OverlayIconName, AttentionIconName, AttentionMovieName, IconThemePath.
    return sd_bus_message_append(reply, "s", "");
  }

  static int appendIcon(sd_bus_message *reply, const StatusIcon &icon) {
    int r = sd_bus_message_open_container(reply, 'a', "(iiay)");
    if (r >= 0) {
      r = sd_bus_message_open_container(reply, 'r', "iiay");
    }
    if (r >= 0) {
      r = sd_bus_message_append(reply, "ii", icon.width, icon.height);
    }
    if (r >= 0) {
      r = sd_bus_message_append_array(reply, 'y', icon.argb.data(), icon.argb.size());
    }
    if (r >= 0) {
      r = sd_bus_message_close_container(reply);
    }
    if (r >= 0) {
      r = sd_bus_message_close_container(reply);
    }
    return r;
  }

  static int activate(sd_bus_message *m, void *userdata, sd_bus_error *) {
    auto *self = static_cast<Impl *>(userdata);
    const int r = sd_bus_reply_method_return(m, "");
    if (self->onActivate) {
      const auto handler = self->onActivate;
      handler();
    }
    return r;
  }

  static int ignore(sd_bus_message *m, void *, sd_bus_error *) {
    return sd_bus_reply_method_return(m, "");
  }

  // com.canonical.dbusmenu

  int appendProperties(sd_bus_message *m, int id) const {
    int r = sd_bus_message_open_container(m, 'a', "{sv}");
    if (r < 0) {
      return r;
    }
    if (id == 0) {
      r = sd_bus_message_append(m, "{sv}", "children-display", "s", "submenu");
    } else {
      const StatusMenuItem &item = items[static_cast<std::size_t>(id - 1)];
      if (item.separator) {
        r = sd_bus_message_append(m, "{sv}", "type", "s", "separator");
      } else {
        // Underscores mark mnemonics in this protocol: a literal one is doubled.
        std::string label;
        for (char c : item.label) {
          label += c;
          if (c == '_') {
            label += '_';
          }
        }
        r = sd_bus_message_append(m, "{sv}{sv}", "label", "s", label.c_str(), "enabled", "b",
                                  item.enabled ? 1 : 0);
        if (r >= 0 && item.toggle) {
          r = sd_bus_message_append(m, "{sv}{sv}", "toggle-type", "s", "checkmark", "toggle-state",
                                    "i", item.checked ? 1 : 0);
        }
      }
    }
    if (r < 0) {
      return r;
    }
    return sd_bus_message_close_container(m);
  }

  int appendNode(sd_bus_message *m, int id, bool withChildren) const {
    int r = sd_bus_message_open_container(m, 'r', "ia{sv}av");
    if (r >= 0) {
      r = sd_bus_message_append(m, "i", id);
    }
    if (r >= 0) {
      r = appendProperties(m, id);
    }
    if (r >= 0) {
      r = sd_bus_message_open_container(m, 'a', "v");
    }
    for (std::size_t i = 0; r >= 0 && withChildren && id == 0 && i < items.size(); ++i) {
      r = sd_bus_message_open_container(m, 'v', "(ia{sv}av)");
      if (r >= 0) {
        r = appendNode(m, static_cast<int>(i + 1), false);
      }
      if (r >= 0) {
        r = sd_bus_message_close_container(m);
      }
    }
    if (r >= 0) {
      r = sd_bus_message_close_container(m);
    }
    if (r >= 0) {
      r = sd_bus_message_close_container(m);
    }
    return r;
  }

  bool knows(int id) const { return id >= 0 && static_cast<std::size_t>(id) <= items.size(); }

  static int getLayout(sd_bus_message *m, void *userdata, sd_bus_error *error) {
    auto *self = static_cast<Impl *>(userdata);
    int parent = 0, depth = 0;
    int r = sd_bus_message_read(m, "ii", &parent, &depth);
    if (r < 0) {
      return r;
    }
    if (parent == 0) {
      self->items = self->menu ? self->menu() : std::vector<StatusMenuItem>{};
    }
    if (!self->knows(parent)) {
      return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "no menu item %d", parent);
    }
    sd_bus_message *reply = nullptr;
    r = sd_bus_message_new_method_return(m, &reply);
    if (r >= 0) {
      r = sd_bus_message_append(reply, "u", self->revision);
    }
    if (r >= 0) {
      r = self->appendNode(reply, parent, depth != 0);
    }
    if (r >= 0) {
      r = sd_bus_send(nullptr, reply, nullptr);
    }
    sd_bus_message_unref(reply);
    return r;
  }

  // The known ids among `ids`, each once, in the order first asked for; all ids when none is.
  std::vector<int> distinctKnownIds(const std::int32_t *ids, std::size_t count) const {
    std::vector<bool> seen(items.size() + 1, false);
    std::vector<int> known;
    for (std::size_t i = 0; i < count; ++i) {
      if (knows(ids[i]) && !seen[static_cast<std::size_t>(ids[i])]) {
        seen[static_cast<std::size_t>(ids[i])] = true;
        known.push_back(ids[i]);
      }
    }
    if (count == 0) {
      for (std::size_t i = 0; i <= items.size(); ++i) {
        known.push_back(static_cast<int>(i));
      }
    }
    return known;
  }

  static int getGroupProperties(sd_bus_message *m, void *userdata, sd_bus_error *error) {
    auto *self = static_cast<Impl *>(userdata);
    const void *array = nullptr;
    std::size_t bytes = 0;
    int r = sd_bus_message_read_array(m, 'i', &array, &bytes);
    if (r < 0) {
      return r;
    }
    const std::size_t count = bytes / sizeof(std::int32_t);
    if (count > kMaxIdsPerCall) {
      return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS,
                               "%zu ids, more than %zu in one call", count, kMaxIdsPerCall);
    }
    const std::vector<int> ids =
        self->distinctKnownIds(static_cast<const std::int32_t *>(array), count);
    sd_bus_message *reply = nullptr;
    r = sd_bus_message_new_method_return(m, &reply);
    if (r >= 0) {
      r = sd_bus_message_open_container(reply, 'a', "(ia{sv})");
    }
    for (std::size_t i = 0; r >= 0 && i < ids.size(); ++i) {
      r = sd_bus_message_open_container(reply, 'r', "ia{sv}");
      if (r >= 0) {
        r = sd_bus_message_append(reply, "i", ids[i]);
      }
      if (r >= 0) {
        r = self->appendProperties(reply, ids[i]);
      }
      if (r >= 0) {
        r = sd_bus_message_close_container(reply);
      }
    }
    if (r >= 0) {
      r = sd_bus_message_close_container(reply);
    }
    if (r >= 0) {
      r = sd_bus_send(nullptr, reply, nullptr);
    }
    sd_bus_message_unref(reply);
    return r;
  }

  static int getProperty(sd_bus_message *m, void *userdata, sd_bus_error *error) {
    auto *self = static_cast<Impl *>(userdata);
    int id = 0;
    const char *name = nullptr;
    int r = sd_bus_message_read(m, "is", &id, &name);
    if (r < 0) {
      return r;
    }
    if (id < 1 || !self->knows(id) || self->items[static_cast<std::size_t>(id - 1)].separator ||
        std::strcmp(name, "label") != 0) {
      return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "no property %s on item %d", name,
                               id);
    }
    return sd_bus_reply_method_return(m, "v", "s",
                                      self->items[static_cast<std::size_t>(id - 1)].label.c_str());
  }

  // Runs the entry's action for a "clicked" event.
  void event(int id, const char *kind) {
    if (std::strcmp(kind, "clicked") != 0 || id < 1 || !knows(id)) {
      return;
    }
    const StatusMenuItem &item = items[static_cast<std::size_t>(id - 1)];
    if (item.separator || !item.enabled || !item.action) {
      return;
    }
    const auto action = item.action;
    action();
  }

  static int onEvent(sd_bus_message *m, void *userdata, sd_bus_error *) {
    auto *self = static_cast<Impl *>(userdata);
    int id = 0;
    const char *kind = nullptr;
    int r = sd_bus_message_read(m, "is", &id, &kind);
    if (r >= 0) {
      r = sd_bus_message_skip(m, "vu");
    }
    if (r < 0) {
      return r;
    }
    const std::string eventKind = kind;
    r = sd_bus_reply_method_return(m, "");
    self->event(id, eventKind.c_str());
    return r;
  }

  // Runs each clicked entry's action once however often the group repeats the click: a panel
  // sends one event per click, and each action may save the settings.
  static int onEventGroup(sd_bus_message *m, void *userdata, sd_bus_error *error) {
    auto *self = static_cast<Impl *>(userdata);
    std::vector<int> clicked;
    std::size_t count = 0;
    int r = sd_bus_message_enter_container(m, 'a', "(isvu)");
    while (r >= 0) {
      r = sd_bus_message_enter_container(m, 'r', "isvu");
      if (r <= 0) {
        break;
      }
      if (++count > kMaxEventsPerCall) {
        return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS,
                                 "more than %zu events in one call", kMaxEventsPerCall);
      }
      int id = 0;
      const char *kind = nullptr;
      r = sd_bus_message_read(m, "is", &id, &kind);
      if (r >= 0 && std::strcmp(kind, "clicked") == 0 &&
          std::find(clicked.begin(), clicked.end(), id) == clicked.end()) {
        clicked.push_back(id);
      }
      if (r >= 0) {
        r = sd_bus_message_skip(m, "vu");
      }
      if (r >= 0) {
        r = sd_bus_message_exit_container(m);
      }
    }
    if (r < 0) {
      return r;
    }
    r = sd_bus_reply_method_return(m, "ai", 0);
    for (const int id : clicked) {
      self->event(id, "clicked");
    }
    return r;
  }

  static int aboutToShow(sd_bus_message *m, void *, sd_bus_error *) {
    return sd_bus_reply_method_return(m, "b", 0);
  }

  static int aboutToShowGroup(sd_bus_message *m, void *, sd_bus_error *) {
    return sd_bus_reply_method_return(m, "aiai", 0, 0);
  }

  static int menuProperty(sd_bus *, const char *, const char *, const char *property,
                          sd_bus_message *reply, void *, sd_bus_error *) {
    const std::string p = property;
    if (p == "Version") {
      return sd_bus_message_append(reply, "u", 3u);
    }
    if (p == "TextDirection") {
      return sd_bus_message_append(reply, "s", "ltr");
    }
    if (p == "Status") {
      return sd_bus_message_append(reply, "s", "normal");
    }
    return sd_bus_message_append(reply, "as", 0); // IconThemePath
  }

  static const sd_bus_vtable *itemVtable() {
    static const sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("Category", "s", itemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Id", "s", itemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Title", "s", itemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Status", "s", itemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("WindowId", "i", itemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("IconName", "s", itemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("IconThemePath", "s", itemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("IconPixmap", "a(iiay)", itemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("OverlayIconName", "s", itemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("OverlayIconPixmap", "a(iiay)", itemProperty, 0,
                        SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("AttentionIconName", "s", itemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("AttentionIconPixmap", "a(iiay)", itemProperty, 0,
                        SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("AttentionMovieName", "s", itemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", itemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("ItemIsMenu", "b", itemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Menu", "o", itemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_METHOD("Activate", "ii", "", activate, SD_BUS_VTABLE_UNPRIVILEGED),
        // A panel that cannot show the exported menu asks for a context menu: the menu window.
        SD_BUS_METHOD("ContextMenu", "ii", "", activate, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("SecondaryActivate", "ii", "", ignore, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("Scroll", "is", "", ignore, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_SIGNAL("NewTitle", "", 0), SD_BUS_SIGNAL("NewIcon", "", 0),
        SD_BUS_SIGNAL("NewAttentionIcon", "", 0), SD_BUS_SIGNAL("NewOverlayIcon", "", 0),
        SD_BUS_SIGNAL("NewToolTip", "", 0), SD_BUS_SIGNAL("NewStatus", "s", 0), SD_BUS_VTABLE_END};
    return vtable;
  }

  static const sd_bus_vtable *menuVtable() {
    static const sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("Version", "u", menuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("TextDirection", "s", menuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Status", "s", menuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("IconThemePath", "as", menuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_METHOD("GetLayout", "iias", "u(ia{sv}av)", getLayout, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("GetGroupProperties", "aias", "a(ia{sv})", getGroupProperties,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("GetProperty", "is", "v", getProperty, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("Event", "isvu", "", onEvent, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("EventGroup", "a(isvu)", "ai", onEventGroup, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("AboutToShow", "i", "b", aboutToShow, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("AboutToShowGroup", "ai", "aiai", aboutToShowGroup,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_SIGNAL("ItemsPropertiesUpdated", "a(ia{sv})a(ias)", 0),
        SD_BUS_SIGNAL("LayoutUpdated", "ui", 0),
        SD_BUS_SIGNAL("ItemActivationRequested", "iu", 0),
        SD_BUS_VTABLE_END};
    return vtable;
  }

  bool process() {
    bool more = false;
    for (std::size_t handled = 0; !more; ++handled) {
      if (sd_bus_process(bus, nullptr) <= 0) {
        break;
      }
      more = handled + 1 >= StatusNotifierItem::kMaxMessagesPerTurn;
    }
    sd_bus_flush(bus);
    return more;
  }
};

StatusNotifierItem::StatusNotifierItem(Options options, std::function<void()> onActivate,
                                       std::function<std::vector<StatusMenuItem>()> menu)
    : impl_(std::make_unique<Impl>()) {
  Impl &x = *impl_;
  x.options = std::move(options);
  x.onActivate = std::move(onActivate);
  x.menu = std::move(menu);
  x.items = x.menu ? x.menu() : std::vector<StatusMenuItem>{};
  int r = 0;
  if (x.options.busAddress.empty()) {
    r = sd_bus_open_user(&x.bus);
  } else {
    r = sd_bus_new(&x.bus);
    if (r >= 0) {
      r = sd_bus_set_address(x.bus, x.options.busAddress.c_str());
    }
    if (r >= 0) {
      r = sd_bus_set_bus_client(x.bus, 1);
    }
    if (r >= 0) {
      r = sd_bus_start(x.bus);
    }
  }
  if (r < 0) {
    sd_bus_unref(x.bus);
    x.bus = nullptr;
    throw StatusNotifierError("cannot connect to the session bus: " + errorText(r));
  }
  x.name =
      "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" + std::to_string(++itemCount);
  r = sd_bus_add_object_vtable(x.bus, &x.itemSlot, kItemPath, kItemInterface, Impl::itemVtable(),
                               &x);
  if (r >= 0) {
    r = sd_bus_add_object_vtable(x.bus, &x.menuSlot, kMenuPath, kMenuInterface, Impl::menuVtable(),
                                 &x);
  }
  if (r >= 0) {
    r = sd_bus_request_name(x.bus, x.name.c_str(), 0);
  }
  if (r >= 0) {
    r = sd_bus_match_signal(x.bus, &x.watcherSlot, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "NameOwnerChanged", Impl::watcherOwnerChanged,
                            &x);
  }
  if (r < 0) {
    const std::string reason = errorText(r);
    sd_bus_slot_unref(x.watcherSlot);
    sd_bus_slot_unref(x.menuSlot);
    sd_bus_slot_unref(x.itemSlot);
    sd_bus_flush_close_unref(x.bus);
    throw StatusNotifierError("cannot put " + x.name + " on the session bus: " + reason);
  }
  x.requestRegistration();
  x.process();
}

StatusNotifierItem::~StatusNotifierItem() {
  Impl &x = *impl_;
  sd_bus_slot_unref(x.registerSlot);
  sd_bus_slot_unref(x.watcherSlot);
  sd_bus_slot_unref(x.menuSlot);
  sd_bus_slot_unref(x.itemSlot);
  sd_bus_flush_close_unref(x.bus);
}

bool StatusNotifierItem::isRegistered() const { return impl_->registered.value_or(false); }

void StatusNotifierItem::setOnRegistrationChanged(std::function<void(bool)> handler) {
  impl_->onRegistrationChanged = std::move(handler);
  if (impl_->registered && impl_->onRegistrationChanged) {
    const auto copy = impl_->onRegistrationChanged;
    copy(*impl_->registered);
  }
}

const std::string &StatusNotifierItem::busName() const { return impl_->name; }

void StatusNotifierItem::menuChanged() {
  Impl &x = *impl_;
  ++x.revision;
  sd_bus_emit_signal(x.bus, kMenuPath, kMenuInterface, "LayoutUpdated", "ui", x.revision, 0);
  x.process();
}

void StatusNotifierItem::setIcon(StatusIcon icon) {
  Impl &x = *impl_;
  if (icon == x.icon) {
    return;
  }
  x.icon = std::move(icon);
  sd_bus_emit_signal(x.bus, kItemPath, kItemInterface, "NewIcon", "");
  x.process();
}

int StatusNotifierItem::fd() const { return sd_bus_get_fd(impl_->bus); }

bool StatusNotifierItem::handle() { return impl_->process(); }

} // namespace platform::ui
