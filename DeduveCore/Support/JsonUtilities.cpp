#include "DeduveCore/Support/JsonUtilities.hpp"

#include <string>

namespace deduve {

namespace {

std::size_t nestingLimitPosition(std::string_view text, std::size_t limit) {
  std::size_t depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit)
        return i + 1;
    } else if (c == ']' || c == '}') {
      if (depth > 0)
        --depth;
    }
  }
  return 0;
}

} // namespace

nlohmann::json::parse_error nestingLimitError(std::string_view text, std::size_t limit) {
  return nlohmann::json::parse_error::create(101, nestingLimitPosition(text, limit),
                                             "arrays and objects are nested more than " +
                                                 std::to_string(limit) + " levels deep",
                                             nullptr);
}

void throwParseError(const nlohmann::detail::exception &error) {
  if (const auto *parseError = dynamic_cast<const nlohmann::json::parse_error *>(&error)) {
    throw *parseError;
  }
  throw nlohmann::json::parse_error::create(101, 0, error.what(), nullptr);
}

} // namespace deduve
