#include "tests/support/SessionBus.hpp"

#include "tests/support/AnnouncingProcess.hpp"

namespace mqtest {

std::optional<std::string> SessionBus::address() {
  static const AnnouncingProcess daemon([](const std::string &fd) {
    return std::vector<std::string>{"dbus-daemon", "--session", "--nofork",
                                    "--print-address=" + fd};
  });
  return daemon.line();
}

} // namespace mqtest
