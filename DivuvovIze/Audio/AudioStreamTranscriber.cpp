#include "DivuvovIze/Audio/AudioStreamTranscriber.hpp"

#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Models/TextUtilities.hpp"

#include <algorithm>
#include <exception>
#include <thread>
#include <utility>

namespace divuvovize {

namespace {

constexpr float kSampleRate = 16000;
constexpr auto kPassWait = std::chrono::milliseconds(100);
const char *const kWaiting = "Waiting for speech...";

// Characters (code points) of UTF-8 text.
std::size_t characterCount(const std::string &text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// Whether `run` occurs in `segments` as one contiguous stretch.
bool containsRun(const std::vector<TranscriptionSegment> &segments,
                 const std::vector<TranscriptionSegment> &run) {
  return std::search(segments.begin(), segments.end(), run.begin(), run.end()) != segments.end();
}

} // namespace

std::shared_ptr<AudioStreamTranscriber>
AudioStreamTranscriber::make(std::shared_ptr<StreamTranscribing> transcriber,
                             std::shared_ptr<AudioProcessing> audioProcessor,
                             DecodingOptions decodingOptions, Options options,
                             StateChangeCallback stateChangeCallback) {
  return std::shared_ptr<AudioStreamTranscriber>(new AudioStreamTranscriber(
      std::move(transcriber), std::move(audioProcessor), std::move(decodingOptions),
      std::move(options), std::move(stateChangeCallback)));
}

AudioStreamTranscriber::AudioStreamTranscriber(std::shared_ptr<StreamTranscribing> transcriber,
                                               std::shared_ptr<AudioProcessing> audioProcessor,
                                               DecodingOptions decodingOptions, Options options,
                                               StateChangeCallback stateChangeCallback)
    : transcriber_(std::move(transcriber)), audioProcessor_(std::move(audioProcessor)),
      decodingOptions_(std::move(decodingOptions)), options_(std::move(options)),
      stateChangeCallback_(std::move(stateChangeCallback)) {}

AudioStreamTranscriber::State AudioStreamTranscriber::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

bool AudioStreamTranscriber::isRecording() const {
  std::lock_guard lock(mutex_);
  return state_.isRecording;
}

void AudioStreamTranscriber::write(const std::function<void(State &)> &change) {
  {
    std::lock_guard lock(mutex_);
    State before = state_;
    change(state_);
    if (stateChangeCallback_ && !(before == state_)) {
      pendingChanges_.emplace_back(std::move(before), state_);
    }
  }
  stopped_.notify_all();
  reportPending();
}

void AudioStreamTranscriber::reportPending() {
  {
    std::lock_guard lock(mutex_);
    if (reporting_) {
      return; // the reporting thread takes this change in its turn
    }
    reporting_ = true;
    reporter_ = std::this_thread::get_id();
  }
  while (true) {
    std::pair<State, State> change;
    {
      std::lock_guard lock(mutex_);
      // Emptiness and the end of reporting are one step, so no change is left behind.
      if (pendingChanges_.empty()) {
        reporting_ = false;
        reported_.notify_all();
        return;
      }
      change = std::move(pendingChanges_.front());
      pendingChanges_.pop_front();
    }
    try {
      stateChangeCallback_(change.first, change.second);
    } catch (...) {
      {
        std::lock_guard lock(mutex_);
        reporting_ = false;
      }
      reported_.notify_all();
      throw;
    }
  }
}

void AudioStreamTranscriber::startStreamTranscription() {
  if (isRecording()) {
    return;
  }
  const bool granted = options_.requestRecordPermission ? options_.requestRecordPermission()
                                                        : AudioProcessor::requestRecordPermission();
  if (!granted) {
    modelslog::error("Microphone access was not granted.");
    return;
  }
  write([](State &s) { s.isRecording = true; });
  std::weak_ptr<AudioStreamTranscriber> weak = weak_from_this();
  audioProcessor_->startRecordingLive(std::nullopt, [weak](const std::vector<float> &) {
    if (const auto self = weak.lock()) {
      auto energy = self->audioProcessor_->relativeEnergy();
      self->write([&](State &s) { s.bufferEnergy = std::move(energy); });
    }
  });
  modelslog::info("Realtime transcription has started");
  while (isRecording()) {
    try {
      transcribeCurrentBuffer();
    } catch (const std::exception &error) {
      modelslog::error(std::string("Error: ") + error.what());
      break;
    }
  }
  waitUntilReported();
}

void AudioStreamTranscriber::waitUntilReported() {
  // A stop asked from the recording's thread is applied later, so that thread may still be
  // reporting the last changes; the caller may free what the callback uses once this returns.
  std::unique_lock lock(mutex_);
  if (reporting_ && reporter_ == std::this_thread::get_id()) {
    return; // started from inside a callback: the wait would be on this very thread
  }
  reported_.wait(lock, [&] { return !reporting_ && pendingChanges_.empty(); });
}

void AudioStreamTranscriber::stopStreamTranscription() {
  write([](State &s) { s.isRecording = false; });
  audioProcessor_->stopRecording();
  modelslog::info("Realtime transcription has ended");
}

void AudioStreamTranscriber::waitBeforeNextPass() {
  if (options_.waitBeforeNextPass) {
    options_.waitBeforeNextPass(kPassWait);
    return;
  }
  std::unique_lock lock(mutex_);
  stopped_.wait_for(lock, kPassWait, [&] { return !state_.isRecording; });
}

void AudioStreamTranscriber::transcribeCurrentBuffer() {
  const std::vector<float> samples = audioProcessor_->audioSamples();
  const int lastBufferSize = state().lastBufferSize;
  const float newSeconds =
      static_cast<float>(static_cast<long long>(samples.size()) - lastBufferSize) / kSampleRate;
  const auto waitForSpeech = [&] {
    write([](State &s) {
      if (s.currentText.empty()) {
        s.currentText = kWaiting;
      }
    });
    waitBeforeNextPass();
  };
  if (newSeconds <= 1.0f) {
    waitForSpeech();
    return;
  }
  if (options_.useVAD && !AudioProcessor::isVoiceDetected(audioProcessor_->relativeEnergy(),
                                                          newSeconds, options_.silenceThreshold)) {
    modelslog::debug("No voice detected, skipping transcribe");
    waitForSpeech();
    return;
  }
  write([&](State &s) { s.lastBufferSize = static_cast<int>(samples.size()); });

  const auto result = transcribeAudioSamples(samples);

  write([](State &s) { s.currentText.clear(); });
  write([](State &s) { s.unconfirmedText.clear(); });
  const std::vector<TranscriptionSegment> segments =
      result ? result->segments() : std::vector<TranscriptionSegment>{};
  const auto required =
      static_cast<std::size_t>(std::max(options_.requiredSegmentsForConfirmation, 0));
  if (segments.size() > required) {
    const auto split = segments.end() - static_cast<std::ptrdiff_t>(required);
    const std::vector<TranscriptionSegment> candidates(segments.begin(), split);
    const std::vector<TranscriptionSegment> remainder(split, segments.end());
    if (candidates.back().end > state().lastConfirmedSegmentEndSeconds) {
      write([&](State &s) { s.lastConfirmedSegmentEndSeconds = candidates.back().end; });
      if (!containsRun(state().confirmedSegments, candidates)) {
        write([&](State &s) {
          s.confirmedSegments.insert(s.confirmedSegments.end(), candidates.begin(),
                                     candidates.end());
        });
      }
    }
    write([&](State &s) { s.unconfirmedSegments = remainder; });
  } else {
    write([&](State &s) { s.unconfirmedSegments = segments; });
  }
}

std::shared_ptr<TranscriptionResult>
AudioStreamTranscriber::transcribeAudioSamples(const std::vector<float> &samples) {
  DecodingOptions options = decodingOptions_;
  options.clipTimestamps = {state().lastConfirmedSegmentEndSeconds};
  const int window = options_.compressionCheckWindow;
  const std::optional<float> compressionThreshold = options.compressionRatioThreshold;
  const std::optional<float> logProbThreshold = options.logProbThreshold;
  std::weak_ptr<AudioStreamTranscriber> weak = weak_from_this();
  const StreamTranscribing::ProgressCallback callback =
      [weak, window, compressionThreshold,
       logProbThreshold](const TranscriptionProgress &progress) -> std::optional<bool> {
    if (const auto self = weak.lock()) {
      self->onProgressCallback(progress);
    }
    // The early stop is decided from the progress and the options alone. Without a
    // compression-ratio threshold the test is off (comparing with 0 would stop every window).
    if (compressionThreshold && window >= 0 &&
        progress.tokens.size() > static_cast<std::size_t>(window)) {
      const std::vector<int> recent(progress.tokens.end() - window, progress.tokens.end());
      if (TextUtilities::compressionRatio(recent) > *compressionThreshold) {
        return false;
      }
    }
    if (progress.avgLogprob && logProbThreshold && *progress.avgLogprob < *logProbThreshold) {
      return false;
    }
    return std::nullopt;
  };
  return transcriber_->run(samples, options, callback);
}

void AudioStreamTranscriber::onProgressCallback(const TranscriptionProgress &progress) {
  const int fallbacks = static_cast<int>(progress.timings.totalDecodingFallbacks);
  std::optional<int> fallbackLogged;
  write([&](State &s) {
    if (characterCount(progress.text) < characterCount(s.currentText)) {
      if (fallbacks == s.currentFallbacks) {
        s.unconfirmedText.push_back(s.currentText);
      } else {
        fallbackLogged = fallbacks;
      }
    }
  });
  if (fallbackLogged) {
    modelslog::info("Fallback occured: " + std::to_string(*fallbackLogged));
  }
  write([&](State &s) { s.currentText = progress.text; });
  write([&](State &s) { s.currentFallbacks = fallbacks; });
}

} // namespace divuvovize
