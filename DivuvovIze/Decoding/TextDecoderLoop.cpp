#include "DivuvovIze/Decoding/TextDecoder.hpp"

#include "DivuvovIze/Models/WhisperError.hpp"

namespace divuvovize {

// The token loop is built on top of the decoder's step, prompt and detection; until it is in
// place a window cannot be decoded.
DecodingResult TextDecoder::decodeText(const AudioEncoderOutputType &, DecodingInputsType &,
                                       TokenSampling &, const DecodingOptions &,
                                       const TranscriptionCallback &) {
  throw WhisperError::decodingFailed("The token decoding loop is not available");
}

} // namespace divuvovize
