#pragma once

#include "DivuvovIze/Audio/AudioProcessing.hpp"
#include "DivuvovIze/Models/DecodingOptions.hpp"
#include "DivuvovIze/Models/TranscriptionProgress.hpp"
#include "DivuvovIze/Models/TranscriptionResult.hpp"
#include "DivuvovIze/Models/TranscriptionSegment.hpp"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace divuvovize {

class AudioEncoding;
class FeatureExtracting;
class SegmentSeeking;
class TextDecoding;
class WhisperTokenizer;

// What the streaming transcriber re-runs over the recording: one transcription of all the
// samples. The pipeline's transcription task fits it through TranscribeTaskStreamTranscribing
// (DivuvovIze/Pipeline), which the components' `make` builds; tests script it.
class StreamTranscribing {
public:
  // Receives progress while a window is decoded; false asks to stop that window early.
  using ProgressCallback = std::function<std::optional<bool>(const TranscriptionProgress &)>;

  virtual ~StreamTranscribing() = default;
  // Transcribes 16 kHz mono `audioArray` with `decodeOptions`, calling `callback` during
  // decoding. Blocks; throws on failure.
  virtual std::shared_ptr<TranscriptionResult> run(std::span<const float> audioArray,
                                                   const DecodingOptions &decodeOptions,
                                                   const ProgressCallback &callback) = 0;
};

// Turns the microphone into a live transcript: records continuously through an audio
// processor and, whenever more than a second of new audio has arrived, re-transcribes the
// recording from the end of the last confirmed segment. Segments followed by enough newer ones
// are confirmed and never decoded again; the newest stay unconfirmed and are replaced by each
// pass. Everything is published through one State and a callback receiving (old, new) on every
// change. Thread-safe: `startStreamTranscription` blocks its caller while the loop runs and
// `stopStreamTranscription` may come from any thread.
class AudioStreamTranscriber : public std::enable_shared_from_this<AudioStreamTranscriber> {
public:
  struct State {
    bool isRecording = false;
    int currentFallbacks = 0;                 // decoding fallbacks of the last progress
    int lastBufferSize = 0;                   // samples when the last pass began
    float lastConfirmedSegmentEndSeconds = 0; // every pass transcribes from here
    std::vector<float> bufferEnergy;          // the processor's relative energy history
    std::string currentText;                  // text of the pass in progress
    std::vector<TranscriptionSegment> confirmedSegments;
    std::vector<TranscriptionSegment> unconfirmedSegments;
    std::vector<std::string> unconfirmedText; // earlier windows of the pass in progress

    bool operator==(const State &) const = default;
  };
  // Called with (old state, new state) on every change, in order, on the thread making it (or
  // on a thread still reporting an earlier change); the callbacks of one transcriber never
  // overlap. No lock is held while it runs, so it may call the transcriber back (stop it).
  using StateChangeCallback = std::function<void(const State &, const State &)>;

  struct Options {
    // How many of the newest segments stay unconfirmed. Default 2.
    int requiredSegmentsForConfirmation = 2;
    // Whether a pass first checks the energy history for speech. Default true.
    bool useVAD = true;
    // Relative energy above which a buffer counts as speech. Default 0.3.
    float silenceThreshold = 0.3f;
    // Most recent tokens whose compression ratio is watched while decoding. Default 60.
    int compressionCheckWindow = 60;
    // Asked before recording starts; default: AudioProcessor::requestRecordPermission().
    std::function<bool()> requestRecordPermission;
    // Waits between passes that found too little audio (0.1 s); returns early when the
    // transcriber stops. Default: an interruptible wait on the steady clock. Tests inject a
    // waiter that moves the scenario on instead of sleeping.
    std::function<void(std::chrono::milliseconds)> waitBeforeNextPass;
  };

  static std::shared_ptr<AudioStreamTranscriber>
  make(std::shared_ptr<StreamTranscribing> transcriber,
       std::shared_ptr<AudioProcessing> audioProcessor, DecodingOptions decodingOptions,
       Options options, StateChangeCallback stateChangeCallback = nullptr);
  // Over the pipeline's loaded components: builds its own transcription task from them, with
  // fresh timings and a fresh progress. Defined with the pipeline, which links the task.
  static std::shared_ptr<AudioStreamTranscriber>
  make(std::shared_ptr<AudioEncoding> audioEncoder,
       std::shared_ptr<FeatureExtracting> featureExtractor,
       std::shared_ptr<SegmentSeeking> segmentSeeker, std::shared_ptr<TextDecoding> textDecoder,
       std::shared_ptr<WhisperTokenizer> tokenizer, std::shared_ptr<AudioProcessing> audioProcessor,
       DecodingOptions decodingOptions, Options options,
       StateChangeCallback stateChangeCallback = nullptr);

  State state() const;

  // Asks for permission, starts recording and runs passes until `stopStreamTranscription`.
  // Returns at once when already recording, or (logging "Microphone access was not granted.")
  // when permission is refused. Throws the recording's start error. A failing pass is logged
  // and ends the loop normally. Once it returns, every change has been reported: a stop asked
  // from the recording's own thread does not leave that thread inside the callback.
  void startStreamTranscription();
  // Ends the loop after its current pass and stops the recording.
  void stopStreamTranscription();

private:
  AudioStreamTranscriber(std::shared_ptr<StreamTranscribing> transcriber,
                         std::shared_ptr<AudioProcessing> audioProcessor,
                         DecodingOptions decodingOptions, Options options,
                         StateChangeCallback stateChangeCallback);

  // Applies `change` to the state as one write and reports it.
  void write(const std::function<void(State &)> &change);
  // Reports the queued changes until none is left; only one thread reports at a time.
  void reportPending();
  // Waits until no thread is reporting and no change waits to be reported.
  void waitUntilReported();
  void transcribeCurrentBuffer();
  std::shared_ptr<TranscriptionResult> transcribeAudioSamples(const std::vector<float> &samples);
  void onProgressCallback(const TranscriptionProgress &progress);
  void waitBeforeNextPass();
  bool isRecording() const;

  const std::shared_ptr<StreamTranscribing> transcriber_;
  const std::shared_ptr<AudioProcessing> audioProcessor_;
  const DecodingOptions decodingOptions_;
  const Options options_;
  const StateChangeCallback stateChangeCallback_;

  mutable std::mutex mutex_; // the state and the changes waiting to be reported
  std::condition_variable stopped_;
  State state_;
  std::deque<std::pair<State, State>> pendingChanges_;
  bool reporting_ = false;           // a thread is reporting pendingChanges_
  std::condition_variable reported_; // reporting_ became false
  std::thread::id reporter_;         // the thread reporting while reporting_
};

} // namespace divuvovize
