#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

namespace deduve {

// Parses a JSON document the way the hub client reads every local document. A UTF-8
// byte-order mark inside a string value (tokenizer vocabularies hold such tokens) is kept in
// the parsed string exactly once; only a mark at the very start of the document is skipped.
// Throws nlohmann::json::parse_error for text that is not JSON (empty text included).
nlohmann::ordered_json loadJSONKeepingBOM(std::string_view bytes);

} // namespace deduve
