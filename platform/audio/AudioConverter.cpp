#include "platform/audio/AudioConverter.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include <soxr.h>

namespace platform {

struct AudioConverter::Resampler {
  soxr_t handle = nullptr;
  ~Resampler() {
    if (handle != nullptr) {
      soxr_delete(handle);
    }
  }
};

namespace {

bool supportedInput(const AudioFormat &format) {
  return format.commonFormat() == AudioCommonFormat::pcmFormatFloat32 ||
         format.commonFormat() == AudioCommonFormat::pcmFormatInt16;
}

} // namespace

AudioConverter::AudioConverter(const AudioFormat &from, const AudioFormat &to)
    : from_(from), to_(to), pending_(to.channelCount()) {}

AudioConverter::~AudioConverter() = default;

std::unique_ptr<AudioConverter> AudioConverter::make(const AudioFormat &from,
                                                     const AudioFormat &to) {
  if (!supportedInput(from) || !to.isStandard()) {
    return nullptr;
  }
  std::unique_ptr<AudioConverter> converter(new AudioConverter(from, to));
  if (from.sampleRate() != to.sampleRate()) {
    // Linear phase keeps every frequency's delay equal, and soxr compensates that delay, so
    // the output is not shifted in time against the input.
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    converter->resampler_ = std::make_unique<Resampler>();
    converter->resampler_->handle = soxr_create(from.sampleRate(), to.sampleRate(),
                                                to.channelCount(), &error, &io, &quality, &runtime);
    if (error != nullptr || converter->resampler_->handle == nullptr) {
      return nullptr;
    }
  }
  return converter;
}

void AudioConverter::reset() {
  if (resampler_) {
    soxr_clear(resampler_->handle);
  }
  for (auto &channel : pending_) {
    channel.clear();
  }
  pendingOffset_ = 0;
  ended_ = false;
  drained_ = false;
}

bool AudioConverter::takeInput(const PcmBuffer &buffer, std::string &error) {
  const AudioFormat &format = buffer.format();
  if (format.sampleRate() != from_.sampleRate() || format.channelCount() != from_.channelCount() ||
      !supportedInput(format)) {
    error = "input buffer format (" + format.description() +
            ") does not match the converter's input format (" + from_.description() + ")";
    return false;
  }
  if (pendingOffset_ > 0) {
    for (auto &channel : pending_) {
      channel.erase(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(pendingOffset_));
    }
    pendingOffset_ = 0;
  }
  const std::uint32_t frames = buffer.frameLength();
  const std::uint32_t stride = buffer.stride();
  const std::uint32_t inputChannels = format.channelCount();
  for (std::uint32_t out = 0; out < to_.channelCount(); ++out) {
    const std::uint32_t in = out < inputChannels ? out : 0;
    // Interleaved input has one buffer holding every channel at offset `in`.
    const std::uint32_t bufferIndex = format.isInterleaved() ? 0 : in;
    const std::uint32_t offset = format.isInterleaved() ? in : 0;
    auto &target = pending_[out];
    const std::size_t base = target.size();
    target.resize(base + frames);
    if (const float *source = buffer.floatChannelData(bufferIndex); source && stride == 1) {
      std::copy_n(source, frames, target.begin() + static_cast<std::ptrdiff_t>(base));
    } else if (source) {
      for (std::uint32_t i = 0; i < frames; ++i) {
        target[base + i] = source[static_cast<std::size_t>(i) * stride + offset];
      }
    } else if (const std::int16_t *ints = buffer.int16ChannelData(bufferIndex)) {
      for (std::uint32_t i = 0; i < frames; ++i) {
        target[base + i] =
            static_cast<float>(ints[static_cast<std::size_t>(i) * stride + offset]) / 32768.0f;
      }
    }
  }
  return true;
}

bool AudioConverter::step(PcmBuffer &output, std::uint32_t &produced, bool flush,
                          std::string &error) {
  const std::uint32_t channels = to_.channelCount();
  const std::size_t room = output.frameCapacity() - produced;
  // soxr copies all the input it is given into its own queue; small steps keep that queue
  // (and its reallocations) small however large the caller's buffers are.
  constexpr std::size_t kStepFrames = 16384;
  const std::size_t available = std::min(pendingFrames(), kStepFrames);
  std::size_t consumed = 0;
  std::size_t written = 0;
  if (!resampler_) {
    written = std::min(room, available);
    for (std::uint32_t c = 0; c < channels; ++c) {
      std::copy_n(pending_[c].data() + pendingOffset_, written,
                  output.floatChannelData(c) + produced);
    }
    consumed = written;
  } else {
    std::array<const float *, AudioFormat::kMaxChannelCount> in{};
    std::array<float *, AudioFormat::kMaxChannelCount> out{};
    for (std::uint32_t c = 0; c < channels; ++c) {
      in[c] = pending_[c].data() + pendingOffset_;
      out[c] = output.floatChannelData(c) + produced;
    }
    // A null input tells soxr that the stream has ended and its filter should be drained.
    const soxr_in_t input = flush ? nullptr : static_cast<soxr_in_t>(in.data());
    const soxr_error_t failure =
        soxr_process(resampler_->handle, input, flush ? 0 : available, flush ? nullptr : &consumed,
                     static_cast<soxr_out_t>(out.data()), room, &written);
    if (failure != nullptr) {
      error = failure;
      return false;
    }
  }
  pendingOffset_ += consumed;
  if (pendingOffset_ == pending_[0].size()) {
    for (auto &channel : pending_) {
      channel.clear();
    }
    pendingOffset_ = 0;
  }
  produced += static_cast<std::uint32_t>(written);
  if (flush && written == 0) {
    drained_ = true;
  }
  return true;
}

AudioConverterOutputStatus AudioConverter::convert(PcmBuffer &output, std::string &error,
                                                   const AudioConverterInputBlock &input) {
  if (!(output.format() == to_)) {
    error = "output buffer format (" + output.format().description() +
            ") does not match the converter's output format (" + to_.description() + ")";
    return AudioConverterOutputStatus::error;
  }
  output.setFrameLength(0);
  std::uint32_t produced = 0;
  const double ratio = from_.sampleRate() / to_.sampleRate();
  while (produced < output.frameCapacity()) {
    if (drained_) {
      output.setFrameLength(produced);
      return AudioConverterOutputStatus::endOfStream;
    }
    if (pendingFrames() == 0 && !ended_) {
      const auto wanted = static_cast<double>(output.frameCapacity() - produced) * ratio;
      // Without an input block the stream has nothing more to give.
      const AudioConverterInput next =
          input ? input(static_cast<std::uint32_t>(std::min(std::ceil(wanted), 4294967295.0)))
                : AudioConverterInput{};
      if (next.status == AudioConverterInputStatus::endOfStream) {
        ended_ = true;
      } else if (next.status == AudioConverterInputStatus::haveData && next.buffer &&
                 next.buffer->frameLength() > 0) {
        if (!takeInput(*next.buffer, error)) {
          output.setFrameLength(produced);
          return AudioConverterOutputStatus::error;
        }
      } else {
        // No data for now (an empty buffer counts as none): hand out what is ready.
        if (!step(output, produced, /*flush=*/false, error)) {
          output.setFrameLength(produced);
          return AudioConverterOutputStatus::error;
        }
        output.setFrameLength(produced);
        return produced == output.frameCapacity() ? AudioConverterOutputStatus::haveData
                                                  : AudioConverterOutputStatus::inputRanDry;
      }
    }
    const std::uint32_t before = produced;
    const std::size_t pendingBefore = pendingFrames();
    if (!step(output, produced, /*flush=*/pendingFrames() == 0 && ended_, error)) {
      output.setFrameLength(produced);
      return AudioConverterOutputStatus::error;
    }
    if (produced == before && pendingFrames() == pendingBefore && !drained_ && pendingBefore > 0) {
      error = "the resampler made no progress";
      output.setFrameLength(produced);
      return AudioConverterOutputStatus::error;
    }
  }
  output.setFrameLength(produced);
  return AudioConverterOutputStatus::haveData;
}

} // namespace platform
