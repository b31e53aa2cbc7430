#pragma once

#include <cstddef>
#include <string_view>

#include <nlohmann/json.hpp>

namespace deduve {

// Helpers shared by the event-driven readers of outside JSON documents, which bound nesting
// themselves and report their refusals as the parser's own errors.

// The parse error of `text` nested deeper than `limit` arrays and objects, placed at the
// 1-based byte position of the bracket that opens level `limit` + 1 (the parser's events do
// not carry positions).
nlohmann::json::parse_error nestingLimitError(std::string_view text, std::size_t limit);

// Rethrows an error the parser hands to its event handler as a parse error.
[[noreturn]] void throwParseError(const nlohmann::detail::exception &error);

} // namespace deduve
