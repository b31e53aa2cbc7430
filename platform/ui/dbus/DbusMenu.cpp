#include "platform/ui/dbus/DbusMenu.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace platform::ui {

namespace {

// A panel asks about and reports on the few entries of one menu; a call naming more is not from a
// panel, and each event may run an action on the main thread, so calls are bounded.
constexpr std::size_t kMaxIdsPerCall = 1024;
constexpr std::size_t kMaxEventsPerCall = 256;

} // namespace

DbusMenu::DbusMenu(std::function<std::vector<StatusMenuItem>()> entries)
    : entries_(std::move(entries)), items_(entries_ ? entries_() : std::vector<StatusMenuItem>{}) {}

void DbusMenu::changed(sd_bus *bus) {
  ++revision_;
  sd_bus_emit_signal(bus, kPath, kInterface, "LayoutUpdated", "ui", revision_, 0);
}

int DbusMenu::appendProperties(sd_bus_message *m, int id) const {
  int r = sd_bus_message_open_container(m, 'a', "{sv}");
  if (r < 0) {
    return r;
  }
  if (id == 0) {
    r = sd_bus_message_append(m, "{sv}", "children-display", "s", "submenu");
  } else {
    const StatusMenuItem &item = items_[static_cast<std::size_t>(id - 1)];
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

int DbusMenu::appendNode(sd_bus_message *m, int id, bool withChildren) const {
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
  for (std::size_t i = 0; r >= 0 && withChildren && id == 0 && i < items_.size(); ++i) {
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

int DbusMenu::getLayout(sd_bus_message *m, void *userdata, sd_bus_error *error) {
  auto *self = static_cast<DbusMenu *>(userdata);
  int parent = 0, depth = 0;
  int r = sd_bus_message_read(m, "ii", &parent, &depth);
  if (r < 0) {
    return r;
  }
  if (parent == 0) {
    self->items_ = self->entries_ ? self->entries_() : std::vector<StatusMenuItem>{};
  }
  if (!self->knows(parent)) {
    return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "no menu item %d", parent);
  }
  sd_bus_message *reply = nullptr;
  r = sd_bus_message_new_method_return(m, &reply);
  if (r >= 0) {
    r = sd_bus_message_append(reply, "u", self->revision_);
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

std::vector<int> DbusMenu::distinctKnownIds(const std::int32_t *ids, std::size_t count) const {
  std::vector<bool> seen(items_.size() + 1, false);
  std::vector<int> known;
  for (std::size_t i = 0; i < count; ++i) {
    if (knows(ids[i]) && !seen[static_cast<std::size_t>(ids[i])]) {
      seen[static_cast<std::size_t>(ids[i])] = true;
      known.push_back(ids[i]);
    }
  }
  if (count == 0) {
    for (std::size_t i = 0; i <= items_.size(); ++i) {
      known.push_back(static_cast<int>(i));
    }
  }
  return known;
}

int DbusMenu::getGroupProperties(sd_bus_message *m, void *userdata, sd_bus_error *error) {
  auto *self = static_cast<DbusMenu *>(userdata);
  const void *array = nullptr;
  std::size_t bytes = 0;
  int r = sd_bus_message_read_array(m, 'i', &array, &bytes);
  if (r < 0) {
    return r;
  }
  const std::size_t count = bytes / sizeof(std::int32_t);
  if (count > kMaxIdsPerCall) {
    return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "%zu ids, more than %zu in one call",
                             count, kMaxIdsPerCall);
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

int DbusMenu::getProperty(sd_bus_message *m, void *userdata, sd_bus_error *error) {
  auto *self = static_cast<DbusMenu *>(userdata);
  int id = 0;
  const char *name = nullptr;
  int r = sd_bus_message_read(m, "is", &id, &name);
  if (r < 0) {
    return r;
  }
  if (id < 1 || !self->knows(id) || self->items_[static_cast<std::size_t>(id - 1)].separator ||
      std::strcmp(name, "label") != 0) {
    return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "no property %s on item %d", name,
                             id);
  }
  return sd_bus_reply_method_return(m, "v", "s",
                                    self->items_[static_cast<std::size_t>(id - 1)].label.c_str());
}

void DbusMenu::event(int id, const char *kind) {
  if (std::strcmp(kind, "clicked") != 0 || id < 1 || !knows(id)) {
    return;
  }
  const StatusMenuItem &item = items_[static_cast<std::size_t>(id - 1)];
  if (item.separator || !item.enabled || !item.action) {
    return;
  }
  const auto action = item.action;
  action();
}

int DbusMenu::onEvent(sd_bus_message *m, void *userdata, sd_bus_error *) {
  auto *self = static_cast<DbusMenu *>(userdata);
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
int DbusMenu::onEventGroup(sd_bus_message *m, void *userdata, sd_bus_error *error) {
  auto *self = static_cast<DbusMenu *>(userdata);
  std::vector<int> clicked;
  std::size_t count = 0;
  int r = sd_bus_message_enter_container(m, 'a', "(isvu)");
  while (r >= 0) {
    r = sd_bus_message_enter_container(m, 'r', "isvu");
    if (r <= 0) {
      break;
    }
    if (++count > kMaxEventsPerCall) {
      return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "more than %zu events in one call",
                               kMaxEventsPerCall);
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

int DbusMenu::aboutToShow(sd_bus_message *m, void *, sd_bus_error *) {
  return sd_bus_reply_method_return(m, "b", 0);
}

int DbusMenu::aboutToShowGroup(sd_bus_message *m, void *, sd_bus_error *) {
  return sd_bus_reply_method_return(m, "aiai", 0, 0);
}

int DbusMenu::menuProperty(sd_bus *, const char *, const char *, const char *property,
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

const sd_bus_vtable *DbusMenu::vtable() {
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
      SD_BUS_METHOD("AboutToShowGroup", "ai", "aiai", aboutToShowGroup, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_SIGNAL("ItemsPropertiesUpdated", "a(ia{sv})a(ias)", 0),
      SD_BUS_SIGNAL("LayoutUpdated", "ui", 0),
      SD_BUS_SIGNAL("ItemActivationRequested", "iu", 0),
      SD_BUS_VTABLE_END};
  return vtable;
}

} // namespace platform::ui
