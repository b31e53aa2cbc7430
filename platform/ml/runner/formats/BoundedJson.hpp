#pragma once

#include "platform/system/BoundedJsonParser.hpp"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::runner {

// JSON of the model files (model.json, the safetensors header) is outside data. These helpers
// keep a hostile document from exhausting the stack or the processor: parsing takes time linear
// in the text and refuses nesting deeper than kMaxJsonNesting (the parser itself does not
// recurse, but printing and comparing values do), and messages describe a value by its type and
// a short excerpt, never by printing it whole.

// Far deeper than any model description or safetensors header nests.
constexpr int kMaxJsonNesting = 64;

// Parses `text` within `limits`, whose depth is at most kMaxJsonNesting. Throws
// nlohmann::json::exception for malformed JSON, and JsonLimitError (a std::length_error: "nested
// more than 64 levels deep", ...) for a document beyond the limits.
nlohmann::json parseBoundedJson(std::string_view text, JsonLimits limits = {});

// At most a few dozen characters of `text`, control characters and quotes replaced, "..." marking
// a cut.
std::string boundedExcerpt(std::string_view text);

// "an array", "an object", "the string \"F64\"", "the number -3", ... with strings cut to a few
// dozen characters.
std::string describeJson(const nlohmann::json &value);

} // namespace platform::runner
