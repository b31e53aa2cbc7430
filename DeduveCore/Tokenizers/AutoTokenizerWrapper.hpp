#pragma once

#include <filesystem>
#include <string>

#include "DeduveCore/Tokenizers/TokenizerWrapper.hpp"

namespace deduve {

class HubApiWrapper;

// Loads a model's tokenizer from its two tokenizer documents (tokenizer_config.json and
// tokenizer.json), fetched from the model hub or read from a local folder. Both loaders block
// until the documents are loaded and the tokenizer is built; call them off the main thread.
class AutoTokenizerWrapper {
public:
  AutoTokenizerWrapper() = delete;

  // The tokenizer of hub repository `pretrained` at revision "main", downloaded through
  // `hubApi` into its local folder of the repository. The tokenizer_class (without "Fast")
  // picks the tokenizer class: "LlamaTokenizer" gets the Llama adaptation, any other the plain
  // tokenizer. Throws TokenizerError::missingConfig without a tokenizer configuration,
  // TokenizerError for documents the tokenizer cannot use (with `strict`, an unregistered
  // class too), StageConfigurationError for stages it cannot build; hub and network errors
  // pass through unchanged.
  static TokenizerWrapper fromPretrained(const std::string &pretrained, const HubApiWrapper &hubApi,
                                         bool strict);

  // The tokenizer of the documents in `modelFolder`, always the plain tokenizer (no class
  // lookup). Errors as above; a missing or unreadable tokenizer.json is the hub client's
  // document error.
  static TokenizerWrapper fromModelFolder(const std::filesystem::path &modelFolder,
                                          const HubApiWrapper &hubApi, bool strict);
};

} // namespace deduve
