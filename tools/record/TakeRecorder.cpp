#include "tools/record/TakeRecorder.hpp"

#include "DivuvovIze/Audio/AudioProcessor.hpp"

#include <algorithm>
#include <condition_variable>
#include <future>
#include <mutex>
#include <utility>

namespace murmurquill {

struct TakeRecorder::Progress {
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t recorded = 0;
  bool interrupted = false;
};

TakeRecorder::TakeRecorder(std::shared_ptr<platform::AudioInputSystem> input, std::size_t wanted)
    : wanted_(wanted), processor_(input ? std::make_shared<divuvovize::AudioProcessor>(input)
                                        : std::make_shared<divuvovize::AudioProcessor>()),
      progress_(std::make_shared<Progress>()) {}

TakeRecorder::~TakeRecorder() {
  if (stopping_.joinable()) {
    stopping_.join();
  }
}

void TakeRecorder::start(std::optional<divuvovize::DeviceID> device, LevelCallback level) {
  processor_->startRecordingLive(
      device, [progress = progress_, level = std::move(level)](const std::vector<float> &buffer) {
        if (level) {
          level(buffer);
        }
        std::lock_guard lock(progress->mutex);
        progress->recorded += buffer.size();
        progress->changed.notify_all();
      });
}

TakeEnding TakeRecorder::waitForEnd(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(progress_->mutex);
  const bool ended = progress_->changed.wait_until(
      lock, deadline, [&] { return progress_->recorded >= wanted_ || progress_->interrupted; });
  if (progress_->recorded >= wanted_) {
    return TakeEnding::complete;
  }
  return ended ? TakeEnding::interrupted : TakeEnding::stalled;
}

void TakeRecorder::interrupt() {
  std::lock_guard lock(progress_->mutex);
  progress_->interrupted = true;
  progress_->changed.notify_all();
}

bool TakeRecorder::stop(std::chrono::steady_clock::duration bound) {
  // A stalled sound server can hold the stop for as long as it likes; the take does not wait.
  auto stopped = std::make_shared<std::promise<void>>();
  std::future<void> done = stopped->get_future();
  stopping_ = std::thread([processor = processor_, stopped] {
    processor->stopRecording();
    stopped->set_value();
  });
  return done.wait_for(bound) == std::future_status::ready;
}

std::vector<float> TakeRecorder::samples() const {
  std::vector<float> take = processor_->audioSamples();
  take.resize(std::min(take.size(), wanted_));
  return take;
}

} // namespace murmurquill
