#pragma once

#include <atomic>
#include <exception>
#include <memory>
#include <optional>

namespace divuvovize {

// Cooperative cancellation of the engine's blocking work, in place of the platform's task
// cancellation. A caller makes a token, runs the work inside a TaskCancellationScope on the worker
// thread, and may cancel() from any thread; the work calls Task::checkCancellation() where it may
// stop. Copies of a token share one state.
class TaskCancellationToken {
public:
  TaskCancellationToken() : cancelled_(std::make_shared<std::atomic<bool>>(false)) {}
  void cancel() const { cancelled_->store(true); }
  bool isCancelled() const { return cancelled_->load(); }

private:
  std::shared_ptr<std::atomic<bool>> cancelled_;
};

// What a cancelled operation throws.
class CancellationError : public std::exception {
public:
  const char *what() const noexcept override { return "CancellationError"; }
};

// Makes `token` the current thread's task token until the scope ends (scopes nest; the previous
// token comes back). Work handed to other threads must open its own scope with the same token.
class TaskCancellationScope {
public:
  explicit TaskCancellationScope(TaskCancellationToken token);
  ~TaskCancellationScope();
  TaskCancellationScope(const TaskCancellationScope &) = delete;
  TaskCancellationScope &operator=(const TaskCancellationScope &) = delete;

private:
  std::optional<TaskCancellationToken> previous_;
};

struct Task {
  // The current thread's token, if a scope is open.
  static std::optional<TaskCancellationToken> currentToken();
  // True when the current thread's token has been cancelled (false without a scope).
  static bool isCancelled();
  // Throws CancellationError when isCancelled().
  static void checkCancellation();
};

} // namespace divuvovize
