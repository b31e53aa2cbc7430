// Audio-file loading of AudioProcessor.
#include "DivuvovIze/Audio/AudioProcessor.hpp"

#include "DivuvovIze/Audio/AudioLog.hpp"
#include "DivuvovIze/Models/NumberFormatting.hpp"
#include "DivuvovIze/Models/TextUtilities.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <thread>

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
// One hour at 16 kHz: the most a whole-file load reserves before the samples arrive.
constexpr double kLargestReservation = 3600.0 * kSampleRate;

std::unique_ptr<AudioFile> openExisting(const std::string &path) {
  std::error_code ignored;
  if (!std::filesystem::exists(path, ignored)) {
    throw WhisperError::loadAudioFailed("Resource path does not exist " + path);
  }
  return AudioFile::openForReading(path);
}

void requireFinite(std::optional<double> seconds, const char *what) {
  if (seconds && !std::isfinite(*seconds)) {
    throw WhisperError::loadAudioFailed(std::string("Invalid ") + what + " time " +
                                        numbers::describe(*seconds));
  }
}

void logDetails(const char *label, double rate, std::uint32_t channels, std::int64_t frames) {
  audiolog::debug(std::string(label) + " details - Sample Rate: " + numbers::describe(rate) +
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
  const double rate = file.fileFormat().sampleRate();
  const std::uint32_t channels = file.fileFormat().channelCount();
  const std::int64_t length = file.length();
  // A start before the file is its beginning; a start past the range's end (or the file's)
  // is an empty range, never a read outside the file.
  const auto frameAt = [&](double seconds) {
    const double frame = std::trunc(seconds * rate);
    return static_cast<std::int64_t>(std::clamp(frame, 0.0, static_cast<double>(length)));
  };
  const std::int64_t start = frameAt(startTime.value_or(0.0));
  const std::int64_t end = std::max(start, endTime ? frameAt(*endTime) : length);
  const std::int64_t count = end - start;
  if (static_cast<double>(count) > kMaxFrameCount) {
    throw WhisperError::loadAudioFailed("Audio range of " + std::to_string(count) +
                                        " frames is too long to load at once");
  }
  file.setFramePosition(start);

  std::shared_ptr<PcmBuffer> buffer;
  if (rate == kSampleRate && channels == 1) {
    buffer = PcmBuffer::make(file.processingFormat(), static_cast<std::uint32_t>(count));
    if (!buffer) {
      throw WhisperError::loadAudioFailed("Unable to create audio buffer");
    }
    try {
      file.read(*buffer, static_cast<std::uint32_t>(count));
    } catch (const platform::AudioFileError &error) {
      throw WhisperError::loadAudioFailed(std::string("Failed to read audio file: ") +
                                          error.what());
    }
  } else {
    buffer = resampleAudio(file, kSampleRate, 1, mode, count,
                           maxReadFrameSize.value_or(kDefaultMaxReadFrameSize));
    if (!buffer) {
      throw WhisperError::loadAudioFailed("Failed to process audio buffer");
    }
  }

  if (audiolog::debugEnabled()) {
    logDetails("Audio source", rate, channels, length);
    logDetails("Audio buffer", buffer->format().sampleRate(), buffer->format().channelCount(),
               buffer->frameLength());
    audiolog::memoryUsage("After loadAudio function");
  }
  return buffer;
}

std::shared_ptr<PcmBuffer> AudioProcessor::resampleAudio(AudioFile &file, double toSampleRate,
                                                         std::uint32_t channelCount,
                                                         const AudioInputConfig::ChannelMode &mode,
                                                         std::optional<std::int64_t> frameCount,
                                                         std::uint32_t maxReadFrameSize) {
  const double rate = file.fileFormat().sampleRate();
  const std::int64_t first = file.framePosition();
  const std::int64_t frames = std::max<std::int64_t>(0, frameCount.value_or(file.length()));
  const std::int64_t end = std::min(first + frames, file.length());

  const auto outputFormat = platform::AudioFormat::standard(toSampleRate, channelCount);
  if (!outputFormat) {
    audiolog::error("Failed to create output audio format");
    return nullptr;
  }
  const double duration = static_cast<double>(frames) / rate;
  if (audiolog::debugEnabled()) {
    audiolog::debug("Resampling " + numbers::fixed(duration, 2) + " seconds of audio");
  }
  const double capacity = std::trunc(toSampleRate * duration);
  std::shared_ptr<PcmBuffer> output;
  if (capacity <= kMaxFrameCount) {
    output = PcmBuffer::make(*outputFormat, static_cast<std::uint32_t>(capacity));
  }
  if (!output) {
    audiolog::error("Failed to create output buffer");
    return nullptr;
  }
  std::shared_ptr<PcmBuffer> readBuffer;
  if (maxReadFrameSize > 0) {
    readBuffer = PcmBuffer::make(file.processingFormat(), maxReadFrameSize);
  }
  if (!readBuffer) {
    audiolog::error("Failed to create read buffer");
    return nullptr;
  }
  if (first >= end) {
    return output;
  }

  // One converter for the whole range: pieces are fed to it in order and it is drained after
  // the last one, so piece boundaries leave no seam and the total length is exact.
  const auto monoFormat = platform::AudioFormat::standard(rate, 1);
  const auto converter = platform::AudioConverter::make(*monoFormat, *outputFormat);
  if (!converter) {
    audiolog::error("Failed to create audio converter");
    return nullptr;
  }
  const double ratio = toSampleRate / rate;
  auto converted = PcmBuffer::make(
      *outputFormat, static_cast<std::uint32_t>(
                         std::min(kMaxFrameCount, std::ceil(maxReadFrameSize * ratio) + 1024)));
  if (!converted) {
    audiolog::error("Failed to create output buffer");
    return nullptr;
  }

  bool last = false;
  while (!last) {
    const std::int64_t position = file.framePosition();
    const auto n =
        static_cast<std::uint32_t>(std::min<std::int64_t>(maxReadFrameSize, end - position));
    if (audiolog::debugEnabled()) {
      audiolog::debug("Resampling " + numbers::fixed(static_cast<double>(position) / rate, 2) +
                      "s - " + numbers::fixed(static_cast<double>(position + n) / rate, 2) + "s");
    }
    try {
      file.read(*readBuffer, n);
    } catch (const platform::AudioFileError &error) {
      audiolog::error(std::string("Error reading audio file: ") + error.what());
      return nullptr;
    }
    // A file that ends before its announced length (as compressed files may) ends the range.
    last = position + n >= end || readBuffer->frameLength() < n;
    const auto mono = convertToMono(readBuffer, mode);
    if (!mono) {
      audiolog::error("Failed to process audio channels");
      return nullptr;
    }
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
      status = converter->convert(*converted, error, input);
      if (status == AudioConverterOutputStatus::error) {
        audiolog::error("Failed to resample audio chunk");
        return nullptr;
      }
      if (converted->frameLength() > 0 &&
          !appendPCMBuffer(*output, *converted, 0, converted->frameLength())) {
        audiolog::error("Failed to append audio chunk");
        return nullptr;
      }
    }
  }
  return output;
}

std::vector<float> AudioProcessor::loadAudioAsFloatArray(const std::string &path,
                                                         const AudioInputConfig::ChannelMode &mode,
                                                         std::optional<double> startTime,
                                                         std::optional<double> endTime) {
  requireFinite(startTime, "start");
  requireFinite(endTime, "end");
  const auto file = openExisting(path);
  const double rate = file->fileFormat().sampleRate();
  const std::int64_t length = file->length();
  if (static_cast<double>(length) > kMaxFrameCount) {
    throw WhisperError::loadAudioFailed("Audio file " + path + " of " + std::to_string(length) +
                                        " frames is too long to load");
  }
  const double total = static_cast<double>(length) / rate;
  double from = std::max(0.0, startTime.value_or(0.0));
  const double to = std::min(total, endTime.value_or(total));
  std::vector<float> samples;
  if (from < to) {
    // The length is the file's own claim; a damaged header must not reserve more than a long
    // recording could fill.
    samples.reserve(static_cast<std::size_t>(
        std::min(std::ceil((to - from) * kSampleRate) + 1, kLargestReservation)));
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
    from = pieceEnd;
  }
  return samples;
}

std::vector<AudioLoadResult> AudioProcessor::loadAudio(const std::vector<std::string> &paths,
                                                       const AudioInputConfig::ChannelMode &mode) {
  std::vector<AudioLoadResult> results(paths.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < paths.size(); i = next++) {
      try {
        results[i].value = loadAudioAsFloatArray(paths[i], mode, 0.0, std::nullopt);
      } catch (...) {
        results[i].value = std::current_exception();
      }
    }
  };
  const std::size_t workers =
      std::min<std::size_t>(paths.size(), std::max(2u, std::thread::hardware_concurrency()));
  std::vector<std::jthread> threads;
  for (std::size_t w = 1; w < workers; ++w) {
    threads.emplace_back(work);
  }
  work();
  return results;
}

} // namespace divuvovize
