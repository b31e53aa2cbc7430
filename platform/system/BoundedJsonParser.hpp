#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <stdexcept>
#include <string_view>

namespace platform {

// Bounds on one JSON document read from outside (a file, a model header). Each stops a hostile
// document from costing more than a document of its purpose ever needs: deep nesting overflows
// the stack of everything that walks a value recursively (printing, comparing), and a huge
// member or value count costs memory out of proportion to the file.
struct JsonLimits {
  // Arrays and objects may nest this many levels; one more is refused.
  int maxDepth = 64;
  // Members of any one array or object.
  std::size_t maxMembers = 65536;
  // Values of the whole document: every member, array element and the root count once.
  std::size_t maxValues = std::size_t{1} << 20;
};

// A document beyond its JsonLimits. what() names the bound: "nested more than 64 levels deep",
// "an array or object holds more than 65536 members", "holds more than 1048576 values".
class JsonLimitError : public std::length_error {
public:
  using std::length_error::length_error;
};

// Parses `text` in one pass, in time linear in its length (objects are ordered by key; a
// repeated key keeps its last value). Throws nlohmann::json::parse_error for malformed JSON and
// JsonLimitError as soon as the document passes a bound.
nlohmann::json parseJsonWithinLimits(std::string_view text, const JsonLimits &limits = {});

} // namespace platform
