#pragma once

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/system/ProcessLauncher.hpp"

namespace platform {

// Starts a new instance of this application (the relaunch after a permission grant, which
// only reaches a process started after it). Main thread only.
class ApplicationLauncher {
public:
  // Receives null when the new instance started, else a LaunchError. Runs once, on any thread.
  using Completion = std::function<void(std::exception_ptr error)>;

  virtual ~ApplicationLauncher() = default;
  virtual void openNewInstance(Completion completion) = 0;
};

// Starts the same executable with the same arguments and environment as a separate process
// (through ProcessLauncher), which may outlive this one; the completion runs before
// openNewInstance returns. A LaunchError names the program and the cause.
class ProcessApplicationLauncher final : public ApplicationLauncher {
public:
  // `executable`: an absolute path; `arguments`: the whole argument vector, the program name
  // first.
  ProcessApplicationLauncher(std::string executable, std::vector<std::string> arguments);
  // This process: /proc/self/exe and the arguments main() received.
  static ProcessApplicationLauncher forThisProcess(int argc, const char *const *argv);

  void openNewInstance(Completion completion) override;

  const std::string &executable() const { return executable_; }
  const std::vector<std::string> &arguments() const { return arguments_; }
  // The process started by the last successful call; 0 before.
  int lastChild() const { return lastChild_; }

private:
  std::string executable_;
  std::vector<std::string> arguments_;
  int lastChild_ = 0;
};

// A launcher for tests: records every request and keeps its completion until the test
// answers.
class InMemoryApplicationLauncher final : public ApplicationLauncher {
public:
  void openNewInstance(Completion completion) override {
    ++requests_;
    pending_.push_back(std::move(completion));
  }

  int requestCount() const { return requests_; }
  // Completes the oldest request: started, or failed with LaunchError(`error`).
  void succeed() { complete(nullptr); }
  void fail(const std::string &error) { complete(std::make_exception_ptr(LaunchError(error))); }

private:
  void complete(std::exception_ptr error) {
    Completion completion = std::move(pending_.front());
    pending_.erase(pending_.begin());
    completion(error);
  }

  int requests_ = 0;
  std::vector<Completion> pending_;
};

} // namespace platform
