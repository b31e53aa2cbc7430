#include "DivuvovIze/Audio/AudioBufferStream.hpp"

#include <utility>

namespace divuvovize {

void AudioBufferStream::yield(std::vector<float> buffer) {
  {
    std::lock_guard lock(mutex_);
    if (finished_) {
      return;
    }
    buffers_.push_back(std::move(buffer));
  }
  changed_.notify_all();
}

void AudioBufferStream::finish(std::exception_ptr error) {
  terminate(std::move(error), /*dropBuffers=*/false);
}

void AudioBufferStream::cancel() { terminate(nullptr, /*dropBuffers=*/true); }

void AudioBufferStream::terminate(std::exception_ptr error, bool dropBuffers) {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    if (dropBuffers) {
      buffers_.clear();
    }
    if (finished_) {
      return;
    }
    finished_ = true;
    error_ = std::move(error);
    handler = std::move(onTermination_);
    onTermination_ = nullptr;
  }
  changed_.notify_all();
  if (handler) {
    handler();
  }
}

std::optional<std::vector<float>> AudioBufferStream::next() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return !buffers_.empty() || finished_; });
  if (!buffers_.empty()) {
    auto buffer = std::move(buffers_.front());
    buffers_.pop_front();
    return buffer;
  }
  if (error_) {
    std::rethrow_exception(std::exchange(error_, nullptr));
  }
  return std::nullopt;
}

void AudioBufferStream::setOnTermination(std::function<void()> handler) {
  {
    std::lock_guard lock(mutex_);
    if (!finished_) {
      onTermination_ = std::move(handler);
      return;
    }
  }
  if (handler) {
    handler();
  }
}

bool AudioBufferStream::isFinished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

} // namespace divuvovize
