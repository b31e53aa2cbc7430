#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace deduve {

// Cooperative cancellation for blocking hub operations. Copies share one state: the caller
// keeps a copy and calls cancel(); the operation polls isCancelled() between steps and
// registers handlers that stop work in flight (an HTTP transfer, a downloader).
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
  bool isCancelled() const;

  [[nodiscard]] Registration onCancel(std::function<void()> handler) const;

private:
  std::shared_ptr<Registration::State> state_;
};

} // namespace deduve
