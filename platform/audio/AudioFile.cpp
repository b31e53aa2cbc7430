#include "platform/audio/AudioFile.hpp"

#include <algorithm>
#include <utility>

#include <sndfile.h>

namespace platform {

struct AudioFile::Handle {
  SNDFILE *file = nullptr;
  SF_INFO info{};
  ~Handle() {
    if (file != nullptr) {
      sf_close(file);
    }
  }
};

namespace {

std::string sndfileError(SNDFILE *file) {
  const char *text = sf_strerror(file);
  return text != nullptr ? text : "unknown error";
}

int sndfileFormat(const AudioFileSettings &settings) {
  const int pcm =
      settings.sampleFormat == AudioFileSampleFormat::float32 ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16;
  switch (settings.type) {
  case AudioFileType::wav:
    return SF_FORMAT_WAV | pcm;
  case AudioFileType::aiff:
    return SF_FORMAT_AIFF | pcm;
  case AudioFileType::flac:
    return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  case AudioFileType::oggVorbis:
    return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  case AudioFileType::oggOpus:
    return SF_FORMAT_OGG | SF_FORMAT_OPUS;
  case AudioFileType::mp3:
    return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
  }
  return 0;
}

bool storesInt16(int format) {
  const int subtype = format & SF_FORMAT_SUBMASK;
  return subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_U8;
}

} // namespace

AudioFile::AudioFile(std::filesystem::path path, std::unique_ptr<Handle> handle,
                     AudioFormat fileFormat, AudioFormat processingFormat, bool writable)
    : path_(std::move(path)), handle_(std::move(handle)), fileFormat_(fileFormat),
      processingFormat_(processingFormat), writable_(writable) {}

AudioFile::~AudioFile() = default;

std::unique_ptr<AudioFile> AudioFile::openForReading(const std::filesystem::path &path,
                                                     bool interleaved) {
  auto handle = std::make_unique<Handle>();
  handle->file = sf_open(path.c_str(), SFM_READ, &handle->info);
  if (handle->file == nullptr) {
    throw AudioFileError("Failed to open audio file " + path.string() + ": " +
                         sndfileError(nullptr));
  }
  const SF_INFO &info = handle->info;
  const auto channels = static_cast<std::uint32_t>(std::max(info.channels, 0));
  const auto fileFormat =
      AudioFormat::make(info.samplerate, channels,
                        storesInt16(info.format) ? AudioCommonFormat::pcmFormatInt16
                                                 : AudioCommonFormat::pcmFormatFloat32,
                        /*interleaved=*/true);
  const auto processing = AudioFormat::make(info.samplerate, channels,
                                            AudioCommonFormat::pcmFormatFloat32, interleaved);
  if (!fileFormat || !processing || info.frames < 0) {
    throw AudioFileError("Failed to open audio file " + path.string() +
                         ": unsupported sample rate " + std::to_string(info.samplerate) +
                         " Hz or channel count " + std::to_string(info.channels));
  }
  // Float reads of integer files come out scaled to [-1, 1).
  sf_command(handle->file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  return std::unique_ptr<AudioFile>(
      new AudioFile(path, std::move(handle), *fileFormat, *processing, /*writable=*/false));
}

std::unique_ptr<AudioFile> AudioFile::createForWriting(const std::filesystem::path &path,
                                                       const AudioFileSettings &settings) {
  const auto processing = AudioFormat::standard(settings.sampleRate, settings.channelCount);
  if (!processing || settings.sampleRate != static_cast<int>(settings.sampleRate)) {
    throw AudioFileError("Failed to create audio file " + path.string() +
                         ": unsupported sample rate or channel count");
  }
  auto handle = std::make_unique<Handle>();
  handle->info.samplerate = static_cast<int>(settings.sampleRate);
  handle->info.channels = static_cast<int>(settings.channelCount);
  handle->info.format = sndfileFormat(settings);
  if (!sf_format_check(&handle->info)) {
    throw AudioFileError("Failed to create audio file " + path.string() +
                         ": the file type does not support these settings");
  }
  handle->file = sf_open(path.c_str(), SFM_WRITE, &handle->info);
  if (handle->file == nullptr) {
    throw AudioFileError("Failed to create audio file " + path.string() + ": " +
                         sndfileError(nullptr));
  }
  const auto fileFormat =
      AudioFormat::make(settings.sampleRate, settings.channelCount,
                        storesInt16(handle->info.format) ? AudioCommonFormat::pcmFormatInt16
                                                         : AudioCommonFormat::pcmFormatFloat32,
                        /*interleaved=*/true);
  return std::unique_ptr<AudioFile>(
      new AudioFile(path, std::move(handle), *fileFormat, *processing, /*writable=*/true));
}

std::int64_t AudioFile::length() const { return writable_ ? written_ : handle_->info.frames; }

void AudioFile::setFramePosition(std::int64_t frame) {
  if (writable_ || handle_->file == nullptr) {
    throw AudioFileError("Cannot position audio file " + path_.string() +
                         ": it is not open for reading");
  }
  if (frame < 0) {
    throw AudioFileError("Cannot position audio file " + path_.string() + " at frame " +
                         std::to_string(frame));
  }
  if (frame >= handle_->info.frames) {
    // Past the end nothing is read; libsndfile refuses such seeks, so remember it ourselves.
    position_ = frame;
    return;
  }
  if (sf_seek(handle_->file, frame, SEEK_SET) < 0) {
    throw AudioFileError("Cannot position audio file " + path_.string() + " at frame " +
                         std::to_string(frame) + ": " + sndfileError(handle_->file));
  }
  position_ = frame;
}

void AudioFile::read(PcmBuffer &buffer, std::uint32_t frameCount) {
  if (writable_ || handle_->file == nullptr) {
    throw AudioFileError("Cannot read audio file " + path_.string() +
                         ": it is not open for reading");
  }
  if (!(buffer.format() == processingFormat_) || frameCount > buffer.frameCapacity()) {
    throw AudioFileError(
        "Cannot read " + std::to_string(frameCount) + " frames of " + path_.string() +
        " into a buffer of " + std::to_string(buffer.frameCapacity()) + " frames (" +
        buffer.format().description() + "), expected " + processingFormat_.description());
  }
  buffer.setFrameLength(0);
  const std::int64_t remaining = std::max<std::int64_t>(0, handle_->info.frames - position_);
  const auto wanted = static_cast<sf_count_t>(std::min<std::int64_t>(frameCount, remaining));
  if (wanted == 0) {
    return;
  }
  const std::uint32_t channels = processingFormat_.channelCount();
  sf_count_t got = 0;
  if (processingFormat_.isInterleaved()) {
    got = sf_readf_float(handle_->file, buffer.floatChannelData(0), wanted);
  } else {
    scratch_.resize(static_cast<std::size_t>(wanted) * channels);
    got = sf_readf_float(handle_->file, scratch_.data(), wanted);
    for (std::uint32_t c = 0; c < channels; ++c) {
      float *target = buffer.floatChannelData(c);
      for (sf_count_t i = 0; i < got; ++i) {
        target[i] = scratch_[static_cast<std::size_t>(i) * channels + c];
      }
    }
  }
  if (got < 0 || (got < wanted && sf_error(handle_->file) != SF_ERR_NO_ERROR)) {
    throw AudioFileError("Failed to read audio file " + path_.string() + ": " +
                         sndfileError(handle_->file));
  }
  buffer.setFrameLength(static_cast<std::uint32_t>(got));
  position_ += got;
}

void AudioFile::write(const PcmBuffer &buffer) {
  if (!writable_ || handle_->file == nullptr) {
    throw AudioFileError("Cannot write audio file " + path_.string() +
                         ": it is not open for writing");
  }
  if (!(buffer.format() == processingFormat_)) {
    throw AudioFileError("Cannot write a buffer (" + buffer.format().description() + ") to " +
                         path_.string() + ", expected " + processingFormat_.description());
  }
  const std::uint32_t channels = processingFormat_.channelCount();
  const std::uint32_t frames = buffer.frameLength();
  scratch_.resize(static_cast<std::size_t>(frames) * channels);
  for (std::uint32_t c = 0; c < channels; ++c) {
    const float *source = buffer.floatChannelData(c);
    for (std::uint32_t i = 0; i < frames; ++i) {
      scratch_[static_cast<std::size_t>(i) * channels + c] = source[i];
    }
  }
  if (sf_writef_float(handle_->file, scratch_.data(), frames) != frames) {
    throw AudioFileError("Failed to write audio file " + path_.string() + ": " +
                         sndfileError(handle_->file));
  }
  written_ += frames;
}

void AudioFile::close() {
  if (handle_->file == nullptr) {
    return;
  }
  const int status = sf_close(handle_->file);
  handle_->file = nullptr;
  if (status != 0) {
    throw AudioFileError("Failed to finish audio file " + path_.string() + ": " +
                         sf_error_number(status));
  }
}

} // namespace platform
