#include "platform/system/ApplicationLauncher.hpp"

#include <spawn.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <system_error>

extern char **environ;

namespace platform {

ProcessApplicationLauncher::ProcessApplicationLauncher(std::string executable,
                                                       std::vector<std::string> arguments)
    : executable_(std::move(executable)), arguments_(std::move(arguments)) {}

ProcessApplicationLauncher ProcessApplicationLauncher::forThisProcess(int argc,
                                                                      const char *const *argv) {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error && argc > 0) {
    self = std::filesystem::absolute(argv[0], error);
  }
  return ProcessApplicationLauncher(self.string(), std::vector<std::string>(argv, argv + argc));
}

void ProcessApplicationLauncher::openNewInstance(Completion completion) {
  std::vector<std::string> arguments = arguments_;
  if (arguments.empty()) {
    arguments.push_back(executable_);
  }
  std::vector<char *> argv;
  for (std::string &argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  pid_t child = 0;
  const int code =
      ::posix_spawn(&child, executable_.c_str(), nullptr, nullptr, argv.data(), environ);
  if (code != 0) {
    completion(std::make_exception_ptr(
        LaunchError("Could not start " + executable_ + ": " + std::strerror(code))));
    return;
  }
  lastChild_ = child;
  completion(nullptr);
}

} // namespace platform
