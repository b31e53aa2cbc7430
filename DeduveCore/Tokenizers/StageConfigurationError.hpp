#pragma once

#include <stdexcept>
#include <string>

namespace deduve {

// A tokenizer stage (normalizer, pre-tokenizer, decoder, post-processor) that cannot be built
// from its document object: an unknown "type", a missing required member, a pattern that does
// not compile. what() is the fixed message naming the fault, such as
// "Unsupported Normalizer type: nfkc" or "No decoders in Sequence". A tokenizer loader reports
// it as a loading failure; nothing is built from such a document.
class StageConfigurationError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

} // namespace deduve
