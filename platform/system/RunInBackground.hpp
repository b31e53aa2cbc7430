#pragma once

#include "platform/system/Executor.hpp"

#include <exception>
#include <future>
#include <memory>
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
