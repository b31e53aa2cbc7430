#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/types.h>

namespace platform {

// A program could not be started; what() names the program and the cause.
class LaunchError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Starts programs as separate processes (posix_spawn, this process's environment). Each child
// is waited for on a thread of its own, so an ended child leaves no zombie and the caller's
// thread never waits for one.
class ProcessLauncher {
public:
  // Receives the child's wait status (as waitpid reports it), on the waiting thread.
  using ExitHandler = std::function<void(int waitStatus)>;

  // Starts `program` (looked up on PATH when it names no folder) with `arguments`, the
  // program's name first (the program itself when empty). Returns the child's process id;
  // throws LaunchError "Could not start <program>: <cause>" when it cannot start. `onExit`,
  // when given, runs once the child has ended.
  static pid_t launch(const std::string &program, std::vector<std::string> arguments,
                      ExitHandler onExit = {});
};

} // namespace platform
