#include "DivuvovIze/Decoding/Decoder/TextDecoder.hpp"

#include "DivuvovIze/Decoding/Decoder/TokenDecodingLoop.hpp"
#include "platform/system/Clock.hpp"

namespace divuvovize {

DecodingResult TextDecoder::decodeText(const AudioEncoderOutputType &encoderOutput,
                                       DecodingInputsType &inputs, TokenSampling &sampler,
                                       const DecodingOptions &options,
                                       const TranscriptionCallback &callback) {
  return TokenDecodingLoop::decodeText(*this, earlyStopActor_, encoderOutput, inputs, sampler,
                                       options, callback, *platform::SteadyClock::system(),
                                       *platform::WallClock::system());
}

} // namespace divuvovize
