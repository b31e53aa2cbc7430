// Loading and resampling speed of audio files, as a real-time factor: seconds of audio turned
// into 16 kHz mono samples per second of wall time (higher is faster).
#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "platform/audio/AudioConverter.hpp"
#include "platform/audio/AudioFile.hpp"

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <unistd.h>

#include <benchmark/benchmark.h>

namespace {

constexpr double kSeconds = 600;
constexpr double kRate = 44100;

// A 10-minute 44.1 kHz stereo 16-bit WAV file of two tones, written once per process and
// removed at exit.
class Fixture {
public:
  Fixture() {
    path_ = std::filesystem::temp_directory_path() /
            ("mq-bench-audio-" + std::to_string(::getpid()) + ".wav");
    auto file =
        platform::AudioFile::createForWriting(path_, {platform::AudioFileType::wav, kRate, 2});
    constexpr std::uint32_t kBlock = 1 << 16;
    auto buffer = platform::PcmBuffer::make(file->processingFormat(), kBlock);
    const auto total = static_cast<std::int64_t>(kSeconds * kRate);
    for (std::int64_t first = 0; first < total; first += kBlock) {
      const auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(kBlock, total - first));
      for (std::uint32_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(first + i) / kRate;
        buffer->floatChannelData(0)[i] =
            static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 440 * t));
        buffer->floatChannelData(1)[i] =
            static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 1000 * t));
      }
      buffer->setFrameLength(n);
      file->write(*buffer);
    }
    file->close();
  }
  ~Fixture() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  const std::filesystem::path &path() const { return path_; }

private:
  std::filesystem::path path_;
};

const Fixture &fixture() {
  static const Fixture instance;
  return instance;
}

void reportRealTime(benchmark::State &state) {
  state.counters["realtime_factor"] = benchmark::Counter(
      kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The whole road: open, read in pieces, mix both channels down, resample to 16 kHz.
void BM_LoadAndResampleTenMinutesStereo(benchmark::State &state) {
  const std::string path = fixture().path().string();
  for (auto _ : state) {
    auto samples = divuvovize::AudioProcessor::loadAudioAsFloatArray(path);
    benchmark::DoNotOptimize(samples.data());
  }
  reportRealTime(state);
}
BENCHMARK(BM_LoadAndResampleTenMinutesStereo)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reading and decoding only, for comparison: what the file system and the codec cost.
void BM_ReadTenMinutesStereo(benchmark::State &state) {
  for (auto _ : state) {
    auto file = platform::AudioFile::openForReading(fixture().path());
    auto buffer = platform::PcmBuffer::make(file->processingFormat(), 1323000);
    do {
      file->read(*buffer, buffer->frameCapacity());
      benchmark::DoNotOptimize(buffer->floatChannelData(0));
    } while (buffer->frameLength() > 0);
  }
  reportRealTime(state);
}
BENCHMARK(BM_ReadTenMinutesStereo)->Unit(benchmark::kMillisecond)->UseRealTime();

// Resampling only: 10 minutes of mono 44.1 kHz in memory through one converter.
void BM_ResampleTenMinutesMono(benchmark::State &state) {
  const auto input = platform::PcmBuffer::make(*platform::AudioFormat::standard(kRate, 1), 1323000);
  for (std::uint32_t i = 0; i < input->frameCapacity(); ++i) {
    input->floatChannelData(0)[i] =
        static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 440 * i / kRate));
  }
  input->setFrameLength(input->frameCapacity());
  const int pieces = static_cast<int>(kSeconds * kRate / input->frameCapacity());
  auto output = platform::PcmBuffer::make(*platform::AudioFormat::standard(16000, 1), 1 << 20);
  for (auto _ : state) {
    auto converter = platform::AudioConverter::make(input->format(), output->format());
    int fed = 0;
    std::string error;
    auto status = platform::AudioConverterOutputStatus::haveData;
    while (status != platform::AudioConverterOutputStatus::endOfStream) {
      status = converter->convert(*output, error, [&](std::uint32_t) {
        if (fed++ < pieces) {
          return platform::AudioConverterInput{input,
                                               platform::AudioConverterInputStatus::haveData};
        }
        return platform::AudioConverterInput{nullptr,
                                             platform::AudioConverterInputStatus::endOfStream};
      });
      benchmark::DoNotOptimize(output->floatChannelData(0));
    }
  }
  reportRealTime(state);
}
BENCHMARK(BM_ResampleTenMinutesMono)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
