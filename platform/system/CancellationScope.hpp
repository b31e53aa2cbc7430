#pragma once

#include "platform/system/CancellationToken.hpp"

#include <optional>

namespace platform {

// Makes `token` the current thread's task token until the scope ends, in place of the
// platform's task-local cancellation: code deep in a call (a model prediction, a decoding loop)
// checks it through Task without a token being passed down. Scopes nest; the previous token
// comes back when the scope ends. Work handed to another thread opens its own scope there with
// the same token.
class CancellationScope {
public:
  explicit CancellationScope(CancellationToken token);
  ~CancellationScope();
  CancellationScope(const CancellationScope &) = delete;
  CancellationScope &operator=(const CancellationScope &) = delete;

private:
  std::optional<CancellationToken> previous_;
};

// The current thread's task cancellation (see CancellationScope).
struct Task {
  // The current thread's token, if a scope is open.
  static std::optional<CancellationToken> currentToken();
  // True when the current thread's token has been cancelled (false without a scope). A
  // thread-local read and an atomic load: cheap enough for inner loops.
  static bool isCancelled();
  // Throws CancellationError when isCancelled().
  static void checkCancellation();
};

} // namespace platform
