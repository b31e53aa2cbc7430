#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace deduve {

// Fans states out to any number of subscribers. A new subscriber first receives the latest
// state broadcast so far (or, before any broadcast, the initial state, when that is present)
// and then every later state, in order, without loss (unbounded buffering).
//
// Thread-safety: all methods may be called from any thread. A subscriber's stream may outlive
// the broadcaster; it is finished when the broadcaster is destroyed.
template <class T> class Broadcaster {
public:
  class Stream;

  // `initialState` is asked only when a subscriber arrives before the first broadcast.
  explicit Broadcaster(std::function<std::optional<T>()> initialState = {})
      : initialState_(std::move(initialState)) {}

  ~Broadcaster() {
    std::map<uint64_t, std::shared_ptr<Channel>> channels;
    {
      std::lock_guard guard(mutex_);
      channels.swap(channels_);
    }
    for (auto &[id, channel] : channels) {
      channel->finish();
    }
  }

  Broadcaster(const Broadcaster &) = delete;
  Broadcaster &operator=(const Broadcaster &) = delete;

  void broadcast(const T &state) {
    std::lock_guard guard(mutex_);
    latestState_ = state;
    for (auto it = channels_.begin(); it != channels_.end();) {
      if (!it->second->push(state)) {
        it = channels_.erase(it); // the subscriber went away
      } else {
        ++it;
      }
    }
  }

  // The replayed state is queued before the subscription is stored, under the broadcaster's
  // lock, so no broadcast can slip in ahead of it or be missed.
  std::unique_ptr<Stream> subscribe() {
    auto channel = std::make_shared<Channel>();
    std::lock_guard guard(mutex_);
    if (latestState_) {
      channel->push(*latestState_);
    } else if (initialState_) {
      if (auto initial = initialState_()) {
        channel->push(*initial);
      }
    }
    const uint64_t id = nextId_++;
    channels_.emplace(id, channel);
    return std::unique_ptr<Stream>(new Stream(id, channel));
  }

  void unsubscribe(uint64_t id) {
    std::shared_ptr<Channel> channel;
    {
      std::lock_guard guard(mutex_);
      const auto found = channels_.find(id);
      if (found == channels_.end()) {
        return;
      }
      channel = found->second;
      channels_.erase(found);
    }
    channel->finish();
  }

  std::optional<T> latestState() const {
    std::lock_guard guard(mutex_);
    return latestState_;
  }

private:
  class Channel {
  public:
    // False once the consumer has gone.
    bool push(const T &state) {
      {
        std::lock_guard guard(mutex_);
        if (abandoned_) {
          return false;
        }
        if (finished_) {
          return true;
        }
        queue_.push_back(state);
      }
      ready_.notify_all();
      return true;
    }
    void finish() {
      {
        std::lock_guard guard(mutex_);
        finished_ = true;
      }
      ready_.notify_all();
    }
    void abandon() {
      std::lock_guard guard(mutex_);
      abandoned_ = true;
      queue_.clear();
    }
    std::optional<T> next() {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return !queue_.empty() || finished_; });
      if (queue_.empty()) {
        return std::nullopt;
      }
      T state = std::move(queue_.front());
      queue_.pop_front();
      return state;
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<T> queue_;
    bool finished_ = false;
    bool abandoned_ = false;
  };

public:
  // One subscriber's view: `next` blocks until a state arrives and returns nothing once the
  // stream is finished and drained. Destroying the stream ends the subscription.
  class Stream {
  public:
    ~Stream() { channel_->abandon(); }
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;

    std::optional<T> next() { return channel_->next(); }
    uint64_t id() const { return id_; }

  private:
    friend class Broadcaster;
    Stream(uint64_t id, std::shared_ptr<Channel> channel) : id_(id), channel_(std::move(channel)) {}
    uint64_t id_;
    std::shared_ptr<Channel> channel_;
  };

private:
  mutable std::mutex mutex_;
  std::function<std::optional<T>()> initialState_;
  std::optional<T> latestState_;
  std::map<uint64_t, std::shared_ptr<Channel>> channels_;
  uint64_t nextId_ = 0;
};

} // namespace deduve
