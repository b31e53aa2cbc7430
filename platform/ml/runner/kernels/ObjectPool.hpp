#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform::runner {

// A free list of reusable objects (scratch buffers, workspaces), so repeated calls reuse memory
// instead of allocating, while concurrent calls each get their own object. Thread-safe.
template <class T> class ObjectPool {
public:
  explicit ObjectPool(std::function<std::unique_ptr<T>()> make) : make_(std::move(make)) {}

  // Returns its object to the pool when destroyed.
  class Lease {
  public:
    Lease(ObjectPool &pool, std::unique_ptr<T> object) : pool_(pool), object_(std::move(object)) {}
    ~Lease() { pool_.giveBack(std::move(object_)); }
    Lease(const Lease &) = delete;
    Lease &operator=(const Lease &) = delete;
    T &operator*() const { return *object_; }
    T *operator->() const { return object_.get(); }

  private:
    ObjectPool &pool_;
    std::unique_ptr<T> object_;
  };

  // An idle object, or a new one when all are in use.
  Lease acquire() {
    {
      std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        auto object = std::move(idle_.back());
        idle_.pop_back();
        return Lease(*this, std::move(object));
      }
    }
    return Lease(*this, make_());
  }

private:
  void giveBack(std::unique_ptr<T> object) {
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(object));
  }

  std::function<std::unique_ptr<T>()> make_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<T>> idle_;
};

} // namespace platform::runner
