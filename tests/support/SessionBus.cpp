#include "tests/support/SessionBus.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace mqtest {

namespace {

class Daemon {
public:
  Daemon() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      return;
    }
    const std::string fd = std::to_string(fds[1]);
    const std::string print = "--print-address=" + fd;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 onto itself clears close-on-exec, so the daemon can write its address.
    posix_spawn_file_actions_adddup2(&actions, fds[1], fds[1]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char *argv[] = {"dbus-daemon", "--session", "--nofork", print.c_str(), nullptr};
    const int spawned = posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr,
                                     const_cast<char *const *>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
      pid_ = 0;
      close(fds[0]);
      return;
    }
    std::string line;
    for (;;) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 20000) <= 0) {
        break;
      }
      char c = 0;
      if (read(fds[0], &c, 1) <= 0 || c == '\n') {
        break;
      }
      line += c;
    }
    close(fds[0]);
    if (line.empty()) {
      stop();
      return;
    }
    address_ = line;
  }
  ~Daemon() { stop(); }

  const std::optional<std::string> &address() const { return address_; }

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
  std::optional<std::string> address_;
};

} // namespace

std::optional<std::string> SessionBus::address() {
  static Daemon daemon;
  return daemon.address();
}

} // namespace mqtest
