#include "DeduveCore/Support/JsonUtilities.hpp"

#include "platform/text/Excerpt.hpp"

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
  return nlohmann::json::parse_error::create(
      101, nestingLimitPosition(text, limit),
      "arrays and objects are nested more than " + std::to_string(limit) + " levels deep", nullptr);
}

void throwParseError(const nlohmann::detail::exception &error) {
  const auto *parseError = dynamic_cast<const nlohmann::json::parse_error *>(&error);
  std::string_view message = error.what();
  if (parseError != nullptr && message.size() <= platform::kMessageBytes) {
    throw *parseError;
  }
  // The parser quotes the token it stopped at whole, so a number of millions of digits would
  // make a message of megabytes; it keeps its reason and an excerpt of the token.
  if (parseError != nullptr) {
    if (const auto colon = message.find(": "); colon != std::string_view::npos) {
      message.remove_prefix(colon + 2);
    }
  }
  throw nlohmann::json::parse_error::create(parseError != nullptr ? parseError->id : 101,
                                            parseError != nullptr ? parseError->byte : 0,
                                            platform::boundedMessage(message), nullptr);
}

} // namespace deduve
