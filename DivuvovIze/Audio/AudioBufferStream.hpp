#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace divuvovize {

// A stream of audio buffers from a live recording to one consumer. The recorder yields into it
// (from the audio thread; yielding never blocks, buffering is unbounded) and finishes it; the
// consumer takes buffers in order with `next`, which blocks. Finishing, with or without an
// error, or cancelling runs the termination handler once, outside the stream's lock.
// Thread-safe.
class AudioBufferStream {
public:
  // Appends a buffer for the consumer; ignored once the stream has finished.
  void yield(std::vector<float> buffer);
  // Ends the stream: the consumer gets the buffers already yielded, then the end (or `error`).
  // Later calls do nothing.
  void finish(std::exception_ptr error = nullptr);
  // The consumer gives up: the stream finishes and drops what it still held.
  void cancel();

  // The next buffer, blocking until there is one or the stream ends; nothing at the end.
  // Throws the finishing error once the buffers before it have been taken.
  std::optional<std::vector<float>> next();

  // Runs once when the stream finishes or is cancelled (at once when it already has).
  void setOnTermination(std::function<void()> handler);
  bool isFinished() const;

private:
  void terminate(std::exception_ptr error, bool dropBuffers);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<float>> buffers_;
  std::exception_ptr error_;
  bool finished_ = false;
  std::function<void()> onTermination_;
};

} // namespace divuvovize
