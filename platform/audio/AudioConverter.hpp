#pragma once

#include "platform/audio/AudioFormat.hpp"
#include "platform/audio/PcmBuffer.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// What an input block reports when the converter asks it for audio.
enum class AudioConverterInputStatus {
  haveData,    // `buffer` holds the next frames of the stream
  noDataNow,   // nothing more for now; the stream goes on in a later `convert` call
  endOfStream, // the stream has ended: the converter drains what it still holds
};

// What one `convert` call achieved.
enum class AudioConverterOutputStatus {
  haveData,    // the output buffer was filled to its capacity
  inputRanDry, // the input block had nothing more for now; the output holds what was ready
  endOfStream, // the stream has ended and everything has been drained
  error,       // see the error text
};

struct AudioConverterInput {
  std::shared_ptr<const PcmBuffer> buffer; // in the converter's input format; may be null
  AudioConverterInputStatus status = AudioConverterInputStatus::endOfStream;
};

// Called by `convert` whenever it needs more input; the argument is a hint of how many input
// frames would fill the output. Every buffer the block returns is consumed exactly once. An
// empty block counts as the end of the stream.
using AudioConverterInputBlock = std::function<AudioConverterInput(std::uint32_t framesWanted)>;

// A streaming sample-rate and channel-count converter. It keeps its filter state (and any
// input it could not yet turn into output) between `convert` calls, so a signal fed as many
// buffers comes out as one continuous signal, time-aligned with the input: the resampling
// filter's delay is compensated, so its output lags in availability, not in time. Frames held
// back by that delay come out once the input block reports the end of the stream. Not
// thread-safe: one stream, one thread at a time.
//
// Channels: output channel k takes input channel k, or input channel 0 when the input has
// fewer channels (so a multi-channel input converted to one channel keeps its first channel).
class AudioConverter {
public:
  // A converter, or nullptr when the formats are not supported: the output must be 32-bit
  // float, not interleaved; the input may be 32-bit float or 16-bit integer in any layout.
  static std::unique_ptr<AudioConverter> make(const AudioFormat &from, const AudioFormat &to);
  ~AudioConverter();
  AudioConverter(const AudioConverter &) = delete;
  AudioConverter &operator=(const AudioConverter &) = delete;

  const AudioFormat &inputFormat() const { return from_; }
  const AudioFormat &outputFormat() const { return to_; }

  // Overwrites `output` (whose format must equal the output format) with up to its capacity of
  // converted frames, asking `input` for audio as needed. On `error`, `error` holds the reason.
  AudioConverterOutputStatus convert(PcmBuffer &output, std::string &error,
                                     const AudioConverterInputBlock &input);

  // Forgets all state: the next `convert` starts a new stream.
  void reset();

private:
  struct Resampler;
  AudioConverter(const AudioFormat &from, const AudioFormat &to);

  // Appends `buffer`'s frames, mapped to the output's channels, to the pending input.
  bool takeInput(const PcmBuffer &buffer, std::string &error);
  std::size_t pendingFrames() const { return pending_[0].size() - pendingOffset_; }
  // One step of work into output frames [produced, capacity): consumes pending input (or,
  // with `flush`, drains the filter) and advances `produced`. Returns false on error.
  bool step(PcmBuffer &output, std::uint32_t &produced, bool flush, std::string &error);

  AudioFormat from_;
  AudioFormat to_;
  std::unique_ptr<Resampler> resampler_; // null when the rates are equal
  std::vector<std::vector<float>> pending_;
  std::size_t pendingOffset_ = 0;
  bool ended_ = false;   // the input block reported the end of the stream
  bool drained_ = false; // and everything has been written out
};

} // namespace platform
