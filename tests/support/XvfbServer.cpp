#include "tests/support/XvfbServer.hpp"

#include "tests/support/AnnouncingProcess.hpp"

#include <cstdlib>

namespace mqtest {

namespace {

std::vector<std::string> xvfbArguments(const std::string &fd) {
  return std::vector<std::string>{"Xvfb",        "-displayfd", fd,    "-screen", "0",
                                  "1600x600x24", "-nolisten",  "tcp", "-noreset"};
}

} // namespace

std::optional<std::string> XvfbServer::displayWithWindowManager() {
  static const AnnouncingProcess server(xvfbArguments);
  if (!server.line()) {
    return std::nullopt;
  }
  const std::string display = ":" + *server.line();
  // The window manager announces itself once it set its check window on the root, which it
  // does when it has taken over the screen; xprop waits for that property change (spying on
  // every root property: the atom may not exist before the window manager makes it).
  static const AnnouncingProcess manager([&](const std::string &fd) {
    const std::string script =
        "export DISPLAY=" + display + "; command -v openbox >/dev/null || exit 1; " +
        "(stdbuf -oL xprop -root -spy | grep -m1 -q '_NET_SUPPORTING_WM_CHECK(WINDOW)' && echo " +
        display + " >&" + fd + ") & exec openbox --sm-disable 2>/dev/null";
    return std::vector<std::string>{"sh", "-c", script};
  });
  if (!manager.line()) {
    return std::nullopt;
  }
  return display;
}

std::optional<std::string> XvfbServer::display() {
  static const AnnouncingProcess server(xvfbArguments);
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
