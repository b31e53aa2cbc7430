#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::runner {

// JSON of the model files (model.json, the safetensors header) is outside data. These helpers
// keep a hostile document from exhausting the stack: parsing refuses nesting deeper than
// kMaxJsonNesting (the parser itself does not recurse, but printing and comparing values do), and
// messages describe a value by its type and a short excerpt, never by printing it whole.

// Far deeper than any model description or safetensors header nests.
constexpr int kMaxJsonNesting = 64;

// Parses `text`. Throws nlohmann::json::exception for malformed JSON, and std::length_error
// ("nested more than 64 levels deep") for deeper nesting.
nlohmann::ordered_json parseBoundedJson(std::string_view text);

// At most a few dozen characters of `text`, control characters and quotes replaced, "..." marking
// a cut.
std::string boundedExcerpt(std::string_view text);

// "an array", "an object", "the string \"F64\"", "the number -3", ... with strings cut to a few
// dozen characters.
std::string describeJson(const nlohmann::ordered_json &value);

} // namespace platform::runner
