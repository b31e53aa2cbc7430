#pragma once

#include "platform/ui/dbus/StatusNotifierItem.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include <systemd/sd-bus.h>

namespace platform::ui {

// A status item's menu as the panel reads it over the bus (com.canonical.dbusmenu): one level
// of entries under the root, id 0; an entry's id is its index + 1 in the entries as last shown
// to the panel, which a full layout request reads anew. Clicks run the entries' actions.
//
// Private to StatusNotifierItem, which exports it with vtable() and this object as userdata.
class DbusMenu {
public:
  static constexpr const char *kPath = "/MenuBar";
  static constexpr const char *kInterface = "com.canonical.dbusmenu";

  // Reads the entries at once.
  explicit DbusMenu(std::function<std::vector<StatusMenuItem>()> entries);

  static const sd_bus_vtable *vtable();

  // The entries may have changed: a new revision, announced to the panel on `bus`.
  void changed(sd_bus *bus);

private:
  int appendProperties(sd_bus_message *m, int id) const;
  int appendNode(sd_bus_message *m, int id, bool withChildren) const;
  bool knows(int id) const { return id >= 0 && static_cast<std::size_t>(id) <= items_.size(); }
  // The known ids among `ids`, each once, in the order first asked for; all ids when none is.
  std::vector<int> distinctKnownIds(const std::int32_t *ids, std::size_t count) const;
  // Runs the entry's action for a "clicked" event.
  void event(int id, const char *kind);

  static int getLayout(sd_bus_message *m, void *userdata, sd_bus_error *error);
  static int getGroupProperties(sd_bus_message *m, void *userdata, sd_bus_error *error);
  static int getProperty(sd_bus_message *m, void *userdata, sd_bus_error *error);
  static int onEvent(sd_bus_message *m, void *userdata, sd_bus_error *);
  static int onEventGroup(sd_bus_message *m, void *userdata, sd_bus_error *error);
  static int aboutToShow(sd_bus_message *m, void *, sd_bus_error *);
  static int aboutToShowGroup(sd_bus_message *m, void *, sd_bus_error *);
  static int menuProperty(sd_bus *, const char *, const char *, const char *property,
                          sd_bus_message *reply, void *, sd_bus_error *);

  std::function<std::vector<StatusMenuItem>()> entries_;
  std::vector<StatusMenuItem> items_; // as last shown to the panel; ids are index + 1
  std::uint32_t revision_ = 1;
};

} // namespace platform::ui
