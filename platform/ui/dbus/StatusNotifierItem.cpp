#include "platform/ui/dbus/StatusNotifierItem.hpp"

#include "platform/ui/dbus/DbusMenu.hpp"

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
constexpr const char *kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char *kWatcherPath = "/StatusNotifierWatcher";

std::atomic<int> itemCount{0};

std::string errorText(int r) { return std::strerror(r < 0 ? -r : r); }

} // namespace

struct StatusNotifierItem::Impl {
  Impl(Options options, std::function<void()> onActivate,
       std::function<std::vector<StatusMenuItem>()> menu)
      : options(std::move(options)), onActivate(std::move(onActivate)), menu(std::move(menu)) {}

  Options options;
  std::function<void()> onActivate;
  DbusMenu menu;
  std::function<void(bool)> onRegistrationChanged;
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
      return sd_bus_message_append(reply, "o", DbusMenu::kPath);
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
    : impl_(std::make_unique<Impl>(std::move(options), std::move(onActivate), std::move(menu))) {
  Impl &x = *impl_;
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
    r = sd_bus_add_object_vtable(x.bus, &x.menuSlot, DbusMenu::kPath, DbusMenu::kInterface,
                                 DbusMenu::vtable(), &x.menu);
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
  x.menu.changed(x.bus);
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
