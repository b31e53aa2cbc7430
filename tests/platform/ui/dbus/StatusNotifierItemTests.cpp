#include "platform/ui/dbus/StatusNotifierItem.hpp"

#include "tests/support/SessionBus.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <poll.h>
#include <string>
#include <vector>

#include <systemd/sd-bus.h>

namespace platform::ui {
namespace {

// What a panel reads of one menu entry.
struct ShownEntry {
  int id = 0;
  std::string label;
  std::string type;
  int toggleState = -1;
  bool enabled = true;
};

// The desktop's side: a watcher stand-in that accepts items, and the panel's calls into them.
class StatusItemTest : public ::testing::Test {
protected:
  void SetUp() override {
    const auto address = mqtest::SessionBus::address();
    if (!address) {
      GTEST_SKIP() << "no dbus-daemon: status item tests need a session bus";
    }
    busAddress = *address;
    ASSERT_GE(sd_bus_new(&panel), 0);
    ASSERT_GE(sd_bus_set_address(panel, address->c_str()), 0);
    ASSERT_GE(sd_bus_set_bus_client(panel, 1), 0);
    ASSERT_GE(sd_bus_start(panel), 0);
  }
  void TearDown() override {
    item.reset();
    sd_bus_slot_unref(watcherSlot);
    if (panel != nullptr) {
      sd_bus_flush_close_unref(panel);
    }
  }

  static int registerItem(sd_bus_message *m, void *userdata, sd_bus_error *) {
    const char *service = nullptr;
    const int r = sd_bus_message_read(m, "s", &service);
    if (r < 0) {
      return r;
    }
    static_cast<StatusItemTest *>(userdata)->registeredServices.emplace_back(service);
    return sd_bus_reply_method_return(m, "");
  }

  void startWatcher() {
    static const sd_bus_vtable vtable[] = {SD_BUS_VTABLE_START(0),
                                           SD_BUS_METHOD("RegisterStatusNotifierItem", "s", "",
                                                         registerItem, SD_BUS_VTABLE_UNPRIVILEGED),
                                           SD_BUS_VTABLE_END};
    ASSERT_GE(sd_bus_add_object_vtable(panel, &watcherSlot, "/StatusNotifierWatcher",
                                       "org.kde.StatusNotifierWatcher", vtable, this),
              0);
    ASSERT_GE(sd_bus_request_name(panel, "org.kde.StatusNotifierWatcher", 0), 0);
  }

  void makeItem() {
    StatusNotifierItem::Options options;
    options.busAddress = busAddress;
    item = std::make_unique<StatusNotifierItem>(
        options, [this] { log.push_back("activate"); },
        [this] {
          return std::vector<StatusMenuItem>{
              {"Open Murmurquill", [this] { log.push_back("open"); }},
              {{}, {}, /*separator=*/true},
              {"Refine_it", [this] { log.push_back("refine"); }, false, true, /*toggle=*/true,
               /*checked=*/refineOn},
              {"Quit Murmurquill", [this] { log.push_back("quit"); }, false, /*enabled=*/false},
          };
        });
    item->setOnRegistrationChanged(
        [this](bool now) { log.push_back(now ? "registered" : "unregistered"); });
  }

  // Runs both sides until `done` holds (or a generous bound on rounds passes).
  bool pumpUntil(const std::function<bool()> &done) {
    for (int round = 0; round < 400; ++round) {
      while (item->handle()) {
      }
      while (sd_bus_process(panel, nullptr) > 0) {
      }
      sd_bus_flush(panel);
      if (done()) {
        return true;
      }
      pollfd fds[2] = {{item->fd(), POLLIN, 0}, {sd_bus_get_fd(panel), POLLIN, 0}};
      poll(fds, 2, 25);
    }
    return done();
  }

  // Calls `method` on the item's object at `path` and runs both sides until it answered.
  sd_bus_message *call(const char *path, const char *interface, const char *method,
                       const std::function<void(sd_bus_message *)> &arguments) {
    sd_bus_message *request = nullptr;
    EXPECT_GE(sd_bus_message_new_method_call(panel, &request, item->busName().c_str(), path,
                                             interface, method),
              0);
    arguments(request);
    sd_bus_message *reply = nullptr;
    bool answered = false;
    std::pair<sd_bus_message **, bool *> out{&reply, &answered};
    EXPECT_GE(sd_bus_call_async(
                  panel, nullptr, request,
                  [](sd_bus_message *m, void *userdata, sd_bus_error *) {
                    auto *o = static_cast<std::pair<sd_bus_message **, bool *> *>(userdata);
                    *o->first = sd_bus_message_ref(m);
                    *o->second = true;
                    return 0;
                  },
                  &out, 0),
              0);
    sd_bus_message_unref(request);
    EXPECT_TRUE(pumpUntil([&] { return answered; })) << method;
    return reply;
  }

  std::vector<ShownEntry> layout(std::uint32_t &revision) {
    sd_bus_message *reply =
        call("/MenuBar", "com.canonical.dbusmenu", "GetLayout",
             [](sd_bus_message *m) { sd_bus_message_append(m, "iias", 0, -1, 0); });
    std::vector<ShownEntry> entries;
    if (reply == nullptr) {
      return entries;
    }
    EXPECT_FALSE(sd_bus_message_is_method_error(reply, nullptr));
    EXPECT_GE(sd_bus_message_read(reply, "u", &revision), 0);
    EXPECT_GT(sd_bus_message_enter_container(reply, 'r', "ia{sv}av"), 0);
    int rootId = -1;
    sd_bus_message_read(reply, "i", &rootId);
    EXPECT_EQ(rootId, 0);
    sd_bus_message_skip(reply, "a{sv}");
    EXPECT_GT(sd_bus_message_enter_container(reply, 'a', "v"), 0);
    while (sd_bus_message_enter_container(reply, 'v', "(ia{sv}av)") > 0) {
      ShownEntry entry;
      sd_bus_message_enter_container(reply, 'r', "ia{sv}av");
      sd_bus_message_read(reply, "i", &entry.id);
      sd_bus_message_enter_container(reply, 'a', "{sv}");
      while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
        const char *key = nullptr;
        sd_bus_message_read(reply, "s", &key);
        const std::string name = key;
        const char *text = nullptr;
        int number = 0;
        if (name == "label" || name == "type" || name == "toggle-type") {
          sd_bus_message_read(reply, "v", "s", &text);
          if (name == "label") {
            entry.label = text;
          } else if (name == "type") {
            entry.type = text;
          }
        } else if (name == "toggle-state") {
          sd_bus_message_read(reply, "v", "i", &number);
          entry.toggleState = number;
        } else if (name == "enabled") {
          sd_bus_message_read(reply, "v", "b", &number);
          entry.enabled = number != 0;
        } else {
          sd_bus_message_skip(reply, "v");
        }
        sd_bus_message_exit_container(reply);
      }
      sd_bus_message_exit_container(reply);
      sd_bus_message_skip(reply, "av");
      sd_bus_message_exit_container(reply);
      sd_bus_message_exit_container(reply);
      entries.push_back(entry);
    }
    sd_bus_message_unref(reply);
    return entries;
  }

  void click(int id) {
    sd_bus_message *reply =
        call("/MenuBar", "com.canonical.dbusmenu", "Event", [id](sd_bus_message *m) {
          sd_bus_message_append(m, "isvu", id, "clicked", "i", 0, 0u);
        });
    EXPECT_NE(reply, nullptr);
    sd_bus_message_unref(reply);
  }

  std::string busAddress;
  sd_bus *panel = nullptr;
  sd_bus_slot *watcherSlot = nullptr;
  std::vector<std::string> registeredServices;
  std::unique_ptr<StatusNotifierItem> item;
  std::vector<std::string> log;
  bool refineOn = true;
};

TEST_F(StatusItemTest, RegistersWithTheWatcherAndOpensOnActivate) {
  startWatcher();
  makeItem();
  ASSERT_TRUE(pumpUntil([&] { return item->isRegistered(); }));
  EXPECT_EQ(registeredServices, std::vector<std::string>{item->busName()});
  EXPECT_EQ(item->busName().rfind("org.kde.StatusNotifierItem-", 0), 0u);

  sd_bus_message *reply = call("/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate",
                               [](sd_bus_message *m) { sd_bus_message_append(m, "ii", 5, 5); });
  sd_bus_message_unref(reply);
  EXPECT_EQ(log, (std::vector<std::string>{"registered", "activate"}));

  char *menuPath = nullptr;
  bool answered = false;
  sd_bus_message *request = nullptr;
  sd_bus_message_new_method_call(panel, &request, item->busName().c_str(), "/StatusNotifierItem",
                                 "org.freedesktop.DBus.Properties", "Get");
  sd_bus_message_append(request, "ss", "org.kde.StatusNotifierItem", "Menu");
  sd_bus_message *got = nullptr;
  std::pair<sd_bus_message **, bool *> out{&got, &answered};
  sd_bus_call_async(
      panel, nullptr, request,
      [](sd_bus_message *m, void *userdata, sd_bus_error *) {
        auto *o = static_cast<std::pair<sd_bus_message **, bool *> *>(userdata);
        *o->first = sd_bus_message_ref(m);
        *o->second = true;
        return 0;
      },
      &out, 0);
  sd_bus_message_unref(request);
  ASSERT_TRUE(pumpUntil([&] { return answered; }));
  ASSERT_GE(sd_bus_message_read(got, "v", "o", &menuPath), 0);
  EXPECT_STREQ(menuPath, "/MenuBar");
  sd_bus_message_unref(got);
}

TEST_F(StatusItemTest, MenuShowsTheEntriesAndAClickRunsTheEntrysAction) {
  startWatcher();
  makeItem();
  std::uint32_t revision = 0;
  const auto entries = layout(revision);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].label, "Open Murmurquill");
  EXPECT_EQ(entries[1].type, "separator");
  EXPECT_EQ(entries[2].label, "Refine__it"); // a literal underscore is doubled
  EXPECT_EQ(entries[2].toggleState, 1);
  EXPECT_FALSE(entries[3].enabled);

  click(entries[0].id);
  click(entries[1].id); // a separator does nothing
  click(entries[3].id); // nor does a disabled entry
  click(99);            // nor an unknown one
  EXPECT_EQ(log.back(), "open");
  EXPECT_EQ(std::count(log.begin(), log.end(), "quit"), 0);

  // A changed menu gets a new revision and the new state.
  refineOn = false;
  item->menuChanged();
  std::uint32_t next = 0;
  const auto changed = layout(next);
  EXPECT_GT(next, revision);
  ASSERT_EQ(changed.size(), 4u);
  EXPECT_EQ(changed[2].toggleState, 0);
}

TEST_F(StatusItemTest, WithoutAWatcherTheItemWaitsAndRegistersWhenOneAppears) {
  makeItem();
  // The bus answered the registration with an error before it passed on this later call.
  std::uint32_t revision = 0;
  EXPECT_EQ(layout(revision).size(), 4u);
  EXPECT_FALSE(item->isRegistered());
  // The application hears there is no status area, so it can show its menu another way.
  EXPECT_EQ(log, std::vector<std::string>{"unregistered"});
  startWatcher();
  ASSERT_TRUE(pumpUntil([&] { return item->isRegistered(); }));
  EXPECT_EQ(registeredServices, std::vector<std::string>{item->busName()});
  EXPECT_EQ(log, (std::vector<std::string>{"unregistered", "registered"}));
}

// Panels send a few events and ids per call; anything else is bounded, and a repeated click on one
// entry runs its action once.
TEST_F(StatusItemTest, ABulkEventGroupRunsEachClickedEntryOnceAndTooManyEventsAreRefused) {
  startWatcher();
  makeItem();
  std::uint32_t revision = 0;
  ASSERT_EQ(layout(revision).size(), 4u);
  auto eventGroup = [&](const std::vector<std::pair<int, const char *>> &events) {
    sd_bus_message *reply =
        call("/MenuBar", "com.canonical.dbusmenu", "EventGroup", [&](sd_bus_message *m) {
          sd_bus_message_open_container(m, 'a', "(isvu)");
          for (const auto &[id, kind] : events) {
            sd_bus_message_append(m, "(isvu)", id, kind, "i", 0, 0u);
          }
          sd_bus_message_close_container(m);
        });
    const bool refused = reply == nullptr || sd_bus_message_is_method_error(reply, nullptr);
    sd_bus_message_unref(reply);
    return !refused;
  };
  std::vector<std::pair<int, const char *>> events;
  for (int i = 0; i < 80; ++i) { // 240 events, within the bound
    events.emplace_back(3, "clicked");
    events.emplace_back(3, "hovered");
    events.emplace_back(1, "clicked");
  }
  EXPECT_TRUE(eventGroup(events));
  EXPECT_EQ(log, (std::vector<std::string>{"registered", "refine", "open"}));

  log.clear();
  EXPECT_FALSE(eventGroup(std::vector<std::pair<int, const char *>>(1000, {3, "clicked"})));
  EXPECT_TRUE(log.empty());
}

TEST_F(StatusItemTest, GroupPropertiesAnswerEachKnownIdOnceAndRefuseAFlood) {
  startWatcher();
  makeItem();
  auto groupProperties = [&](const std::vector<std::int32_t> &ids, std::vector<int> &answered) {
    sd_bus_message *reply =
        call("/MenuBar", "com.canonical.dbusmenu", "GetGroupProperties", [&](sd_bus_message *m) {
          sd_bus_message_append_array(m, 'i', ids.data(), ids.size() * sizeof(std::int32_t));
          sd_bus_message_append(m, "as", 0);
        });
    const bool refused = reply == nullptr || sd_bus_message_is_method_error(reply, nullptr);
    if (!refused) {
      sd_bus_message_enter_container(reply, 'a', "(ia{sv})");
      while (sd_bus_message_enter_container(reply, 'r', "ia{sv}") > 0) {
        int id = -1;
        sd_bus_message_read(reply, "i", &id);
        answered.push_back(id);
        sd_bus_message_skip(reply, "a{sv}");
        sd_bus_message_exit_container(reply);
      }
    }
    sd_bus_message_unref(reply);
    return !refused;
  };
  std::vector<int> answered;
  EXPECT_TRUE(groupProperties({3, 3, 99, 1, 3, -1, 1}, answered));
  EXPECT_EQ(answered, (std::vector<int>{3, 1}));

  answered.clear();
  EXPECT_FALSE(groupProperties(std::vector<std::int32_t>(5000, 3), answered));
  EXPECT_TRUE(answered.empty());
}

} // namespace
} // namespace platform::ui
