#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "DeduveCore/Tokenizers/Tokenizer.hpp"
#include "DeduveCore/Tokenizers/TokenizingModel.hpp"

namespace deduve {

class Config;

// Builds a tokenizer from (tokenizer configuration, tokenizer data, strict).
using TokenizerConstructor =
    std::function<std::shared_ptr<Tokenizer>(const Config &, const Config &, bool)>;

// A tokenizer_class name without its "Fast" suffix: every occurrence of "Fast" removed.
std::string withoutFast(std::string_view className);

// The tokenizer class that a tokenizer_class name (with "Fast" already removed) selects, if
// any: only "LlamaTokenizer", the Llama-adapted tokenizer. Everything else is the plain
// PreTrainedTokenizer. The table is built once, on first use.
std::optional<TokenizerConstructor> tokenizerClassNamed(std::string_view className);

// The constructor of the class a tokenizer configuration names (the plain PreTrainedTokenizer
// when its tokenizer_class is not a string or names no special class).
TokenizerConstructor tokenizerClassFor(const Config &tokenizerConfig);

// Builds the tokenizing model that the configuration's tokenizer_class selects (BPE,
// WordPiece or Unigram, after removing "Fast").
// Throws TokenizerError::missingTokenizerClassInConfig without a string tokenizer_class, and
// TokenizerError::unsupportedTokenizer(name) for a class outside the table when `strict`;
// otherwise an unknown class prints a warning line and gets the BPE model. Model construction
// errors pass through.
std::unique_ptr<TokenizingModel> makeTokenizingModel(const Config &tokenizerConfig,
                                                     const Config &tokenizerData,
                                                     const AddedTokens &addedTokens, bool strict);

} // namespace deduve
