// Audio-file loading of AudioProcessor.
#include "DivuvovIze/Audio/AudioProcessor.hpp"

#include "DivuvovIze/Formatting/NumberFormatting.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/system/RunInBackground.hpp"
#include "platform/system/ThreadPool.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <future>
#include <limits>

namespace divuvovize {

namespace {

using platform::AudioConverterInput;
using platform::AudioConverterInputStatus;
using platform::AudioConverterOutputStatus;
using platform::AudioFile;
using platform::PcmBuffer;

constexpr double kSampleRate = 16000;
// 30 s at 44.1 kHz: the largest read when the caller gives no limit.
constexpr std::uint32_t kDefaultMaxReadFrameSize = 1323000;
// Whole files are turned into samples this many seconds at a time.
constexpr double kPieceSeconds = 600;
constexpr double kMaxFrameCount = 4294967295.0;
// What libsndfile reports as the length of a stream that does not announce one (a FLAC whose
// stream information gives 0 frames, as the format allows): such a file is read to its end.
constexpr std::int64_t kUnknownLength = std::numeric_limits<std::int64_t>::max();
// Frame positions are worked out in floating point and clamped below this before they become
// integers: 2^62 is exact as a double and far from the integer limit, which a time such as
// 1e300 s, or a length near that limit, would otherwise overflow.
constexpr double kFramePositionBound = 4611686018427387904.0;
// A file's announced length is only its claim (a damaged header may announce billions of
// frames), so results are grown from the samples actually decoded; one minute at 16 kHz is
// the most reserved ahead of them.
constexpr std::size_t kLargestReservation = 60 * 16000;
// Frames read at a time from a 16 kHz mono file, and the most converted frames one conversion
// step produces: reads and scratch buffers stay small whatever the file claims.
constexpr std::uint32_t kDirectReadFrames = 1u << 20;
constexpr std::uint32_t kConvertedStepFrames = 1u << 18;
// The sample rates a real audio file can have; others are refused before any buffer is sized
// from them.
constexpr double kMinFileSampleRate = 1000;
constexpr double kMaxFileSampleRate = 768000;

std::unique_ptr<AudioFile> openExisting(const std::string &path) {
  std::error_code ignored;
  if (!std::filesystem::exists(path, ignored)) {
    throw WhisperError::loadAudioFailed("Resource path does not exist " + path);
  }
  return AudioFile::openForReading(path);
}

bool supportedRate(double rate) { return rate >= kMinFileSampleRate && rate <= kMaxFileSampleRate; }

std::string unsupportedRateMessage(const AudioFile &file) {
  const double rate = file.fileFormat().sampleRate();
  const std::string rateText = rate == std::trunc(rate) && rate < 1e15
                                   ? std::to_string(static_cast<long long>(rate))
                                   : numbers::describe(rate);
  return "Audio file " + file.path().string() + " has a sample rate of " + rateText +
         " Hz; supported rates are 1000 to 768000 Hz";
}

// The converter of one resampling run and its output scratch.
struct Conversion {
  std::unique_ptr<platform::AudioConverter> converter;
  std::shared_ptr<PcmBuffer> converted;
};

// One converter for the whole range: pieces are fed to it in order and it is drained after the
// last one, so piece boundaries leave no seam and the total length is exact. Absent, logged,
// when either cannot be made.
std::optional<Conversion> makeConversion(double rate, const platform::AudioFormat &outputFormat,
                                         std::uint32_t readFrames) {
  const auto monoFormat = platform::AudioFormat::standard(rate, 1);
  Conversion conversion;
  conversion.converter = platform::AudioConverter::make(*monoFormat, outputFormat);
  if (!conversion.converter) {
    modelslog::error("Failed to create audio converter");
    return std::nullopt;
  }
  // The converted scratch is bounded by what one read can yield, and by one step's worth: the
  // converter fills it as many times as a read needs.
  const double ratio = outputFormat.sampleRate() / rate;
  conversion.converted = PcmBuffer::make(
      outputFormat, static_cast<std::uint32_t>(std::min<double>(
                        kConvertedStepFrames, std::ceil(readFrames * ratio) + 1024)));
  if (!conversion.converted) {
    modelslog::error("Failed to create output buffer");
    return std::nullopt;
  }
  return conversion;
}

// Feeds one piece (`mono`) to the converter and appends all it yields to `output`, keeping at
// most `limit` frames per channel, as an append into a buffer of that capacity. `last` ends the
// stream, so the converter is drained. False, logged, when converting or appending failed.
bool convertPiece(platform::AudioConverter &converter, PcmBuffer &converted,
                  const std::shared_ptr<PcmBuffer> &mono, bool last,
                  std::vector<std::vector<float>> &output, std::size_t limit) {
  bool given = false;
  const auto input = [&](std::uint32_t) -> AudioConverterInput {
    if (!given && mono->frameLength() > 0) {
      given = true;
      return {mono, AudioConverterInputStatus::haveData};
    }
    return {nullptr,
            last ? AudioConverterInputStatus::endOfStream : AudioConverterInputStatus::noDataNow};
  };
  AudioConverterOutputStatus status = AudioConverterOutputStatus::haveData;
  while (status == AudioConverterOutputStatus::haveData) {
    std::string error;
    status = converter.convert(converted, error, input);
    if (status == AudioConverterOutputStatus::error) {
      modelslog::error("Failed to resample audio chunk");
      return false;
    }
    const std::size_t room = limit - output[0].size();
    const std::size_t take = std::min<std::size_t>(converted.frameLength(), room);
    try {
      for (std::uint32_t c = 0; c < output.size(); ++c) {
        const float *data = converted.floatChannelData(c);
        output[c].insert(output[c].end(), data, data + take);
      }
    } catch (const std::bad_alloc &) {
      modelslog::error("Failed to append audio chunk");
      return false;
    }
  }
  return true;
}

void requireSupportedRate(const AudioFile &file) {
  if (!supportedRate(file.fileFormat().sampleRate())) {
    throw WhisperError::loadAudioFailed(unsupportedRateMessage(file));
  }
}

// Reads up to `count` frames of a file already in the wanted format, block by block, into a
// buffer the size of what was decoded.
std::shared_ptr<PcmBuffer> readDirect(AudioFile &file, std::int64_t count) {
  const auto block = static_cast<std::uint32_t>(std::min<std::int64_t>(count, kDirectReadFrames));
  const auto readBuffer = PcmBuffer::make(file.processingFormat(), block);
  if (!readBuffer) {
    throw WhisperError::loadAudioFailed("Unable to create audio buffer");
  }
  std::vector<float> samples;
  samples.reserve(static_cast<std::size_t>(
      std::min<std::int64_t>(count, static_cast<std::int64_t>(kLargestReservation))));
  for (std::int64_t got = 0; got < count;) {
    const auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(block, count - got));
    try {
      file.read(*readBuffer, n);
    } catch (const platform::AudioFileError &error) {
      throw WhisperError::loadAudioFailed(std::string("Failed to read audio file: ") +
                                          error.what());
    }
    const float *data = readBuffer->floatChannelData(0);
    samples.insert(samples.end(), data, data + readBuffer->frameLength());
    got += readBuffer->frameLength();
    if (readBuffer->frameLength() < n) {
      break;
    }
  }
  std::vector<std::vector<float>> channels;
  channels.push_back(std::move(samples));
  auto buffer = PcmBuffer::make(file.processingFormat(), std::move(channels));
  if (!buffer) {
    throw WhisperError::loadAudioFailed("Unable to create audio buffer");
  }
  return buffer;
}

void requireFinite(std::optional<double> seconds, const char *what) {
  if (seconds && !std::isfinite(*seconds)) {
    throw WhisperError::loadAudioFailed(std::string("Invalid ") + what + " time " +
                                        numbers::describe(*seconds));
  }
}

void logDetails(const char *label, double rate, std::uint32_t channels, std::int64_t frames) {
  modelslog::debug(std::string(label) + " details - Sample Rate: " + numbers::describe(rate) +
                   " Hz, Channel Count: " + std::to_string(channels) +
                   ", Frame Length: " + std::to_string(frames) +
                   ", Duration: " + numbers::describe(static_cast<double>(frames) / rate) + "s");
}

} // namespace

std::shared_ptr<PcmBuffer>
AudioProcessor::loadAudio(const std::string &path, const AudioInputConfig::ChannelMode &mode,
                          std::optional<double> startTime, std::optional<double> endTime,
                          std::optional<std::uint32_t> maxReadFrameSize) {
  const auto file = openExisting(path);
  return loadAudio(*file, mode, startTime, endTime, maxReadFrameSize);
}

std::shared_ptr<PcmBuffer>
AudioProcessor::loadAudio(AudioFile &file, const AudioInputConfig::ChannelMode &mode,
                          std::optional<double> startTime, std::optional<double> endTime,
                          std::optional<std::uint32_t> maxReadFrameSize) {
  requireFinite(startTime, "start");
  requireFinite(endTime, "end");
  requireSupportedRate(file);
  const double rate = file.fileFormat().sampleRate();
  const std::uint32_t channels = file.fileFormat().channelCount();
  const std::int64_t length = file.length();
  const bool lengthKnown = length != kUnknownLength;
  // A start before the file is its beginning; a start past the range's end (or the file's)
  // is an empty range, never a read outside the file. Times are clamped to the file while
  // still in floating point.
  const double lastFrame = lengthKnown ? std::min(static_cast<double>(length), kFramePositionBound)
                                       : kFramePositionBound;
  const auto frameAt = [&](double seconds) {
    const double frame = std::trunc(seconds * rate);
    return static_cast<std::int64_t>(std::clamp(frame, 0.0, lastFrame));
  };
  const std::int64_t start = frameAt(startTime.value_or(0.0));
  std::int64_t end =
      std::max(start, endTime ? frameAt(*endTime) : static_cast<std::int64_t>(lastFrame));
  if (!lengthKnown) {
    // Read to the file's end, up to what one buffer holds at this rate and at 16 kHz; the
    // reads stop at the end of the data.
    const double readable = std::floor(kMaxFrameCount * std::min(1.0, rate / kSampleRate));
    end = std::min(end, start + static_cast<std::int64_t>(readable));
  }
  std::int64_t count = end - start;
  if (static_cast<double>(count) > kMaxFrameCount) {
    throw WhisperError::loadAudioFailed("Audio range of " + std::to_string(count) +
                                        " frames is too long to load at once");
  }
  try {
    file.setFramePosition(start);
  } catch (const platform::AudioFileError &) {
    // A file that does not know its length cannot seek past its data: the range is empty.
    if (lengthKnown) {
      throw;
    }
    count = 0;
  }

  std::shared_ptr<PcmBuffer> buffer;
  if (rate == kSampleRate && channels == 1) {
    buffer = readDirect(file, count);
  } else {
    buffer = resampleAudio(file, kSampleRate, 1, mode, count,
                           maxReadFrameSize.value_or(kDefaultMaxReadFrameSize));
    if (!buffer) {
      throw WhisperError::loadAudioFailed("Failed to process audio buffer");
    }
  }

  if (modelslog::debugEnabled()) {
    logDetails("Audio source", rate, channels, length);
    logDetails("Audio buffer", buffer->format().sampleRate(), buffer->format().channelCount(),
               buffer->frameLength());
    modelslog::memoryUsage("After loadAudio function");
  }
  return buffer;
}

std::shared_ptr<PcmBuffer> AudioProcessor::resampleAudio(AudioFile &file, double toSampleRate,
                                                         std::uint32_t channelCount,
                                                         const AudioInputConfig::ChannelMode &mode,
                                                         std::optional<std::int64_t> frameCount,
                                                         std::uint32_t maxReadFrameSize) {
  const double rate = file.fileFormat().sampleRate();
  if (!supportedRate(rate)) {
    modelslog::error(unsupportedRateMessage(file));
    return nullptr;
  }
  const std::int64_t first = file.framePosition();
  // The frames left in the file, without overflow for a length the file does not know.
  const std::int64_t left = std::max<std::int64_t>(0, file.length() - first);
  const std::int64_t frames = std::clamp<std::int64_t>(frameCount.value_or(left), 0, left);
  const std::int64_t end = first + frames;

  const auto outputFormat = supportedRate(toSampleRate)
                                ? platform::AudioFormat::standard(toSampleRate, channelCount)
                                : std::nullopt;
  if (!outputFormat) {
    modelslog::error("Failed to create output audio format");
    return nullptr;
  }
  const double duration = static_cast<double>(frames) / rate;
  if (modelslog::debugEnabled()) {
    modelslog::debug("Resampling " + numbers::fixed(duration, 2) + " seconds of audio");
  }
  // The output holds at most this many frames; its storage grows with what is converted.
  const double capacity = std::trunc(toSampleRate * duration);
  if (capacity > kMaxFrameCount) {
    modelslog::error("Failed to create output buffer");
    return nullptr;
  }
  const auto limit = static_cast<std::size_t>(capacity);
  std::vector<std::vector<float>> output(channelCount);
  const auto finish = [&]() {
    auto buffer = PcmBuffer::make(*outputFormat, std::move(output));
    if (!buffer) {
      modelslog::error("Failed to create output buffer");
    }
    return buffer;
  };
  // Reads never exceed what the range can hold, so a short range reads into a small buffer.
  const auto readFrames = static_cast<std::uint32_t>(
      std::min<std::int64_t>(maxReadFrameSize, std::max<std::int64_t>(end - first, 1)));
  std::shared_ptr<PcmBuffer> readBuffer;
  if (maxReadFrameSize > 0) {
    readBuffer = PcmBuffer::make(file.processingFormat(), readFrames);
  }
  if (!readBuffer) {
    modelslog::error("Failed to create read buffer");
    return nullptr;
  }
  if (first >= end) {
    return finish();
  }
  for (auto &channel : output) {
    channel.reserve(std::min(limit, kLargestReservation));
  }

  const auto conversion = makeConversion(rate, *outputFormat, readFrames);
  if (!conversion) {
    return nullptr;
  }
  for (bool last = false; !last;) {
    const std::int64_t position = file.framePosition();
    const auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(readFrames, end - position));
    if (modelslog::debugEnabled()) {
      modelslog::debug("Resampling " + numbers::fixed(static_cast<double>(position) / rate, 2) +
                       "s - " + numbers::fixed(static_cast<double>(position + n) / rate, 2) + "s");
    }
    try {
      file.read(*readBuffer, n);
    } catch (const platform::AudioFileError &error) {
      modelslog::error(std::string("Error reading audio file: ") + error.what());
      return nullptr;
    }
    // A file that ends before its announced length (as compressed files may) ends the range.
    last = position + n >= end || readBuffer->frameLength() < n;
    const auto mono = convertToMono(readBuffer, mode);
    if (!mono) {
      modelslog::error("Failed to process audio channels");
      return nullptr;
    }
    if (!convertPiece(*conversion->converter, *conversion->converted, mono, last, output, limit)) {
      return nullptr;
    }
  }
  return finish();
}

std::vector<float> AudioProcessor::loadAudioAsFloatArray(const std::string &path,
                                                         const AudioInputConfig::ChannelMode &mode,
                                                         std::optional<double> startTime,
                                                         std::optional<double> endTime) {
  requireFinite(startTime, "start");
  requireFinite(endTime, "end");
  const auto file = openExisting(path);
  requireSupportedRate(*file);
  const double rate = file->fileFormat().sampleRate();
  const std::int64_t length = file->length();
  const bool lengthKnown = length != kUnknownLength;
  if (lengthKnown && static_cast<double>(length) > kMaxFrameCount) {
    throw WhisperError::loadAudioFailed("Audio file " + path + " of " + std::to_string(length) +
                                        " frames is too long to load");
  }
  // A file of unknown length is read piece by piece until its data ends.
  const double total =
      lengthKnown ? static_cast<double>(length) / rate : std::numeric_limits<double>::infinity();
  double from = std::max(0.0, startTime.value_or(0.0));
  const double to = std::min(total, endTime.value_or(total));
  std::vector<float> samples;
  if (from < to) {
    samples.reserve(static_cast<std::size_t>(std::min(std::ceil((to - from) * kSampleRate) + 1,
                                                      static_cast<double>(kLargestReservation))));
  }
  while (from < to) {
    const double pieceEnd = std::min(to, from + kPieceSeconds);
    // Each piece's buffers go out of scope before the next piece is read.
    const auto piece = loadAudio(*file, mode, from, pieceEnd, std::nullopt);
    if (const float *pieceSamples = piece->floatChannelData(0)) {
      samples.insert(samples.end(), pieceSamples, pieceSamples + piece->frameLength());
    }
    // A file whose data ends before its announced length (a damaged or cut-off file) ends here,
    // with what it holds, rather than seeking past its data.
    const double pieceEndFrame = std::min(std::trunc(pieceEnd * rate), static_cast<double>(length));
    if (static_cast<double>(file->framePosition()) < pieceEndFrame) {
      break;
    }
    if (samples.size() > static_cast<std::size_t>(kMaxFrameCount)) {
      throw WhisperError::loadAudioFailed("Audio file " + path + " is too long to load");
    }
    from = pieceEnd;
  }
  return samples;
}

std::vector<AudioLoadResult> AudioProcessor::loadAudio(const std::vector<std::string> &paths,
                                                       const AudioInputConfig::ChannelMode &mode) {
  // One pool item per file; the pool grows while its threads are busy, so a caller on the
  // pool itself cannot starve its own loads.
  std::vector<std::future<std::vector<float>>> loads;
  loads.reserve(paths.size());
  for (const auto &path : paths) {
    loads.push_back(platform::runOnPool(platform::ThreadPool::shared(), [path, mode] {
      return loadAudioAsFloatArray(path, mode, 0.0, std::nullopt);
    }));
  }
  std::vector<AudioLoadResult> results(paths.size());
  for (std::size_t i = 0; i < loads.size(); ++i) {
    try {
      results[i].value = loads[i].get();
    } catch (...) {
      results[i].value = std::current_exception();
    }
  }
  return results;
}

} // namespace divuvovize
