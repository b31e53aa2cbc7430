#include "platform/services/ApplicationLauncher.hpp"

#include <filesystem>
#include <system_error>

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
  pid_t child = 0;
  try {
    child = ProcessLauncher::launch(executable_, arguments_);
  } catch (const LaunchError &) {
    completion(std::current_exception());
    return;
  }
  lastChild_ = child;
  completion(nullptr);
}

} // namespace platform
