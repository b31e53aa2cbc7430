#include "platform/audio/PortAudioInput.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include <dlfcn.h>
#include <portaudio.h>

namespace platform {

namespace {

// Channels opened on a device: the first two at most, as only the first is recorded and
// many "default" devices announce dozens.
int openedChannels(const PaDeviceInfo &info) { return std::min(info.maxInputChannels, 2); }

std::string errorText(PaError error) {
  const char *text = Pa_GetErrorText(error);
  return text != nullptr ? text : "unknown error";
}

void ignoreSoundLibraryError(const char *, int, const char *, int, const char *, ...) {}
void ignoreSoundServerMessage(const char *) {}

// PortAudio probes every ALSA device and the JACK server as it starts, and on a machine without
// a sound card or a JACK server their libraries write 60 to 100 lines of probing failures to
// standard error, burying the program's own lines. They have a hook for that printing: it is
// set to nothing. The libraries come in with PortAudio, so their hooks are looked up among the
// loaded ones, and a PortAudio built without one of them simply has nothing to hook.
void silenceSoundLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    using AlsaHandler = void (*)(const char *, int, const char *, int, const char *, ...);
    using JackHandler = void (*)(const char *);
    if (void *alsa = dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler")) {
      reinterpret_cast<int (*)(AlsaHandler)>(alsa)(ignoreSoundLibraryError);
    }
    for (const char *name : {"jack_set_error_function", "jack_set_info_function"}) {
      if (void *jack = dlsym(RTLD_DEFAULT, name)) {
        reinterpret_cast<void (*)(JackHandler)>(jack)(ignoreSoundServerMessage);
      }
    }
  });
}

PaError initializePortAudio() {
  silenceSoundLibraries();
  return Pa_Initialize();
}

} // namespace

// Reads the stream with PortAudio's blocking API on a capture thread of its own, so the tap
// may take its time (and allocate) without upsetting a real-time callback.
class PortAudioInput::Engine : public AudioInputEngine {
public:
  explicit Engine(int initError) : initError_(initError) {
    if (initError_ == paNoError) {
      device_ = Pa_GetDefaultInputDevice();
    }
  }

  ~Engine() override { stop(); }

  int selectInputDevice(std::uint32_t deviceId) override {
    if (initError_ != paNoError) {
      return initError_;
    }
    if (stream_ != nullptr) {
      return paStreamIsNotStopped;
    }
    if (deviceId >= static_cast<std::uint32_t>(std::max(Pa_GetDeviceCount(), 0))) {
      return paInvalidDevice;
    }
    const PaDeviceInfo *info = Pa_GetDeviceInfo(static_cast<PaDeviceIndex>(deviceId));
    if (info == nullptr || info->maxInputChannels < 1) {
      return paInvalidDevice;
    }
    device_ = static_cast<PaDeviceIndex>(deviceId);
    return 0;
  }

  std::optional<AudioFormat> inputFormat() override {
    const PaDeviceInfo *info = deviceInfo();
    if (info == nullptr || info->maxInputChannels < 1) {
      return std::nullopt;
    }
    return AudioFormat::standard(info->defaultSampleRate,
                                 static_cast<std::uint32_t>(openedChannels(*info)));
  }

  void installTap(std::uint32_t bufferSize, AudioTapBlock block) override {
    std::lock_guard lock(tapMutex_);
    bufferSize_ = std::max<std::uint32_t>(bufferSize, 1);
    tap_ = std::move(block);
  }

  void removeTap() override {
    std::lock_guard lock(tapMutex_);
    tap_ = nullptr;
  }

  void start() override {
    if (capture_.joinable()) {
      return;
    }
    const PaDeviceInfo *info = deviceInfo();
    const auto format = inputFormat();
    if (info == nullptr || !format) {
      throw AudioEngineError(
          "Failed to open audio input device " + deviceName() + ": " +
          (initError_ != paNoError ? errorText(initError_) : std::string("no such input device")));
    }
    if (stream_ == nullptr) {
      PaStreamParameters input{};
      input.device = device_;
      input.channelCount = static_cast<int>(format->channelCount());
      input.sampleFormat = paFloat32 | paNonInterleaved;
      input.suggestedLatency = info->defaultLowInputLatency;
      const PaError opened = Pa_OpenStream(&stream_, &input, nullptr, format->sampleRate(),
                                           bufferSize_, paClipOff, nullptr, nullptr);
      if (opened != paNoError) {
        stream_ = nullptr;
        throw AudioEngineError("Failed to open audio input device " + deviceName() + ": " +
                               errorText(opened));
      }
      format_ = *format;
    }
    if (const PaError started = Pa_StartStream(stream_); started != paNoError) {
      throw AudioEngineError("Failed to start audio input device " + deviceName() + ": " +
                             errorText(started));
    }
    halt_ = false;
    capture_ = std::thread([this] { run(); });
  }

  void pause() override {
    if (!capture_.joinable()) {
      return;
    }
    // The capture thread sees the flag after its current read (one buffer at most).
    halt_ = true;
    capture_.join();
    Pa_StopStream(stream_);
  }

  void stop() override {
    pause();
    if (stream_ != nullptr) {
      Pa_CloseStream(stream_);
      stream_ = nullptr;
    }
  }

private:
  const PaDeviceInfo *deviceInfo() const {
    return initError_ == paNoError && device_ >= 0 ? Pa_GetDeviceInfo(device_) : nullptr;
  }

  std::string deviceName() const {
    const PaDeviceInfo *info = deviceInfo();
    return std::to_string(device_) + " (" + (info && info->name ? info->name : "unknown") + ")";
  }

  void run() {
    const std::uint32_t frames = bufferSize_;
    const std::uint32_t channels = format_->channelCount();
    while (!halt_) {
      auto buffer = PcmBuffer::make(*format_, frames);
      if (!buffer) {
        return;
      }
      void *channelData[2] = {buffer->floatChannelData(0),
                              channels > 1 ? buffer->floatChannelData(1) : nullptr};
      const PaError read = Pa_ReadStream(stream_, channelData, frames);
      // An overflow lost earlier input but this read is good; anything else ends the capture.
      if (read != paNoError && read != paInputOverflowed) {
        return;
      }
      buffer->setFrameLength(frames);
      std::lock_guard lock(tapMutex_);
      if (tap_) {
        tap_(std::move(buffer));
      }
    }
  }

  const int initError_;
  PaDeviceIndex device_ = paNoDevice;
  PaStream *stream_ = nullptr;
  std::optional<AudioFormat> format_;
  std::uint32_t bufferSize_ = 1024;
  std::mutex tapMutex_; // the tap and its buffer size, between the control and capture threads
  AudioTapBlock tap_;
  std::atomic<bool> halt_{false};
  std::thread capture_;
};

PortAudioInput::PortAudioInput() : initError_(initializePortAudio()) {}

PortAudioInput::~PortAudioInput() {
  if (initError_ == paNoError) {
    Pa_Terminate();
  }
}

std::vector<AudioDeviceDescription> PortAudioInput::devices() {
  std::lock_guard lock(mutex_);
  if (initError_ != paNoError) {
    throw AudioEngineError("Cannot list audio devices: " + errorText(initError_));
  }
  const PaDeviceIndex count = Pa_GetDeviceCount();
  if (count < 0) {
    throw AudioEngineError("Cannot list audio devices: " + errorText(count));
  }
  std::vector<AudioDeviceDescription> devices;
  for (PaDeviceIndex index = 0; index < count; ++index) {
    const PaDeviceInfo *info = Pa_GetDeviceInfo(index);
    if (info == nullptr) {
      continue;
    }
    devices.push_back({static_cast<std::uint32_t>(index), info->name ? info->name : "",
                       static_cast<std::uint32_t>(std::max(info->maxInputChannels, 0)),
                       info->defaultSampleRate});
  }
  return devices;
}

std::unique_ptr<AudioInputEngine> PortAudioInput::makeEngine() {
  return std::make_unique<Engine>(initError_);
}

} // namespace platform
