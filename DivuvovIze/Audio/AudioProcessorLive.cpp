// Live recording, devices and permission of AudioProcessor.
#include "DivuvovIze/Audio/AudioProcessor.hpp"

#include "DivuvovIze/Formatting/NumberFormatting.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/system/RunInBackground.hpp"
#include "platform/system/ThreadPool.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <utility>

namespace divuvovize {

namespace {

constexpr double kSampleRate = 16000;
// Energy entries the relative level is measured against; fixed, whatever the window setting.
constexpr std::size_t kReferenceEntries = 20;

// The processor whose tap the current thread is running, and that engine's halt flag: a control
// call made from the buffer callback must not wait for the audio thread it runs on.
struct Tapping {
  const void *live = nullptr;
  const std::shared_ptr<std::atomic<bool>> *halted = nullptr;
};
thread_local Tapping tapping;

void selectDevice(platform::AudioInputEngine &engine, DeviceID inputDeviceID) {
  const int status = engine.selectInputDevice(inputDeviceID);
  if (status != 0) {
    modelslog::error("Error setting Audio Unit property: " + std::to_string(status));
  } else {
    modelslog::info("Successfully set input device.");
  }
}

} // namespace

struct AudioProcessor::Live : std::enable_shared_from_this<AudioProcessor::Live> {
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
  // Set: the current engine's tap delivers nothing (a stop or pause asked from the callback,
  // applied just after on the shared pool).
  std::shared_ptr<std::atomic<bool>> halted;
  std::optional<DeviceID> lastInputDevice;
  std::weak_ptr<AudioBufferStream> stream;
  // Counts control calls; a call deferred from the callback is dropped when a later one came.
  std::atomic<std::uint64_t> controlSequence{0};

  bool onTapThread() const { return tapping.live == this; }

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
                  const std::shared_ptr<std::atomic<bool>> &halted,
                  const std::shared_ptr<const platform::PcmBuffer> &captured) {
    const auto live = weak.lock();
    if (!live || *halted) {
      return;
    }
    struct Marker {
      Tapping previous = tapping;
      ~Marker() { tapping = previous; }
    } marker;
    tapping = {live.get(), &halted};
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

  struct Rig {
    std::unique_ptr<platform::AudioInputEngine> engine;
    std::shared_ptr<platform::AudioConverter> converter;
    std::shared_ptr<std::atomic<bool>> halted;
  };

  // Builds an engine on the device with its tap installed, not started. Throws WhisperError.
  Rig setupEngine(std::optional<DeviceID> inputDeviceID) {
    auto made = system().makeEngine();
    if (inputDeviceID) {
      selectDevice(*made, *inputDeviceID);
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
    auto flag = std::make_shared<std::atomic<bool>>(false);
    std::weak_ptr<Live> weak = weak_from_this();
    made->installTap(bufferSize,
                     [weak, made16k, flag](std::shared_ptr<const platform::PcmBuffer> b) {
                       tap(weak, made16k, flag, b);
                     });
    return {std::move(made), std::move(made16k), std::move(flag)};
  }

  // Makes `rig` the current engine. Called with controlMutex held.
  void install(Rig rig) {
    engine = std::move(rig.engine);
    converter = std::move(rig.converter);
    halted = std::move(rig.halted);
  }

  // A call deferred from the callback: its number, and the engine whose callback asked.
  struct Deferred {
    std::uint64_t sequence = 0;
    std::shared_ptr<std::atomic<bool>> origin;
  };

  // Runs `operation` (which takes controlMutex itself) on the shared pool, after the callback
  // that asked for it has returned; a control call made meanwhile, or the end of the engine
  // that asked, supersedes it.
  void defer(std::function<void(Live &, const Deferred &)> operation) {
    Deferred deferred{++controlSequence, *tapping.halted};
    platform::postToOwner(platform::ThreadPool::shared(), weak_from_this(),
                          [deferred, operation = std::move(operation)](Live &live) {
                            try {
                              operation(live, deferred);
                            } catch (const std::exception &error) {
                              modelslog::error(std::string("Error: ") + error.what());
                            }
                          });
  }

  // Whether `deferred` (nothing: a direct call) still stands. Called with controlMutex held.
  bool current(const std::optional<Deferred> &deferred) const {
    return !deferred || (controlSequence == deferred->sequence && halted == deferred->origin);
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
    halted.reset();
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
  std::shared_ptr<AudioBufferStream> stop(const std::optional<Deferred> &sequence = std::nullopt) {
    std::lock_guard lock(controlMutex);
    if (!engine || !current(sequence)) {
      return nullptr;
    }
    retireEngine();
    return stream.lock();
  }

  void pause(const std::optional<Deferred> &sequence = std::nullopt) {
    std::lock_guard lock(controlMutex);
    if (engine && current(sequence)) {
      engine->pause();
    }
  }

  void start(std::optional<DeviceID> inputDeviceID, AudioBufferCallback callback,
             std::shared_ptr<AudioBufferStream> newStream,
             const std::optional<Deferred> &sequence = std::nullopt);
  void resume(std::optional<DeviceID> inputDeviceID,
              const std::optional<Deferred> &sequence = std::nullopt);
  // Called from the buffer callback: this engine delivers nothing more from now on.
  static void haltTap() {
    if (tapping.halted != nullptr) {
      **tapping.halted = true;
    }
  }
};

void AudioProcessor::Live::start(std::optional<DeviceID> inputDeviceID,
                                 AudioBufferCallback newCallback,
                                 std::shared_ptr<AudioBufferStream> newStream,
                                 const std::optional<Deferred> &sequence) {
  std::lock_guard control(controlMutex);
  if (!current(sequence)) {
    return;
  }
  // An earlier take's engine stops before the new take begins.
  retireEngine();
  // The earlier take's stream ends with its take; its handler must not stop the new one.
  if (const auto previous = stream.lock()) {
    previous->setOnTermination(nullptr);
    previous->finish();
  }
  stream.reset();
  {
    std::lock_guard data(dataMutex);
    samples.clear();
    energy.clear();
  }
  Rig rig = setupEngine(inputDeviceID);
  // The callback is in place before the first buffer arrives; a failed start puts the old
  // one back, so a failure changes nothing but the emptied take.
  AudioBufferCallback old;
  {
    std::lock_guard data(dataMutex);
    old = std::exchange(callback, std::move(newCallback));
  }
  try {
    rig.engine->start();
  } catch (...) {
    std::lock_guard data(dataMutex);
    callback = std::move(old);
    throw;
  }
  install(std::move(rig));
  lastInputDevice = inputDeviceID;
  stream = newStream;
}

void AudioProcessor::Live::resume(std::optional<DeviceID> inputDeviceID,
                                  const std::optional<Deferred> &sequence) {
  std::lock_guard lock(controlMutex);
  if (!current(sequence)) {
    return;
  }
  if (inputDeviceID == lastInputDevice) {
    if (engine) {
      *halted = false;
      engine->start();
    }
    return;
  }
  // The old device's take ends here, tail included; the new device continues it. When the new
  // device does not start, an engine on the old device waits, not started, for the next resume.
  Rig rig = setupEngine(inputDeviceID);
  const bool hadEngine = engine != nullptr;
  retireEngine();
  try {
    rig.engine->start();
  } catch (...) {
    if (hadEngine) {
      try {
        install(setupEngine(lastInputDevice));
      } catch (const std::exception &error) {
        modelslog::error(std::string("Error: ") + error.what());
      }
    }
    throw;
  }
  install(std::move(rig));
}

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
  startLive(inputDeviceID, std::move(callback), nullptr);
}

void AudioProcessor::startLive(std::optional<DeviceID> inputDeviceID, AudioBufferCallback callback,
                               std::shared_ptr<AudioBufferStream> stream) {
  if (live_->onTapThread()) {
    live_->defer([inputDeviceID, callback, stream](Live &live, const Live::Deferred &sequence) {
      try {
        live.start(inputDeviceID, callback, stream, sequence);
      } catch (...) {
        if (stream) {
          stream->finish(std::current_exception());
        }
        throw;
      }
    });
    return;
  }
  ++live_->controlSequence;
  live_->start(inputDeviceID, std::move(callback), std::move(stream));
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
      if (live->onTapThread()) {
        Live::haltTap();
        live->defer([](Live &l, const Live::Deferred &sequence) { l.stop(sequence); });
        return;
      }
      ++live->controlSequence;
      live->stop();
    }
  });
  try {
    startLive(
        inputDeviceID, [stream](const std::vector<float> &buffer) { stream->yield(buffer); },
        stream);
  } catch (...) {
    stream->finish(std::current_exception());
  }
  return stream;
}

void AudioProcessor::pauseRecording() {
  if (live_->onTapThread()) {
    Live::haltTap();
    live_->defer([](Live &live, const Live::Deferred &sequence) { live.pause(sequence); });
    return;
  }
  ++live_->controlSequence;
  live_->pause();
}

void AudioProcessor::resumeRecordingLive(std::optional<DeviceID> inputDeviceID,
                                         AudioBufferCallback callback) {
  if (callback) {
    setAudioBufferCallback(std::move(callback));
  }
  if (live_->onTapThread()) {
    live_->defer([inputDeviceID](Live &live, const Live::Deferred &sequence) {
      live.resume(inputDeviceID, sequence);
    });
    return;
  }
  ++live_->controlSequence;
  live_->resume(inputDeviceID);
}

void AudioProcessor::stopRecording() {
  if (live_->onTapThread()) {
    Live::haltTap();
    live_->defer([](Live &live, const Live::Deferred &sequence) {
      if (const auto stream = live.stop(sequence)) {
        stream->finish();
      }
    });
    return;
  }
  ++live_->controlSequence;
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
  selectDevice(inputNode, inputDeviceID);
}

bool AudioProcessor::requestRecordPermission() {
  return requestRecordPermission(*platform::AudioInputSystem::shared());
}

bool AudioProcessor::requestRecordPermission(platform::AudioInputSystem &input) {
  return input.requestRecordPermission();
}

} // namespace divuvovize
