// The take recorder through the in-memory input: a real audio thread plays scripted takes.
// Tests wait for deliveries, never on wall time; a deadline already passed stands for a device
// that went quiet.

#include "tools/record/TakeRecorder.hpp"

#include "platform/audio/InMemoryAudioInput.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

using murmurquill::TakeEnding;
using murmurquill::TakeRecorder;
using platform::InMemoryAudioInput;

constexpr std::uint32_t kMic = 4;
const auto kNever = std::chrono::steady_clock::time_point::max();

// A 16 kHz microphone playing `samples` ramp samples, in buffers of 100 frames.
std::shared_ptr<InMemoryAudioInput> microphone(std::size_t samples) {
  auto input = std::make_shared<InMemoryAudioInput>();
  input->setDevices({{kMic, "Microphone", 1, 16000}});
  std::vector<float> take(samples);
  for (std::size_t i = 0; i < samples; ++i) {
    take[i] = static_cast<float>(i % 1000) / 1000.0f;
  }
  input->setTake(kMic, {take});
  return input;
}

TEST(TakeRecorderTest, ATakeEndsAtItsLength) {
  auto input = microphone(16000);
  TakeRecorder recorder(input, 4000);
  std::size_t levels = 0;
  recorder.start(std::nullopt, [&](const std::vector<float> &) { ++levels; });
  EXPECT_EQ(recorder.waitForEnd(kNever), TakeEnding::complete);
  ASSERT_TRUE(recorder.stop(std::chrono::hours(1)));
  const auto take = recorder.samples();
  ASSERT_EQ(take.size(), 4000u);
  EXPECT_FLOAT_EQ(take[1999], 0.999f);
  EXPECT_GE(levels, 1u);
}

// Control-C: the wait ends at once and what arrived until then is the take.
TEST(TakeRecorderTest, AnInterruptKeepsWhatWasRecorded) {
  auto input = microphone(16000);
  input->setDeliveryLimit(5);
  TakeRecorder recorder(input, 16000);
  recorder.start(std::nullopt, nullptr);
  ASSERT_TRUE(input->waitForBuffers(5));
  recorder.interrupt();
  EXPECT_EQ(recorder.waitForEnd(kNever), TakeEnding::interrupted);
  ASSERT_TRUE(recorder.stop(std::chrono::hours(1)));
  const auto take = recorder.samples();
  EXPECT_GT(take.size(), 0u);
  EXPECT_LT(take.size(), 16000u);
  EXPECT_FLOAT_EQ(take[999], 0.999f);
}

TEST(TakeRecorderTest, ADeviceThatGoesQuietEndsTheTakeAsStalled) {
  auto input = microphone(3000);
  TakeRecorder recorder(input, 16000);
  recorder.start(std::nullopt, nullptr);
  ASSERT_FALSE(input->waitForBuffers(1000)) << "the take is played out";
  EXPECT_EQ(recorder.waitForEnd(std::chrono::steady_clock::now()), TakeEnding::stalled);
  ASSERT_TRUE(recorder.stop(std::chrono::hours(1)));
  EXPECT_EQ(recorder.samples().size(), 3000u);
}

// The in-memory input with engines whose stop hangs until the test lets it go, as a sound
// server that stopped answering does.
class HangingStopInput : public platform::AudioInputSystem {
public:
  explicit HangingStopInput(std::shared_ptr<InMemoryAudioInput> inner) : inner_(std::move(inner)) {}

  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  // Blocks until an engine's stop has begun.
  void waitForStop() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopping_; });
  }

  std::vector<platform::AudioDeviceDescription> devices() override { return inner_->devices(); }
  bool requestRecordPermission() override { return true; }
  std::unique_ptr<platform::AudioInputEngine> makeEngine() override {
    return std::make_unique<Engine>(inner_->makeEngine(), *this);
  }

private:
  class Engine : public platform::AudioInputEngine {
  public:
    Engine(std::unique_ptr<platform::AudioInputEngine> inner, HangingStopInput &owner)
        : inner_(std::move(inner)), owner_(owner) {}
    int selectInputDevice(std::uint32_t id) override { return inner_->selectInputDevice(id); }
    std::optional<platform::AudioFormat> inputFormat() override { return inner_->inputFormat(); }
    void installTap(std::uint32_t size, platform::AudioTapBlock block) override {
      inner_->installTap(size, std::move(block));
    }
    void removeTap() override { inner_->removeTap(); }
    void start() override { inner_->start(); }
    void pause() override { inner_->pause(); }
    void stop() override {
      {
        std::unique_lock lock(owner_.mutex_);
        owner_.stopping_ = true;
        owner_.changed_.notify_all();
        owner_.changed_.wait(lock, [&] { return owner_.released_; });
      }
      inner_->stop();
    }

  private:
    std::unique_ptr<platform::AudioInputEngine> inner_;
    HangingStopInput &owner_;
  };

  std::shared_ptr<InMemoryAudioInput> inner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  bool released_ = false;
};

// The stop gives up on a device that does not answer, and the take is still there to keep.
TEST(TakeRecorderTest, AStopThatHangsIsBoundedAndTheTakeStaysReadable) {
  auto inner = microphone(3000);
  auto input = std::make_shared<HangingStopInput>(inner);
  {
    TakeRecorder recorder(input, 16000);
    recorder.start(std::nullopt, nullptr);
    ASSERT_FALSE(inner->waitForBuffers(1000));
    EXPECT_EQ(recorder.waitForEnd(std::chrono::steady_clock::now()), TakeEnding::stalled);
    EXPECT_FALSE(recorder.stop(std::chrono::seconds(0)));
    input->waitForStop();
    EXPECT_EQ(recorder.samples().size(), 3000u);
    // The server answers at last; the recorder waits for that stop before it goes.
    input->release();
  }
}

} // namespace
