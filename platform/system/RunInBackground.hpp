#pragma once

#include "platform/system/Executor.hpp"

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

namespace platform {

namespace detail {
// Runs `work` and keeps its value or the exception it threw in `outcome`.
template <class Value, class Work> void fulfil(std::promise<Value> &outcome, Work &work) {
  try {
    if constexpr (std::is_void_v<Value>) {
      work();
      outcome.set_value();
    } else {
      outcome.set_value(work());
    }
  } catch (...) {
    outcome.set_exception(std::current_exception());
  }
}
} // namespace detail

// Runs `work` on `pool` (usually ThreadPool::shared()) and then posts `completion` to `target`
// (the main executor in the app, a ManualExecutor in tests). The completion receives a ready
// std::future holding work's value or the exception it threw: get() returns the one or rethrows
// the other, on the target's thread. A throwing work reaches the completion like a returning
// one.
//
// `work` and `completion` must be copyable (executors hold std::function). `target` must
// outlive the work; cancellation is the work's own business (a CancellationToken it captures).
template <class Work, class Completion>
void runInBackground(Executor &pool, Work work, Executor &target, Completion completion) {
  using Value = std::invoke_result_t<Work &>;
  pool.post([work = std::move(work), &target, completion = std::move(completion)]() mutable {
    auto outcome = std::make_shared<std::promise<Value>>();
    detail::fulfil(*outcome, work);
    target.post([outcome, completion = std::move(completion)]() mutable {
      completion(outcome->get_future());
    });
  });
}

// Posts `call(owner)` to `target` for the owner to run there while it lives. Safe from any
// thread: both are held weakly, so a call made from a worker never keeps the owner alive on it;
// the owner is locked, used and released on the target's thread.
template <class Owner, class Call>
void postToOwner(const std::weak_ptr<Executor> &target, std::weak_ptr<Owner> owner, Call call) {
  const auto executor = target.lock();
  if (!executor) {
    return;
  }
  executor->post([owner = std::move(owner), call = std::move(call)]() mutable {
    if (const auto strong = owner.lock()) {
      call(*strong);
    }
  });
}

// Runs `call(owner)` on `pool` while `owner` lives: the pool holds it weakly until the call
// starts and strongly only while it runs.
template <class Owner, class Call>
void postToOwner(Executor &pool, std::weak_ptr<Owner> owner, Call call) {
  pool.post([owner = std::move(owner), call = std::move(call)]() mutable {
    if (const auto strong = owner.lock()) {
      call(*strong);
    }
  });
}

// Work posted to a pool by an owner that is not itself shared (an object, or a function's frame
// the work borrows): the pool holds the scope's state weakly, work starts only while the scope
// is open, and closing it waits for the work already running, while work not yet started is
// dropped unrun. Close it (or let it be destroyed) before anything the work points at goes: as
// the owner's destructor's first step, or as a local declared after what the work borrows. So
// no posted work outlives what it points at. Must not be closed from inside its own work.
class BackgroundScope {
public:
  BackgroundScope() : state_(std::make_shared<State>()) {}
  ~BackgroundScope() { close(); }
  BackgroundScope(const BackgroundScope &) = delete;
  BackgroundScope &operator=(const BackgroundScope &) = delete;

  // Runs `work` on `pool` unless the scope is closed by the time a worker takes it up.
  void post(Executor &pool, std::function<void()> work) {
    pool.post([weak = std::weak_ptr<State>(state_), work = std::move(work)] {
      const auto state = weak.lock();
      if (!state || !state->enter()) {
        return;
      }
      struct Leave {
        State &state;
        ~Leave() { state.leave(); }
      } leave{*state};
      work();
    });
  }

  // The same for a caller that waits: the future holds work's value or the exception it threw;
  // work dropped unrun leaves it broken (std::future_errc::broken_promise).
  template <class Work> auto run(Executor &pool, Work work) {
    using Value = std::invoke_result_t<Work &>;
    auto outcome = std::make_shared<std::promise<Value>>();
    auto future = outcome->get_future();
    post(pool, [outcome, work = std::move(work)]() mutable { detail::fulfil(*outcome, work); });
    return future;
  }

  // No work starts from now on; returns once the work already running has returned.
  void close() {
    std::unique_lock lock(state_->mutex);
    state_->open = false;
    state_->idle.wait(lock, [&] { return state_->running == 0; });
  }

private:
  struct State {
    std::mutex mutex;
    std::condition_variable idle;
    bool open = true;
    std::size_t running = 0;

    bool enter() {
      std::lock_guard lock(mutex);
      running += open ? 1 : 0;
      return open;
    }
    void leave() {
      std::lock_guard lock(mutex);
      if (--running == 0) {
        idle.notify_all();
      }
    }
  };

  std::shared_ptr<State> state_;
};

// Runs `beside` on `pool` while the caller runs `here`, and returns once both are done. When no
// worker has taken `beside` up by the time `here` returns, the caller runs it itself, so a busy
// pool (or a caller that is itself on the pool) never leaves it waiting. `beside` may borrow
// the caller's frame: it never runs after this returns. The exception of `here`, else that of
// `beside`, is rethrown.
template <class Beside, class Here> void runBeside(Executor &pool, Beside beside, Here here) {
  struct Shared {
    std::mutex mutex;
    bool taken = false;
    bool take() {
      std::lock_guard lock(mutex);
      return !std::exchange(taken, true);
    }
  };
  const auto shared = std::make_shared<Shared>();
  std::promise<void> outcome;
  std::future<void> done = outcome.get_future();
  BackgroundScope scope;
  scope.post(pool, [&] {
    if (shared->take()) {
      detail::fulfil(outcome, beside);
    }
  });
  std::exception_ptr failure;
  try {
    here();
  } catch (...) {
    failure = std::current_exception();
  }
  if (shared->take()) {
    if (failure) {
      std::rethrow_exception(failure);
    }
    beside();
    return;
  }
  done.wait();
  if (failure) {
    std::rethrow_exception(failure);
  }
  done.get();
}

// Runs `work` on `pool`, then calls `completion(owner, outcome)` on `target` while `owner`
// still lives; `outcome` is a ready std::future as above. This is the form for an owner that
// is destroyed on its own thread (and may own `pool`): the pool's side holds the owner and the
// target weakly, and `work` and `completion` must not own the owner either (the completion is
// handed it). The completion is moved to the target and released there after it ran; when the
// target is gone first it is dropped unrun on the pool's thread.
template <class Owner, class Work, class Completion>
void runInBackground(Executor &pool, Work work, const std::shared_ptr<Executor> &target,
                     std::weak_ptr<Owner> owner, Completion completion) {
  using Value = std::invoke_result_t<Work &>;
  pool.post([work = std::move(work), target = std::weak_ptr<Executor>(target),
             owner = std::move(owner), completion = std::move(completion)]() mutable {
    auto outcome = std::make_shared<std::promise<Value>>();
    detail::fulfil(*outcome, work);
    postToOwner(target, std::move(owner),
                [outcome, completion = std::move(completion)](Owner &strong) mutable {
                  completion(strong, outcome->get_future());
                });
  });
}

// Runs `work` on `pool` for a caller that waits for it instead: the future holds work's value
// or the exception it threw. Unlike std::async's, the future does not wait when destroyed.
template <class Work> auto runOnPool(Executor &pool, Work work) {
  using Value = std::invoke_result_t<Work &>;
  auto outcome = std::make_shared<std::promise<Value>>();
  auto future = outcome->get_future();
  pool.post([outcome, work = std::move(work)]() mutable { detail::fulfil(*outcome, work); });
  return future;
}

} // namespace platform
