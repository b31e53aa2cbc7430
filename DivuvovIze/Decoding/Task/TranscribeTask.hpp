#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "DeduveCore/Hub/Progress.hpp"
#include "DivuvovIze/Audio/AudioProcessing.hpp"
#include "DivuvovIze/Decoding/Decoder/TextDecoding.hpp"
#include "DivuvovIze/Decoding/Encoder/AudioEncoding.hpp"
#include "DivuvovIze/Decoding/Encoder/FeatureExtracting.hpp"
#include "DivuvovIze/Models/DecodingOptions.hpp"
#include "DivuvovIze/Models/DecodingResult.hpp"
#include "DivuvovIze/Models/TranscriptionResult.hpp"
#include "DivuvovIze/Models/TranscriptionTimings.hpp"
#include "platform/system/Clock.hpp"

namespace divuvovize {

class SegmentSeeking;
class WhisperTokenizer;

// Turns one recording into one TranscriptionResult: walks the 16 kHz mono samples in windows
// of at most 30 s, and for each pads the samples, computes the mel features, encodes them,
// decodes the window with temperature fallback, cuts it into segments at timestamp tokens,
// adds word timings when asked, and appends the segments to the transcript. Keeps `timings`
// and `progress` (in samples) current while it works.
//
// run() blocks and runs on the caller's (worker) thread; one task runs one transcription at a
// time and may run several one after another. Not thread-safe otherwise.
class TranscribeTask {
public:
  // Called once per window that produced segments, with those segments, on the running thread.
  using SegmentDiscoveryCallback = std::function<void(const std::vector<TranscriptionSegment> &)>;

  // A null progress becomes a fresh one, a null audio processor an AudioProcessor, null
  // clocks the system's. The steady clock times every stage; the wall clock gives the absolute
  // time of pipelineStart (seconds since 2001-01-01 UTC) and the dates of the log.
  TranscribeTask(TranscriptionTimings currentTimings, std::shared_ptr<deduve::Progress> progress,
                 std::shared_ptr<AudioProcessing> audioProcessor,
                 std::shared_ptr<AudioEncoding> audioEncoder,
                 std::shared_ptr<FeatureExtracting> featureExtractor,
                 std::shared_ptr<SegmentSeeking> segmentSeeker,
                 std::shared_ptr<TextDecoding> textDecoder,
                 std::shared_ptr<WhisperTokenizer> tokenizer,
                 std::shared_ptr<platform::SteadyClock> clock = nullptr,
                 std::shared_ptr<platform::WallClock> wallClock = nullptr);
  virtual ~TranscribeTask();
  TranscribeTask(const TranscribeTask &) = delete;
  TranscribeTask &operator=(const TranscribeTask &) = delete;

  // The running timing record; accumulates across runs.
  const TranscriptionTimings &timings() const { return timings_; }
  void setTimings(TranscriptionTimings timings) { timings_ = timings; }
  const std::shared_ptr<WhisperTokenizer> &tokenizer() const { return tokenizer_; }
  void setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) {
    tokenizer_ = std::move(tokenizer);
  }
  const SegmentDiscoveryCallback &segmentDiscoveryCallback() const {
    return segmentDiscoveryCallback_;
  }
  void setSegmentDiscoveryCallback(SegmentDiscoveryCallback callback) {
    segmentDiscoveryCallback_ = std::move(callback);
  }
  const std::shared_ptr<deduve::Progress> &progress() const { return progress_; }

  // Hook: sees each padded window before its features are computed. Does nothing here.
  virtual void windowPreprocess(const AudioProcessorOutputType &audio, int seek, int segmentSize);
  // Hook: may replace a window's segments; what it returns is kept. Returns them unchanged here.
  virtual std::vector<TranscriptionSegment>
  windowPostProcess(int seek, int segmentSize, std::vector<TranscriptionSegment> originalSegments);

  // Transcribes `audioArray` (16 kHz mono) with `decodeOptions` (defaults when absent; their
  // clip timestamps say what to decode). `callback`, when set, receives every decoding step's
  // progress with the window's id; false stops that window early. Throws WhisperError (among
  // them transcriptionFailed "Audio samples are nil", "Mel output is nil", "Encoder output is
  // nil"), the components' errors and CancellationError when the task is cancelled.
  virtual std::shared_ptr<TranscriptionResult>
  run(std::span<const float> audioArray, const std::optional<DecodingOptions> &decodeOptions,
      const TranscriptionCallback &callback = nullptr);

  // The result of a run: the text of the tokens below the special range, spaces and tabs
  // trimmed, the segments, the language ("en" when absent) and the timings, no seek time.
  virtual std::shared_ptr<TranscriptionResult> finalizeTranscriptionResult(
      const std::vector<int> &tokens, std::vector<TranscriptionSegment> segments,
      const std::optional<std::string> &language, const TranscriptionTimings &timings);

  // Decodes one window at the options' temperatures in turn until an attempt needs no
  // fallback, detecting the language first when the model is multilingual and none is set.
  // `decoderInputs` and `detectedLanguage` are updated in place; the decoder's timings are
  // folded into timings(). Throws WhisperError::decodingFailed("Decoding failed") when no
  // attempt ran, and passes the decoder's errors on.
  virtual DecodingResult decodeWithFallback(const AudioEncoderOutputType &encoderOutput,
                                            const DecodingOptions &options,
                                            const TranscriptionCallback &callback,
                                            std::shared_ptr<DecodingInputsType> &decoderInputs,
                                            std::optional<std::string> &detectedLanguage);

protected:
  // Seconds on the task's clock.
  double now() const;

private:
  struct RunState;
  class StageTimer;
  // Where the window after one starts, and whether the window's segments were kept.
  struct WindowEnd {
    int nextSeek = 0;
    bool kept = false;
  };

  std::string promptDescription(const DecodingInputsType &inputs) const;
  void prepareDecoderInputs(RunState &run);
  // Decodes the windows of one clip (sample range) in turn.
  void decodeClip(RunState &run, int clipBegin, int clipEnd, const TranscriptionCallback &callback);
  WindowEnd decodeWindow(RunState &run, int seek, int segmentSize, int windowSamples,
                         const TranscriptionCallback &callback);
  // Pads the window's samples, computes their features and encodes them.
  AudioEncoderOutputType encodeWindow(const RunState &run, int seek, int segmentSize,
                                      int windowSamples);
  // Cuts the decoded window into segments, times their words when asked, and appends them.
  WindowEnd keepWindow(RunState &run, const DecodingResult &decodingResult, int seek,
                       int segmentSize);
  // The segments with timed words, those without duration dropped; absent when timing failed.
  // Moves `nextSeek` to the end of the last segment kept.
  std::optional<std::vector<TranscriptionSegment>> timeWords(
      const DecodingOptions &options, std::optional<std::vector<TranscriptionSegment>> segments,
      const platform::MLMultiArray &alignmentWeights, int seek, int segmentSize, int &nextSeek);

  TranscriptionTimings timings_;
  std::shared_ptr<deduve::Progress> progress_;
  std::shared_ptr<AudioEncoding> audioEncoder_;
  std::shared_ptr<FeatureExtracting> featureExtractor_;
  std::shared_ptr<SegmentSeeking> segmentSeeker_;
  std::shared_ptr<TextDecoding> textDecoder_;
  std::shared_ptr<AudioProcessing> audioProcessor_;
  std::shared_ptr<WhisperTokenizer> tokenizer_;
  SegmentDiscoveryCallback segmentDiscoveryCallback_;
  std::shared_ptr<platform::SteadyClock> clock_;
  std::shared_ptr<platform::WallClock> wallClock_;
};

} // namespace divuvovize
