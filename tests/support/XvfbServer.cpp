#include "tests/support/XvfbServer.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace mqtest {

namespace {

class Server {
public:
  Server() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      return;
    }
    const std::string fd = std::to_string(fds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The write end must survive exec; dup2 onto itself clears close-on-exec.
    posix_spawn_file_actions_adddup2(&actions, fds[1], fds[1]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char *argv[] = {"Xvfb",        "-displayfd", fd.c_str(), "-screen",  "0",
                          "1600x600x24", "-nolisten",  "tcp",      "-noreset", nullptr};
    const int spawned =
        posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char *const *>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
      pid_ = 0;
      close(fds[0]);
      return;
    }
    std::string number;
    for (;;) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 20000) <= 0) {
        break;
      }
      char c = 0;
      const ssize_t got = read(fds[0], &c, 1);
      if (got <= 0 || c == '\n') {
        break;
      }
      number += c;
    }
    close(fds[0]);
    if (number.empty()) {
      stop();
      return;
    }
    display_ = ":" + number;
  }
  ~Server() { stop(); }

  const std::optional<std::string> &display() const { return display_; }

private:
  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      pid_ = 0;
    }
  }

  pid_t pid_ = 0;
  std::optional<std::string> display_;
};

} // namespace

std::optional<std::string> XvfbServer::display() {
  static Server server;
  if (server.display()) {
    return server.display();
  }
  const char *session = std::getenv("DISPLAY");
  if (session != nullptr && *session != '\0') {
    return std::string(session);
  }
  return std::nullopt;
}

} // namespace mqtest
