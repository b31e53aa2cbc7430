#include "DeduveCore/Hub/JsonReading.hpp"

namespace deduve {

nlohmann::ordered_json loadJSONKeepingBOM(std::string_view bytes) {
  // The parser keeps every code point of a string as written, a byte-order mark included, so
  // no rewriting of the input is needed to keep the marks that start string values.
  return nlohmann::ordered_json::parse(bytes.begin(), bytes.end());
}

} // namespace deduve
