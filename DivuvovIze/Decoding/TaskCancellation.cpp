#include "DivuvovIze/Decoding/TaskCancellation.hpp"

namespace divuvovize {
namespace {
thread_local std::optional<TaskCancellationToken> currentTaskToken;
}

TaskCancellationScope::TaskCancellationScope(TaskCancellationToken token)
    : previous_(std::move(currentTaskToken)) {
  currentTaskToken = std::move(token);
}

TaskCancellationScope::~TaskCancellationScope() { currentTaskToken = std::move(previous_); }

std::optional<TaskCancellationToken> Task::currentToken() { return currentTaskToken; }

bool Task::isCancelled() { return currentTaskToken && currentTaskToken->isCancelled(); }

void Task::checkCancellation() {
  if (isCancelled()) {
    throw CancellationError();
  }
}

} // namespace divuvovize
