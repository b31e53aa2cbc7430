// Live recording, devices and permission of AudioProcessor.
#include "DivuvovIze/Audio/AudioProcessor.hpp"

#include "DivuvovIze/Models/ModelsLog.hpp"
#include "DivuvovIze/Models/NumberFormatting.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <utility>

namespace divuvovize {

namespace {

constexpr double kSampleRate = 16000;
// Energy entries the relative level is measured against; fixed, whatever the window setting.
constexpr std::size_t kReferenceEntries = 20;

} // namespace

struct AudioProcessor::Live {
  explicit Live(std::shared_ptr<platform::AudioInputSystem> system) : input(std::move(system)) {}

  // Null: the process's audio input, reached when a recording starts.
  const std::shared_ptr<platform::AudioInputSystem> input;

  // The take and the settings, shared between the tap and readers.
  mutable std::mutex dataMutex;
  std::vector<float> samples;
  std::vector<AudioEnergyEntry> energy;
  AudioBufferCallback callback;
  int relativeEnergyWindow = 20;
  std::uint32_t minBufferLength = 1600;
  bool inputSuppressed = false;

  // The engine, held by the control calls; the tap never takes this lock. Order: control, then
  // data.
  std::mutex controlMutex;
  std::unique_ptr<platform::AudioInputEngine> engine;
  // The engine's converter to 16 kHz mono, used by the tap while the engine runs and drained
  // by the control calls once it has stopped.
  std::shared_ptr<platform::AudioConverter> converter;
  std::optional<DeviceID> lastInputDevice;
  std::weak_ptr<AudioBufferStream> stream;

  platform::AudioInputSystem &system() {
    return input ? *input : *platform::AudioInputSystem::shared();
  }

  void suppressIfNeeded(std::vector<float> &buffer) const {
    std::lock_guard lock(dataMutex);
    if (inputSuppressed) {
      std::fill(buffer.begin(), buffer.end(), 0.0f);
    }
  }

  void processBuffer(const std::vector<float> &buffer) {
    AudioEnergyEntry entry;
    AudioBufferCallback notify;
    std::size_t count = 0;
    std::uint64_t cadence = 0;
    {
      std::lock_guard lock(dataMutex);
      samples.insert(samples.end(), buffer.begin(), buffer.end());
      float reference = std::numeric_limits<float>::infinity();
      const std::size_t from =
          energy.size() > kReferenceEntries ? energy.size() - kReferenceEntries : 0;
      for (std::size_t i = from; i < energy.size(); ++i) {
        reference = std::min(reference, energy[i].avg);
      }
      const AudioEnergy measured = AudioProcessor::calculateEnergy(buffer);
      entry = {AudioProcessor::calculateRelativeEnergy(buffer, std::max(reference, 1e-8f)),
               measured.avg, measured.max, measured.min};
      energy.push_back(entry);
      notify = callback;
      count = samples.size();
      cadence = static_cast<std::uint64_t>(minBufferLength) *
                static_cast<std::uint64_t>(std::abs(relativeEnergyWindow));
    }
    if (notify) {
      notify(buffer);
    }
    if (cadence != 0 && count % cadence == 0 && modelslog::debugEnabled()) {
      modelslog::debug("Current audio size: " + std::to_string(count) +
                       " samples, most recent buffer: " + std::to_string(buffer.size()) +
                       " samples, most recent energy: (" + numbers::describe(entry.rel) + ", " +
                       numbers::describe(entry.avg) + ", " + numbers::describe(entry.max) + ", " +
                       numbers::describe(entry.min) + ")");
    }
  }

  // The tap: converts a captured buffer and processes it. Holds the processor weakly.
  static void tap(const std::weak_ptr<Live> &weak,
                  const std::shared_ptr<platform::AudioConverter> &converter,
                  const std::shared_ptr<const platform::PcmBuffer> &captured) {
    const auto live = weak.lock();
    if (!live) {
      return;
    }
    std::shared_ptr<const platform::PcmBuffer> buffer = captured;
    if (captured->format().sampleRate() != kSampleRate) {
      try {
        buffer = AudioProcessor::resampleStreamBuffer(captured, *converter);
      } catch (const std::exception &error) {
        modelslog::error(std::string("Failed to resample buffer: ") + error.what());
        return;
      }
    }
    std::vector<float> samples = AudioProcessor::convertBufferToArray(*buffer, 1024);
    live->suppressIfNeeded(samples);
    live->processBuffer(samples);
  }

  // Builds an engine on the device with its tap installed, not started. Throws WhisperError.
  std::pair<std::unique_ptr<platform::AudioInputEngine>, std::shared_ptr<platform::AudioConverter>>
  setupEngine(AudioProcessor &processor, std::optional<DeviceID> inputDeviceID) {
    auto made = system().makeEngine();
    if (inputDeviceID) {
      processor.assignAudioInput(*made, *inputDeviceID);
    }
    const auto nodeFormat = made->inputFormat();
    if (!nodeFormat) {
      throw WhisperError::audioProcessingFailed("Failed to create node format");
    }
    const auto desired = platform::AudioFormat::standard(kSampleRate, 1);
    if (!desired) {
      throw WhisperError::audioProcessingFailed("Failed to create desired format");
    }
    std::shared_ptr<platform::AudioConverter> made16k =
        platform::AudioConverter::make(*nodeFormat, *desired);
    if (!made16k) {
      throw WhisperError::audioProcessingFailed("Failed to create audio converter");
    }
    std::uint32_t bufferSize = 0;
    {
      std::lock_guard lock(dataMutex);
      bufferSize = minBufferLength;
    }
    std::weak_ptr<Live> weak = processor.live_;
    made->installTap(bufferSize, [weak, made16k](std::shared_ptr<const platform::PcmBuffer> b) {
      tap(weak, made16k, b);
    });
    return {std::move(made), std::move(made16k)};
  }

  // Stops the engine (the tap is not running once this returns), drains the converter's tail
  // into the take and releases both. Called with controlMutex held.
  void retireEngine() {
    if (!engine) {
      return;
    }
    engine->stop();
    engine->removeTap();
    engine.reset();
    if (converter && converter->inputFormat().sampleRate() != kSampleRate) {
      try {
        std::vector<float> tail = AudioProcessor::drainConverter(*converter);
        if (!tail.empty()) {
          suppressIfNeeded(tail);
          processBuffer(tail);
        }
      } catch (const std::exception &error) {
        modelslog::error(std::string("Failed to resample buffer: ") + error.what());
      }
    }
    converter.reset();
  }

  // Stops the recording; returns the streaming recording's stream to finish, outside the lock.
  std::shared_ptr<AudioBufferStream> stop() {
    std::lock_guard lock(controlMutex);
    if (!engine) {
      return nullptr;
    }
    retireEngine();
    return stream.lock();
  }
};

AudioProcessor::AudioProcessor() : AudioProcessor(nullptr) {}

AudioProcessor::AudioProcessor(std::shared_ptr<platform::AudioInputSystem> input)
    : live_(std::make_shared<Live>(std::move(input))) {}

AudioProcessor::~AudioProcessor() { stopRecording(); }

std::vector<float> AudioProcessor::audioSamples() const {
  std::lock_guard lock(live_->dataMutex);
  return live_->samples;
}

std::size_t AudioProcessor::audioSampleCount() const {
  std::lock_guard lock(live_->dataMutex);
  return live_->samples.size();
}

void AudioProcessor::purgeAudioSamples(std::size_t keepingLast) {
  std::lock_guard lock(live_->dataMutex);
  auto &samples = live_->samples;
  if (samples.size() > keepingLast) {
    samples.erase(samples.begin(),
                  samples.begin() + static_cast<std::ptrdiff_t>(samples.size() - keepingLast));
  }
}

std::vector<AudioEnergyEntry> AudioProcessor::audioEnergy() const {
  std::lock_guard lock(live_->dataMutex);
  return live_->energy;
}

std::vector<float> AudioProcessor::relativeEnergy() const {
  std::lock_guard lock(live_->dataMutex);
  std::vector<float> relative;
  relative.reserve(live_->energy.size());
  for (const auto &entry : live_->energy) {
    relative.push_back(entry.rel);
  }
  return relative;
}

int AudioProcessor::relativeEnergyWindow() const {
  std::lock_guard lock(live_->dataMutex);
  return live_->relativeEnergyWindow;
}

void AudioProcessor::setRelativeEnergyWindow(int window) {
  std::lock_guard lock(live_->dataMutex);
  live_->relativeEnergyWindow = window;
}

std::uint32_t AudioProcessor::minBufferLength() const {
  std::lock_guard lock(live_->dataMutex);
  return live_->minBufferLength;
}

void AudioProcessor::setMinBufferLength(std::uint32_t frames) {
  std::lock_guard lock(live_->dataMutex);
  live_->minBufferLength = frames;
}

bool AudioProcessor::isInputSuppressed() const {
  std::lock_guard lock(live_->dataMutex);
  return live_->inputSuppressed;
}

void AudioProcessor::setInputSuppressed(bool suppressed) {
  std::lock_guard lock(live_->dataMutex);
  live_->inputSuppressed = suppressed;
}

void AudioProcessor::suppressInputIfNeeded(std::vector<float> &buffer) const {
  live_->suppressIfNeeded(buffer);
}

AudioBufferCallback AudioProcessor::audioBufferCallback() const {
  std::lock_guard lock(live_->dataMutex);
  return live_->callback;
}

void AudioProcessor::setAudioBufferCallback(AudioBufferCallback callback) {
  std::lock_guard lock(live_->dataMutex);
  live_->callback = std::move(callback);
}

std::optional<DeviceID> AudioProcessor::lastInputDevice() const {
  std::lock_guard lock(live_->controlMutex);
  return live_->lastInputDevice;
}

bool AudioProcessor::hasAudioEngine() const {
  std::lock_guard lock(live_->controlMutex);
  return live_->engine != nullptr;
}

void AudioProcessor::processBuffer(const std::vector<float> &buffer) {
  live_->processBuffer(buffer);
}

void AudioProcessor::startRecordingLive(std::optional<DeviceID> inputDeviceID,
                                        AudioBufferCallback callback) {
  {
    std::lock_guard control(live_->controlMutex);
    // An earlier take's engine stops before the new take begins.
    live_->retireEngine();
    // The earlier take's stream ends with its take; its handler must not stop the new one.
    if (const auto previous = live_->stream.lock()) {
      previous->setOnTermination(nullptr);
      previous->finish();
    }
    live_->stream.reset();
    {
      std::lock_guard data(live_->dataMutex);
      live_->samples.clear();
      live_->energy.clear();
    }
    auto [engine, converter] = live_->setupEngine(*this, inputDeviceID);
    // The callback is in place before the first buffer arrives; a failed start puts the old
    // one back, so a failure changes nothing but the emptied take.
    AudioBufferCallback old;
    {
      std::lock_guard data(live_->dataMutex);
      old = std::exchange(live_->callback, std::move(callback));
    }
    try {
      engine->start();
    } catch (...) {
      std::lock_guard data(live_->dataMutex);
      live_->callback = std::move(old);
      throw;
    }
    live_->engine = std::move(engine);
    live_->converter = std::move(converter);
    live_->lastInputDevice = inputDeviceID;
  }
}

std::shared_ptr<AudioBufferStream>
AudioProcessor::startStreamingRecordingLive(std::optional<DeviceID> inputDeviceID) {
  auto stream = std::make_shared<AudioBufferStream>();
  std::weak_ptr<Live> weak = live_;
  stream->setOnTermination([weak] {
    if (const auto live = weak.lock()) {
      {
        std::lock_guard lock(live->dataMutex);
        live->callback = nullptr;
      }
      live->stop();
    }
  });
  try {
    startRecordingLive(inputDeviceID,
                       [stream](const std::vector<float> &buffer) { stream->yield(buffer); });
    std::lock_guard lock(live_->controlMutex);
    live_->stream = stream;
  } catch (...) {
    stream->finish(std::current_exception());
  }
  return stream;
}

void AudioProcessor::pauseRecording() {
  std::lock_guard lock(live_->controlMutex);
  if (live_->engine) {
    live_->engine->pause();
  }
}

void AudioProcessor::resumeRecordingLive(std::optional<DeviceID> inputDeviceID,
                                         AudioBufferCallback callback) {
  {
    std::lock_guard lock(live_->controlMutex);
    const bool sameDevice = inputDeviceID == live_->lastInputDevice;
    if (sameDevice) {
      if (live_->engine) {
        live_->engine->start();
      }
    } else {
      // The old device's take ends here, tail included; the new device continues it.
      live_->retireEngine();
      auto [engine, converter] = live_->setupEngine(*this, inputDeviceID);
      engine->start();
      live_->engine = std::move(engine);
      live_->converter = std::move(converter);
    }
  }
  if (callback) {
    setAudioBufferCallback(std::move(callback));
  }
}

void AudioProcessor::stopRecording() {
  if (const auto stream = live_->stop()) {
    stream->finish();
  }
}

std::vector<AudioDevice> AudioProcessor::getAudioDevices() {
  return getAudioDevices(*platform::AudioInputSystem::shared());
}

std::vector<AudioDevice> AudioProcessor::getAudioDevices(platform::AudioInputSystem &input) {
  std::vector<platform::AudioDeviceDescription> listed;
  try {
    listed = input.devices();
  } catch (const std::exception &) {
    modelslog::error("Error: Unable to get the number of audio devices.");
    return {};
  }
  std::vector<AudioDevice> devices;
  for (const auto &device : listed) {
    // Output-only devices have no input channels and are left out.
    if (device.inputChannelCount >= 1) {
      devices.push_back({device.id, device.name});
    }
  }
  return devices;
}

void AudioProcessor::assignAudioInput(platform::AudioInputEngine &inputNode,
                                      DeviceID inputDeviceID) {
  const int status = inputNode.selectInputDevice(inputDeviceID);
  if (status != 0) {
    modelslog::error("Error setting Audio Unit property: " + std::to_string(status));
  } else {
    modelslog::info("Successfully set input device.");
  }
}

bool AudioProcessor::requestRecordPermission() {
  return requestRecordPermission(*platform::AudioInputSystem::shared());
}

bool AudioProcessor::requestRecordPermission(platform::AudioInputSystem &input) {
  return input.requestRecordPermission();
}

} // namespace divuvovize
