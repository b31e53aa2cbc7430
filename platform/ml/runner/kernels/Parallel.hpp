#pragma once

#include <cstddef>
#include <utility>

namespace platform::runner {

// Sets the number of threads parallelFor may use (the caller included). Takes effect only before
// the first parallelFor; later calls are ignored so the pool is sized once per process.
// 0 means one per hardware thread the process may run on (its CPU affinity).
void setParallelThreadCount(std::size_t count);

// The number of threads parallelFor uses (at least 1). Fixes the count if it was not set yet.
std::size_t parallelThreadCount();

namespace detail {
using RangeFunction = void (*)(void *context, std::size_t begin, std::size_t end);
void parallelForImpl(std::size_t begin, std::size_t end, std::size_t grain,
                     std::size_t chunksPerThread, RangeFunction function, void *context);
} // namespace detail

// The most chunks a thread parallelFor cuts a loop into (see its chunksPerThread).
inline constexpr std::size_t kMaxChunksPerThread = 16;

// Runs f(chunkBegin, chunkEnd) over disjoint chunks covering [begin, end), each at least `grain`
// long except possibly the last, on the calling thread and the shared worker pool. Blocks until
// every chunk has run. Runs serially (one call f(begin, end)) when the range is not longer than
// `grain`, when called from inside another parallelFor, or when the pool has one thread.
// The first exception thrown by f is rethrown here after all started chunks finished.
// Never allocates. Cuts at most `chunksPerThread` chunks a thread (1 to kMaxChunksPerThread): a
// few balance uneven chunk costs, and a long loop whose chunks each take long asks for more, so
// its end does not wait long on the last one.
template <class F>
void parallelFor(std::size_t begin, std::size_t end, std::size_t grain, F &&f,
                 std::size_t chunksPerThread = 4) {
  auto trampoline = [](void *context, std::size_t chunkBegin, std::size_t chunkEnd) {
    (*static_cast<std::remove_reference_t<F> *>(context))(chunkBegin, chunkEnd);
  };
  detail::parallelForImpl(begin, end, grain, chunksPerThread, trampoline,
                          const_cast<void *>(static_cast<const void *>(&f)));
}

} // namespace platform::runner
