#include "platform/system/CancellationScope.hpp"

#include "platform/system/CancellationError.hpp"

namespace platform {
namespace {
thread_local std::optional<CancellationToken> currentTaskToken;
}

CancellationScope::CancellationScope(CancellationToken token)
    : previous_(std::move(currentTaskToken)) {
  currentTaskToken = std::move(token);
}

CancellationScope::~CancellationScope() { currentTaskToken = std::move(previous_); }

std::optional<CancellationToken> Task::currentToken() { return currentTaskToken; }

bool Task::isCancelled() { return currentTaskToken && currentTaskToken->isCancelled(); }

void Task::checkCancellation() {
  if (isCancelled()) {
    throw CancellationError();
  }
}

} // namespace platform
