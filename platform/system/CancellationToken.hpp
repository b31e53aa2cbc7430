#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace platform {

// Cooperative cancellation of blocking work (hub transfers, audio loading, decoding). Copies
// share one state: the caller keeps a copy and calls cancel(); the work polls isCancelled() or
// checkCancellation() between steps and registers handlers that stop work in flight (an HTTP
// transfer, a downloader). A cancelled call throws CancellationError unless its library reports
// cancellation with an error of its own (the hub: UrlError(cancelled)), mapped where it returns.
//
// Thread-safety: every method may be called from any thread. Handlers run once, on the thread
// that calls cancel() (or at once on the registering thread when already cancelled), never
// under the token's lock.
class CancellationToken {
public:
  // Unregisters its handler when destroyed or reset; once that returns the handler is neither
  // running nor will it start, so it may use objects that die with the registration.
  class Registration {
  public:
    Registration() = default;
    ~Registration() { reset(); }
    Registration(Registration &&other) noexcept;
    Registration &operator=(Registration &&other) noexcept;
    Registration(const Registration &) = delete;
    Registration &operator=(const Registration &) = delete;
    void reset();

  private:
    friend class CancellationToken;
    struct State;
    Registration(std::weak_ptr<State> state, uint64_t id) : state_(std::move(state)), id_(id) {}
    std::weak_ptr<State> state_;
    uint64_t id_ = 0;
  };

  CancellationToken();

  void cancel() const;
  // One atomic load: cheap enough for inner loops.
  bool isCancelled() const;
  // Throws CancellationError once cancelled.
  void checkCancellation() const;

  [[nodiscard]] Registration onCancel(std::function<void()> handler) const;

private:
  std::shared_ptr<Registration::State> state_;
};

} // namespace platform
