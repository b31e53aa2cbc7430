#include "tests/support/XvfbServer.hpp"

#include "tests/support/AnnouncingProcess.hpp"

#include <cstdlib>

namespace mqtest {

std::optional<std::string> XvfbServer::display() {
  static const AnnouncingProcess server([](const std::string &fd) {
    return std::vector<std::string>{"Xvfb",        "-displayfd", fd,    "-screen", "0",
                                    "1600x600x24", "-nolisten",  "tcp", "-noreset"};
  });
  if (server.line()) {
    return ":" + *server.line();
  }
  const char *session = std::getenv("DISPLAY");
  if (session != nullptr && *session != '\0') {
    return std::string(session);
  }
  return std::nullopt;
}

} // namespace mqtest
