// The desktop app as a user runs it, with one stand-in: the microphone hears a steady tone
// instead of a sound card. Prints what main() prints, and on standard output "driver: take of
// 1 s" once a take holds a second of audio and "driver: take ended" when the capture stops.
#include "app/DesktopApp.hpp"
#include "platform/audio/InMemoryMicrophoneEngine.hpp"
#include "platform/ml/LoadMLModel.hpp"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr double kRate = 16000;
constexpr std::uint32_t kBufferFrames = 800; // 50 ms

// Feeds the microphone in real time, as a device would, until stopped.
class ToneSource {
public:
  explicit ToneSource(std::shared_ptr<platform::InMemoryMicrophoneEngine> microphone)
      : microphone_(std::move(microphone)), thread_([this] { run(); }) {}
  ~ToneSource() {
    stop_ = true;
    thread_.join();
  }

private:
  void run() {
    const auto format = *platform::AudioFormat::standard(kRate, 1);
    const auto buffer = platform::PcmBuffer::make(format, kBufferFrames);
    buffer->setFrameLength(kBufferFrames);
    std::uint64_t frame = 0;
    std::uint64_t taken = 0;
    auto next = std::chrono::steady_clock::now();
    while (!stop_) {
      float *samples = buffer->floatChannelData(0);
      for (std::uint32_t i = 0; i < kBufferFrames; ++i, ++frame) {
        samples[i] = 0.3f * static_cast<float>(std::sin(2 * M_PI * 440 * frame / kRate));
      }
      if (microphone_->push(*buffer)) {
        taken += kBufferFrames;
        if (taken == static_cast<std::uint64_t>(kRate)) {
          std::printf("driver: take of 1 s\n");
          std::fflush(stdout);
        }
      } else if (taken > 0) {
        taken = 0;
        std::printf("driver: take ended\n");
        std::fflush(stdout);
      }
      next += std::chrono::milliseconds(50);
      std::this_thread::sleep_until(next);
    }
  }

  std::shared_ptr<platform::InMemoryMicrophoneEngine> microphone_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

} // namespace

int main(int argc, char **argv) {
  try {
    platform::startMLRunner();
  } catch (const std::exception &) {
  }
  murmurquill::DesktopApp::Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--model-folder") {
      options.modelFolder = argv[i + 1];
    }
  }
  options.arguments.assign(argv, argv + argc);
  auto microphone = std::make_shared<platform::InMemoryMicrophoneEngine>(
      platform::AudioFormat::standard(kRate, 1));
  options.microphone = microphone;
  ToneSource tone(microphone);
  try {
    murmurquill::DesktopApp::run(options);
  } catch (const std::exception &error) {
    std::fprintf(stderr, "murmurquill: %s\n", error.what());
    return 1;
  }
  return 0;
}
