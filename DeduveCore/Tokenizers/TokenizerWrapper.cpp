#include "DeduveCore/Tokenizers/TokenizerWrapper.hpp"

#include <stdexcept>

namespace deduve {

TokenizerWrapper::TokenizerWrapper(std::shared_ptr<const Tokenizer> impl) : impl_(std::move(impl)) {
  if (!impl_)
    throw std::invalid_argument("TokenizerWrapper: no tokenizer");
}

} // namespace deduve
