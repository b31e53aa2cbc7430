#include "app/services/AudioCapture.hpp"

#include <algorithm>
#include <cmath>

namespace murmurquill {

namespace {

std::string captureErrorText(AudioCapture::AudioCaptureError::Kind kind, const std::string &cause) {
  using Kind = AudioCapture::AudioCaptureError::Kind;
  switch (kind) {
  case Kind::engineStartFailed:
    return "Audio engine failed to start: " + cause;
  case Kind::microphonePermissionDenied:
    return "Microphone permission denied. Grant access in System Settings \xE2\x86\x92 Privacy & "
           "Security \xE2\x86\x92 Microphone.";
  case Kind::converterSetupFailed:
    return "Could not configure audio converter to 16 kHz mono.";
  case Kind::noInputDevice:
    return "No audio input device: there is no microphone to record from.";
  }
  return {};
}

// Output frames needed for `frames` input frames at `ratio`, with slack for the filter.
std::uint32_t outputCapacity(std::uint32_t frames, double ratio) {
  return static_cast<std::uint32_t>(static_cast<double>(frames) * ratio + 64.0);
}

} // namespace

AudioCapture::AudioCaptureError::AudioCaptureError(Kind kind, const std::string &cause)
    : std::runtime_error(captureErrorText(kind, cause)), kind_(kind) {}

struct AudioCapture::Take {
  Take(std::unique_ptr<platform::AudioConverter> converter, platform::AudioFormat target,
       std::size_t capSamples, LogSink log)
      : converter(std::move(converter)), target(target), capSamples(capSamples),
        log(std::move(log)) {}

  // Converts one tap buffer and appends it (audio thread).
  void convertAndAppend(const platform::PcmBuffer &buffer);
  // Drains the converter's held-back frames into the take, then readies it for a new stream
  // (main thread, with no tap installed).
  void finish();
  // Runs the converter with `input` until it stops producing full buffers, appending all.
  void run(const platform::AudioConverterInputBlock &input);
  void append(const float *samples, std::size_t count);

  // Guards the converter and the output buffer: the tap uses them, and so does finish().
  std::mutex converterMutex;
  std::unique_ptr<platform::AudioConverter> converter;
  std::shared_ptr<platform::PcmBuffer> output;
  const platform::AudioFormat target;

  // Guards the samples and the cap state.
  std::mutex samplesMutex;
  std::vector<float> samples;
  const std::size_t capSamples;
  bool capReached = false;
  // Set on the main thread before a take starts; called (under samplesMutex) once per take.
  std::function<void()> capNotice;

  LogSink log;
};

void AudioCapture::Take::convertAndAppend(const platform::PcmBuffer &buffer) {
  std::lock_guard lock(converterMutex);
  const double ratio = target.sampleRate() / buffer.format().sampleRate();
  const std::uint32_t capacity = outputCapacity(buffer.frameLength(), ratio);
  if (!output || output->frameCapacity() < capacity) {
    output = platform::PcmBuffer::make(target, capacity);
    if (!output) {
      return;
    }
  }
  // The tap's buffer lives for this call only: lend it without ownership.
  const std::shared_ptr<const platform::PcmBuffer> lent(std::shared_ptr<void>(), &buffer);
  bool handedOver = false;
  run([&](std::uint32_t) {
    if (handedOver) {
      return platform::AudioConverterInput{nullptr, platform::AudioConverterInputStatus::noDataNow};
    }
    handedOver = true;
    return platform::AudioConverterInput{lent, platform::AudioConverterInputStatus::haveData};
  });
}

void AudioCapture::Take::finish() {
  std::lock_guard lock(converterMutex);
  if (output) {
    run([](std::uint32_t) {
      return platform::AudioConverterInput{nullptr,
                                           platform::AudioConverterInputStatus::endOfStream};
    });
  }
  // Each take is a stream of its own: no filter state or held-back input crosses takes.
  converter->reset();
}

void AudioCapture::Take::run(const platform::AudioConverterInputBlock &input) {
  for (;;) {
    std::string error;
    const auto status = converter->convert(*output, error, input);
    if (status == platform::AudioConverterOutputStatus::error) {
      if (log) {
        log("[AudioCapture] Conversion error: " + error);
      }
      return;
    }
    append(output->floatChannelData(0), output->frameLength());
    if (status != platform::AudioConverterOutputStatus::haveData) {
      return;
    }
  }
}

void AudioCapture::Take::append(const float *data, std::size_t count) {
  std::lock_guard lock(samplesMutex);
  const std::size_t room = capSamples - std::min(capSamples, samples.size());
  samples.insert(samples.end(), data, data + std::min(count, room));
  if (count > room && !capReached) {
    capReached = true;
    if (capNotice) {
      capNotice();
    }
  }
}

std::shared_ptr<AudioCapture>
AudioCapture::make(std::shared_ptr<platform::MicrophoneEngine> engine,
                   std::shared_ptr<platform::MicrophoneAuthorization> auth,
                   std::shared_ptr<platform::Executor> main, LogSink log, Options options) {
  return std::shared_ptr<AudioCapture>(new AudioCapture(std::move(engine), std::move(auth),
                                                        std::move(main), std::move(log), options));
}

AudioCapture::AudioCapture(std::shared_ptr<platform::MicrophoneEngine> engine,
                           std::shared_ptr<platform::MicrophoneAuthorization> auth,
                           std::shared_ptr<platform::Executor> main, LogSink log, Options options)
    : engine_(std::move(engine)), auth_(std::move(auth)), main_(std::move(main)),
      log_(std::move(log)), options_(options) {}

AudioCapture::~AudioCapture() {
  if (isRecording_) {
    engine_->removeTap();
  }
}

void AudioCapture::prewarm() {
  if (isPrewarmed_) {
    return;
  }
  if (auth_->status() != platform::AuthorizationStatus::authorized) {
    throw AudioCaptureError(AudioCaptureError::Kind::microphonePermissionDenied);
  }
  const auto hardware = engine_->inputFormat();
  if (!hardware) {
    throw AudioCaptureError(AudioCaptureError::Kind::noInputDevice);
  }
  const auto target = platform::AudioFormat::standard(kTargetSampleRate, 1);
  if (!target) {
    throw AudioCaptureError(AudioCaptureError::Kind::converterSetupFailed);
  }
  auto converter = platform::AudioConverter::make(*hardware, *target);
  if (!converter) {
    throw AudioCaptureError(AudioCaptureError::Kind::converterSetupFailed);
  }
  const double cap = std::max(0.0, options_.maxTakeSeconds) * kTargetSampleRate;
  hardwareFormat_ = hardware;
  take_ =
      std::make_shared<Take>(std::move(converter), *target, static_cast<std::size_t>(cap), log_);
  take_->output = platform::PcmBuffer::make(
      *target, outputCapacity(options_.tapBufferSize, kTargetSampleRate / hardware->sampleRate()));
  engine_->prepare();
  try {
    engine_->start();
  } catch (const std::exception &error) {
    throw AudioCaptureError(AudioCaptureError::Kind::engineStartFailed, error.what());
  }
  isPrewarmed_ = true;
}

void AudioCapture::start() {
  if (isRecording_) {
    return;
  }
  if (!isPrewarmed_) {
    prewarm();
  }
  if (!hardwareFormat_ || !take_) {
    throw AudioCaptureError(AudioCaptureError::Kind::converterSetupFailed);
  }
  {
    std::lock_guard lock(take_->samplesMutex);
    take_->samples.clear();
    take_->capReached = false;
    take_->capNotice = [main = main_, weak = weak_from_this()] {
      main->post([weak] {
        const auto capture = weak.lock();
        if (capture && capture->isRecording_ && capture->onLengthCapReached) {
          capture->onLengthCapReached();
        }
      });
    };
  }
  {
    // A stream stopped abnormally (or never drained) must not leak into this take.
    std::lock_guard lock(take_->converterMutex);
    take_->converter->reset();
  }
  engine_->installTap(
      options_.tapBufferSize, *hardwareFormat_,
      [take = take_](const platform::PcmBuffer &buffer) { take->convertAndAppend(buffer); });
  isRecording_ = true;
}

std::vector<float> AudioCapture::stop() {
  if (!isRecording_) {
    return {};
  }
  engine_->removeTap();
  isRecording_ = false;
  take_->finish();
  std::vector<float> taken;
  {
    std::lock_guard lock(take_->samplesMutex);
    taken.swap(take_->samples);
    take_->capNotice = nullptr;
  }
  return taken;
}

} // namespace murmurquill
