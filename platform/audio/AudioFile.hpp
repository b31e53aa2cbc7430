#pragma once

#include "platform/audio/AudioFormat.hpp"
#include "platform/audio/PcmBuffer.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// An audio file could not be opened, read, positioned or written. what() names the file and
// the reason, e.g. "Failed to open audio file /tmp/a.wav: Format not recognised.".
class AudioFileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Containers and codecs a file can be written in (reading recognises them by content).
enum class AudioFileType {
  wav,
  aiff,
  flac,
  oggVorbis,
  oggOpus, // rates 8000, 12000, 16000, 24000 or 48000 only
  mp3,
};

// How samples are stored in a written file (ignored by the lossy codecs).
enum class AudioFileSampleFormat {
  int16,
  float32, // wav and aiff only
};

struct AudioFileSettings {
  AudioFileType type = AudioFileType::wav;                           // container and codec
  double sampleRate = 16000;                                         // frames per second
  std::uint32_t channelCount = 1;                                    // interleaved on disk
  AudioFileSampleFormat sampleFormat = AudioFileSampleFormat::int16; // stored samples
};

// An audio file on disk, open for reading or for writing (not both). Readable: WAV, AIFF,
// FLAC, Ogg Vorbis, Ogg Opus and MP3 (whatever the installed libsndfile decodes). Frames are
// counted in the file's own rate. Not thread-safe; the file is closed on destruction.
class AudioFile {
public:
  // Opens `path` for reading; reads deliver 32-bit float samples at the file's rate and
  // channel count, interleaved or not as asked. Throws AudioFileError when the file is missing,
  // unreadable, corrupt or of an unsupported kind.
  static std::unique_ptr<AudioFile> openForReading(const std::filesystem::path &path,
                                                   bool interleaved = false);
  // Creates (or truncates) `path` for writing. Throws AudioFileError when the settings are not
  // supported or the file cannot be created.
  static std::unique_ptr<AudioFile> createForWriting(const std::filesystem::path &path,
                                                     const AudioFileSettings &settings);
  ~AudioFile();
  AudioFile(const AudioFile &) = delete;
  AudioFile &operator=(const AudioFile &) = delete;

  const std::filesystem::path &path() const { return path_; }
  // The file's own rate and channel count, with its stored sample type where it is one of the
  // common formats (16-bit integer), else 32-bit float.
  const AudioFormat &fileFormat() const { return fileFormat_; }
  // The format of the buffers `read` fills and `write` takes.
  const AudioFormat &processingFormat() const { return processingFormat_; }
  // Frames in the file (for a file being written, the frames written so far).
  std::int64_t length() const;

  // The frame the next read starts at.
  std::int64_t framePosition() const { return position_; }
  // Moves the read position; a position past the end reads nothing. Throws AudioFileError
  // when the position is negative or the file cannot seek there.
  void setFramePosition(std::int64_t frame);

  // Reads up to `frameCount` frames from the read position into `buffer` (whose format must
  // equal the processing format and whose capacity must hold `frameCount` frames), sets its
  // frame length to the frames read (fewer at the end of the file) and advances the position.
  // Throws AudioFileError on a read error or a mismatched buffer.
  void read(PcmBuffer &buffer, std::uint32_t frameCount);

  // Appends the buffer's frames (processing format). Throws AudioFileError on failure.
  void write(const PcmBuffer &buffer);

  // Finishes the file; later calls do nothing. Throws AudioFileError when writing fails.
  void close();

private:
  struct Handle;
  AudioFile(std::filesystem::path path, std::unique_ptr<Handle> handle, AudioFormat fileFormat,
            AudioFormat processingFormat, bool writable);

  std::filesystem::path path_;
  std::unique_ptr<Handle> handle_;
  AudioFormat fileFormat_;
  AudioFormat processingFormat_;
  bool writable_;
  std::int64_t position_ = 0;
  std::int64_t written_ = 0;
  std::vector<float> scratch_; // interleaved frames between disk and planar buffers
};

} // namespace platform
