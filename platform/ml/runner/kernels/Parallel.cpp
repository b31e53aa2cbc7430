#include "platform/ml/runner/kernels/Parallel.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <sched.h>
#include <thread>
#include <vector>

namespace platform::runner {
namespace {

constexpr int kSpins = 2000;

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Set while a thread runs chunks of a parallelFor, so nested calls run serially instead of
// waiting on workers that may all be busy with the outer call.
thread_local bool insideParallelFor = false;

struct Job {
  detail::RangeFunction function = nullptr;
  void *context = nullptr;
  std::size_t begin = 0;
  std::size_t chunk = 0;
  std::size_t chunkCount = 0;
  std::atomic<std::size_t> nextChunk{0};
  std::atomic<std::size_t> workersOn{0}; // workers that took the job and have not left it
  std::exception_ptr error;
  std::mutex errorMutex;
  std::size_t end = 0;
  Job *next = nullptr;

  // Runs chunks until none is left; returns when this thread can claim no more.
  void work() {
    for (;;) {
      const std::size_t index = nextChunk.fetch_add(1, std::memory_order_relaxed);
      if (index >= chunkCount) {
        return;
      }
      const std::size_t chunkBegin = begin + index * chunk;
      const std::size_t chunkEnd = std::min(end, chunkBegin + chunk);
      try {
        function(context, chunkBegin, chunkEnd);
      } catch (...) {
        std::lock_guard lock(errorMutex);
        if (!error) {
          error = std::current_exception();
        }
      }
    }
  }
};

class Pool {
public:
  explicit Pool(std::size_t threads) : threadCount_(std::max<std::size_t>(1, threads)) {
    for (std::size_t i = 0; i + 1 < threadCount_; ++i) {
      workers_.emplace_back([this] { run(); });
    }
  }

  ~Pool() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (auto &worker : workers_) {
      worker.join();
    }
  }

  std::size_t threadCount() const { return threadCount_; }

  void execute(Job &job) {
    {
      std::lock_guard lock(mutex_);
      job.next = head_;
      head_ = &job;
      posted_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    insideParallelFor = true;
    job.work();
    insideParallelFor = false;
    {
      std::lock_guard lock(mutex_);
      unlink(job); // no worker can take the job from here on
    }
    // Workers that took the job finish their chunks; wait for them before the job leaves scope.
    // They are usually a few microseconds from done, so spin briefly before sleeping.
    auto finished = [&] { return job.workersOn.load(std::memory_order_acquire) == 0; };
    for (int spin = 0; spin < kSpins && !finished(); ++spin) {
      cpuRelax();
    }
    if (!finished()) {
      std::unique_lock lock(mutex_);
      done_.wait(lock, finished);
    }
  }

private:
  void unlink(Job &job) {
    for (Job **link = &head_; *link != nullptr; link = &(*link)->next) {
      if (*link == &job) {
        *link = job.next;
        return;
      }
    }
  }

  void run() {
    insideParallelFor = true;
    std::unique_lock lock(mutex_);
    for (;;) {
      // Chunks are claimed without the lock, so the job found by the wait is the one taken.
      Job *job = firstOpenJob();
      if (job == nullptr && !stopping_) {
        // Loops often follow each other closely (a decoder step runs dozens); a short spin
        // catches the next one without the cost of sleeping and waking.
        const auto seen = posted_.load(std::memory_order_acquire);
        lock.unlock();
        for (int spin = 0; spin < kSpins && posted_.load(std::memory_order_acquire) == seen;
             ++spin) {
          cpuRelax();
        }
        lock.lock();
        wake_.wait(lock, [&] { return stopping_ || (job = firstOpenJob()) != nullptr; });
      }
      if (stopping_) {
        return;
      }
      job->workersOn.fetch_add(1, std::memory_order_relaxed);
      lock.unlock();
      job->work();
      lock.lock();
      // Under the lock, so a caller between its check and its wait cannot miss the wake-up.
      job->workersOn.fetch_sub(1, std::memory_order_release);
      done_.notify_all();
    }
  }

  Job *firstOpenJob() const {
    for (Job *job = head_; job != nullptr; job = job->next) {
      if (job->nextChunk.load(std::memory_order_relaxed) < job->chunkCount) {
        return job;
      }
    }
    return nullptr;
  }

  const std::size_t threadCount_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  Job *head_ = nullptr;
  bool stopping_ = false;
  std::atomic<std::uint64_t> posted_{0};
  std::vector<std::thread> workers_;
};

std::mutex configMutex;
std::size_t requestedThreads = 0;

// The hardware threads this process may run on: fewer than the machine has when it is pinned
// (taskset, a container's CPU set). More threads than that would wait on each other's cores.
std::size_t usableHardwareThreads() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
    return static_cast<std::size_t>(std::max(1, CPU_COUNT(&allowed)));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

Pool &pool() {
  static Pool instance([] {
    std::lock_guard lock(configMutex);
    std::size_t count = requestedThreads;
    if (count == 0) {
      count = usableHardwareThreads();
    }
    return count;
  }());
  return instance;
}

} // namespace

void setParallelThreadCount(std::size_t count) {
  std::lock_guard lock(configMutex);
  requestedThreads = count;
}

std::size_t parallelThreadCount() { return pool().threadCount(); }

namespace detail {

void parallelForImpl(std::size_t begin, std::size_t end, std::size_t grain, RangeFunction function,
                     void *context) {
  if (end <= begin) {
    return;
  }
  const std::size_t length = end - begin;
  grain = std::max<std::size_t>(1, grain);
  if (length <= grain || insideParallelFor) {
    function(context, begin, end);
    return;
  }
  Pool &workers = pool();
  const std::size_t threads = workers.threadCount();
  if (threads == 1) {
    function(context, begin, end);
    return;
  }
  // A few chunks per thread balance uneven chunk costs without making chunks tiny.
  const std::size_t wanted = std::min(length / grain, threads * 4);
  const std::size_t chunk = (length + wanted - 1) / wanted;
  Job job;
  job.function = function;
  job.context = context;
  job.begin = begin;
  job.end = end;
  job.chunk = chunk;
  job.chunkCount = (length + chunk - 1) / chunk;
  workers.execute(job);
  if (job.error) {
    std::rethrow_exception(job.error);
  }
}

} // namespace detail
} // namespace platform::runner
