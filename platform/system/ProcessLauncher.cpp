#include "platform/system/ProcessLauncher.hpp"

#include <cerrno>
#include <cstring>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace platform {
namespace {

// Runs detached: a child may outlive this process (a relaunched instance), and nothing should
// wait for the waiting.
void reapInBackground(pid_t child, ProcessLauncher::ExitHandler onExit) {
  std::thread([child, onExit = std::move(onExit)] {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (onExit) {
      onExit(status);
    }
  }).detach();
}

} // namespace

pid_t ProcessLauncher::launch(const std::string &program, std::vector<std::string> arguments,
                              ExitHandler onExit) {
  if (arguments.empty()) {
    arguments.push_back(program);
  }
  std::vector<char *> argv;
  for (std::string &argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  pid_t child = 0;
  const int code = ::posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (code != 0) {
    throw LaunchError("Could not start " + program + ": " + std::strerror(code));
  }
  reapInBackground(child, std::move(onExit));
  return child;
}

} // namespace platform
