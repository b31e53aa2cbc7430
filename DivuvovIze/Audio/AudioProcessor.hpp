#pragma once

#include "DivuvovIze/Audio/AudioInputConfig.hpp"
#include "DivuvovIze/Audio/AudioProcessing.hpp"
#include "DivuvovIze/Audio/VoiceActivityDetector.hpp"
#include "platform/audio/AudioConverter.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/audio/PcmBuffer.hpp"

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace divuvovize {

// The samples of one file, or the error that stopped its loading.
struct AudioLoadResult {
  std::variant<std::vector<float>, std::exception_ptr> value;

  bool succeeded() const { return value.index() == 0; }
  // The samples; throws the stored error when loading failed.
  const std::vector<float> &get() const;
};

// Loudness of a block of samples: root mean square and the largest and smallest magnitudes.
struct AudioEnergy {
  float avg = 0;
  float max = 0;
  float min = 0;
};

// The engine's audio source: turns files and buffers of any rate and channel layout into
// 16 kHz mono 32-bit float samples, fits them to model windows and measures their energy.
// The static functions hold no state and may run on any thread.
class AudioProcessor : public AudioProcessing {
public:
  AudioProcessor();
  ~AudioProcessor() override;

  std::optional<AudioProcessorOutputType>
  padOrTrim(std::span<const float> audioArray, int startAt = 0,
            int toLength = Constants::defaultWindowSamples) override;

  void stopRecording() override;

  // ---- Buffer conversion and channel mix-down ----

  // Converts `buffer` with `converter` (whose input format is the buffer's) into a new buffer
  // of capacity frames x outputRate / inputRate, rounded to the nearest integer (ties to even,
  // at least 1). The buffer is a whole stream: the converter is drained after it, so every
  // frame comes out, and then reset for the next call. Throws
  // WhisperError::audioProcessingFailed when the output buffer cannot be made or the
  // converter fails.
  static std::shared_ptr<platform::PcmBuffer>
  resampleBuffer(const std::shared_ptr<const platform::PcmBuffer> &buffer,
                 platform::AudioConverter &converter);

  // The same for one buffer of a longer stream: the converter is not drained, so frames its
  // filter still holds come out with the next buffer and consecutive buffers make one
  // continuous signal; `drainConverter` gives the held-back tail when the stream ends.
  static std::shared_ptr<platform::PcmBuffer>
  resampleStreamBuffer(const std::shared_ptr<const platform::PcmBuffer> &buffer,
                       platform::AudioConverter &converter);

  // Ends the converter's stream: returns the first output channel's frames it still held and
  // resets it. Throws WhisperError::audioProcessingFailed when the converter fails.
  static std::vector<float> drainConverter(platform::AudioConverter &converter);

  // Converts one whole buffer to 32-bit float, not interleaved, at the given rate and channel
  // count, draining the converter at its end. Nullptr, with an error log, on failure.
  static std::shared_ptr<platform::PcmBuffer>
  resampleAudio(const std::shared_ptr<const platform::PcmBuffer> &buffer, double toSampleRate,
                std::uint32_t channelCount);

  // One channel from several according to `mode`. A buffer with fewer than two channels comes
  // back as the same object. Nullptr, with an error log, when the buffer has no float samples.
  static std::shared_ptr<platform::PcmBuffer>
  convertToMono(const std::shared_ptr<platform::PcmBuffer> &buffer,
                const AudioInputConfig::ChannelMode &mode);

  // The first channel's valid samples, copied `chunkSize` frames at a time; empty when the
  // buffer has no float samples.
  static std::vector<float> convertBufferToArray(const platform::PcmBuffer &buffer,
                                                 int chunkSize = 1024);

  // ---- Audio files ----

  // Reads [startTime, endTime) seconds of the file at `path` (the whole file by default) as a
  // 16 kHz mono buffer. Files that are not 16 kHz mono are read in pieces of at most
  // `maxReadFrameSize` frames (1,323,000 when absent), each mixed down and resampled before the
  // next is read. A start before 0 counts as 0; a start at or after the end of the range, or
  // of the file, gives an empty buffer. The buffer is sized from the samples actually decoded,
  // never from the length the file announces. Throws WhisperError::loadAudioFailed ("Resource
  // path does not exist <path>", a sample rate outside 1,000 to 768,000 Hz, and the others
  // below), platform::AudioFileError when the file cannot be opened (corrupt or unsupported).
  static std::shared_ptr<platform::PcmBuffer>
  loadAudio(const std::string &path,
            const AudioInputConfig::ChannelMode &channelMode =
                AudioInputConfig::ChannelMode::sumChannels(),
            std::optional<double> startTime = 0.0, std::optional<double> endTime = std::nullopt,
            std::optional<std::uint32_t> maxReadFrameSize = std::nullopt);

  // The same on an open file, whose read position it moves.
  static std::shared_ptr<platform::PcmBuffer>
  loadAudio(platform::AudioFile &file, const AudioInputConfig::ChannelMode &channelMode,
            std::optional<double> startTime, std::optional<double> endTime,
            std::optional<std::uint32_t> maxReadFrameSize);

  // A whole file (or [startTime, endTime) seconds of it) as 16 kHz mono samples, read in
  // 600-second pieces so memory stays bounded by one piece plus the result.
  static std::vector<float> loadAudioAsFloatArray(const std::string &path,
                                                  const AudioInputConfig::ChannelMode &channelMode =
                                                      AudioInputConfig::ChannelMode::sumChannels(),
                                                  std::optional<double> startTime = 0.0,
                                                  std::optional<double> endTime = std::nullopt);

  // Loads every file concurrently; one result per path, in path order. Never throws for a
  // single file: its error is its result.
  static std::vector<AudioLoadResult> loadAudio(const std::vector<std::string> &paths,
                                                const AudioInputConfig::ChannelMode &channelMode =
                                                    AudioInputConfig::ChannelMode::sumChannels());

  // Reads `frameCount` frames (the rest of the file when absent) from the file's read position
  // in pieces of `maxReadFrameSize`, mixing each down with `channelMode` and converting it to
  // `toSampleRate` and `channelCount` through one converter, so piece boundaries leave no
  // trace. The result holds at most toSampleRate x frameCount / file rate frames (truncated),
  // and its capacity is what was converted. Nullptr, with an error log, on failure (including
  // a file or target rate outside 1,000 to 768,000 Hz).
  static std::shared_ptr<platform::PcmBuffer>
  resampleAudio(platform::AudioFile &file, double toSampleRate, std::uint32_t channelCount,
                const AudioInputConfig::ChannelMode &channelMode,
                std::optional<std::int64_t> frameCount, std::uint32_t maxReadFrameSize);

  // ---- Energy and voice activity ----

  // Whether someone spoke in the last `nextBufferInSeconds` of a live energy history (one
  // entry per 0.1 s): of the newest entries covering that time, all but the newest 10 are
  // looked at (at least the oldest 10 of them), and any above `silenceThreshold` counts. A
  // window longer than the history covers all of it; a negative or NaN window covers none.
  static bool isVoiceDetected(std::span<const float> energy, float nextBufferInSeconds,
                              float silenceThreshold);

  // Sample ranges holding speech, by the default energy detector (0.1 s frames, RMS > 0.02).
  static std::vector<IndexRange> calculateNonSilentChunks(std::span<const float> signal);

  // One flag per frame: frame i covers [i x frameLength, i x frameLength + frameLength +
  // overlap) cut at the end of the signal, and is active when its RMS is above the threshold.
  // Frames starting at or past the end of the signal are empty and inactive.
  static std::vector<bool> calculateVoiceActivityInChunks(std::span<const float> signal,
                                                          int chunkCount, int frameLengthSamples,
                                                          int frameOverlapSamples,
                                                          float energyThreshold);

  // Root mean square of the samples (0 for none).
  static float calculateAverageEnergy(std::span<const float> signal);
  // RMS, largest and smallest magnitude; all 0 for no samples.
  static AudioEnergy calculateEnergy(std::span<const float> signal);
  // Loudness in [0, 1] between a reference level (default -60 dB) and full scale.
  static float calculateRelativeEnergy(std::span<const float> signal,
                                       std::optional<float> reference = std::nullopt);
};

} // namespace divuvovize
