#pragma once

#include "DivuvovIze/Audio/AudioInputConfig.hpp"
#include "DivuvovIze/Audio/AudioProcessing.hpp"
#include "DivuvovIze/Audio/VoiceActivityDetector.hpp"
#include "platform/audio/AudioConverter.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/audio/AudioInputEngine.hpp"
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

// The loudness of one processed live buffer.
struct AudioEnergyEntry {
  float rel = 0; // relative to the quietest of the previous 20 buffers, in [0, 1]
  float avg = 0; // root mean square
  float max = 0; // largest magnitude
  float min = 0; // smallest magnitude

  friend bool operator==(const AudioEnergyEntry &, const AudioEnergyEntry &) = default;
};

// The engine's audio source: records the microphone, turns files and buffers of any rate and
// channel layout into 16 kHz mono 32-bit float samples, fits them to model windows and
// measures their energy. The static functions hold no state and may run on any thread.
//
// Live recording: the input engine's tap runs on the audio thread, converts each buffer to
// 16 kHz mono and appends it, with one energy entry, to the take. Samples, energy entries and
// the settings are shared with readers on other threads under a lock; the buffer callback is
// called outside it. Control calls (start, pause, resume, stop) may come from any thread, one
// at a time being served. From the buffer callback itself (the audio thread, which a stop must
// wait for) a stop or pause takes effect for the callback at once, which is not called again,
// and the engine is stopped just after on the shared pool; a start or resume from there runs
// there too, its error logged. A control call made meanwhile from elsewhere supersedes them. When a take stops, or moves to another device, the converter's
// held-back tail is drained into the take, so its last milliseconds are kept.
class AudioProcessor : public AudioProcessing {
public:
  // Records through the process's audio input (platform::AudioInputSystem::shared(), reached
  // only when a recording starts).
  AudioProcessor();
  // Records through `input` (tests pass an in-memory one).
  explicit AudioProcessor(std::shared_ptr<platform::AudioInputSystem> input);
  // Stops the recording first.
  ~AudioProcessor() override;
  AudioProcessor(const AudioProcessor &) = delete;
  AudioProcessor &operator=(const AudioProcessor &) = delete;

  std::optional<AudioProcessorOutputType>
  padOrTrim(std::span<const float> audioArray, int startAt = 0,
            int toLength = Constants::defaultWindowSamples) override;

  // ---- Live recording ----

  std::vector<float> audioSamples() const override;
  // The number of samples of the take, without copying them.
  std::size_t audioSampleCount() const;
  void purgeAudioSamples(std::size_t keepingLast) override;
  std::vector<AudioEnergyEntry> audioEnergy() const;
  std::vector<float> relativeEnergy() const override;
  // Factor of the progress log's cadence (default 20); must not be 0.
  int relativeEnergyWindow() const override;
  void setRelativeEnergyWindow(int window) override;
  // Frames per tap buffer at the device's rate, and factor of the progress log's cadence
  // (default 1600); must not be 0.
  std::uint32_t minBufferLength() const;
  void setMinBufferLength(std::uint32_t frames);
  // While suppressed the take goes on and every buffer is recorded as zeros.
  bool isInputSuppressed() const;
  void setInputSuppressed(bool suppressed);
  // Zeros every element of `buffer` while input is suppressed.
  void suppressInputIfNeeded(std::vector<float> &buffer) const;
  AudioBufferCallback audioBufferCallback() const;
  void setAudioBufferCallback(AudioBufferCallback callback);
  // The device of the last successful start; nothing for the default input.
  std::optional<DeviceID> lastInputDevice() const;
  // Whether an engine exists (recording or paused).
  bool hasAudioEngine() const;

  void startRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt,
                          AudioBufferCallback callback = nullptr) override;
  std::shared_ptr<AudioBufferStream>
  startStreamingRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt) override;
  void pauseRecording() override;
  void resumeRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt,
                           AudioBufferCallback callback = nullptr) override;
  // Stops and releases the engine, drains the converter's tail into the take and ends a
  // streaming recording's stream; samples, energy and the callback stay. Nothing without an
  // engine.
  void stopRecording() override;

  // Appends one 16 kHz mono buffer to the take with its energy entry, calls the callback and
  // logs the progress line at its cadence. Called by the tap; safe from any thread.
  void processBuffer(const std::vector<float> &buffer);

  // Nothing to set up on this platform.
  void setupAudioSessionForDevice() {}

  // ---- Devices and permission ----

  // The input devices (those with at least one input channel), in the system's order; empty,
  // with an error log, when the list cannot be read.
  static std::vector<AudioDevice> getAudioDevices();
  static std::vector<AudioDevice> getAudioDevices(platform::AudioInputSystem &input);
  // Selects the device on an engine that has not started; logs the outcome, never throws (a
  // refused selection leaves the engine on its current device).
  void assignAudioInput(platform::AudioInputEngine &inputNode, DeviceID inputDeviceID);
  // Blocks until the system answers whether recording is allowed (always on Linux).
  static bool requestRecordPermission();
  static bool requestRecordPermission(platform::AudioInputSystem &input);

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

  // Loads every file concurrently on the shared thread pool and blocks until all are done; one
  // result per path, in path order. Never throws for a single file: its error is its result.
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

private:
  struct Live;
  // Starts a take whose buffers also go to `stream` when one is given.
  void startLive(std::optional<DeviceID> inputDeviceID, AudioBufferCallback callback,
                 std::shared_ptr<AudioBufferStream> stream);
  // Shared with the tap and the stream's termination handler, which hold it weakly.
  std::shared_ptr<Live> live_;
};

} // namespace divuvovize
