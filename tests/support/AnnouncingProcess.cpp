#include "tests/support/AnnouncingProcess.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace mqtest {

AnnouncingProcess::AnnouncingProcess(
    const std::function<std::vector<std::string>(const std::string &fd)> &arguments) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    return;
  }
  const std::vector<std::string> words = arguments(std::to_string(fds[1]));
  std::vector<char *> argv;
  for (const std::string &word : words) {
    argv.push_back(const_cast<char *>(word.c_str()));
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The write end must survive exec; dup2 onto itself clears close-on-exec.
  posix_spawn_file_actions_adddup2(&actions, fds[1], fds[1]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
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
  line_ = line;
}

AnnouncingProcess::~AnnouncingProcess() { stop(); }

void AnnouncingProcess::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    // A program that does not end when asked (a window manager in the middle of a move) is
    // made to, so a test process never hangs on its way out.
    int status = 0;
    for (int round = 0; round < 200; ++round) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        return;
      }
      ::poll(nullptr, 0, 10);
    }
    kill(pid_, SIGKILL);
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = 0;
  }
}

} // namespace mqtest
