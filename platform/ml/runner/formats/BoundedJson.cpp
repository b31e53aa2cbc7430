#include "platform/ml/runner/formats/BoundedJson.hpp"

#include <algorithm>

namespace platform::runner {
namespace {

constexpr std::size_t kExcerptLength = 40;

} // namespace

nlohmann::json parseBoundedJson(std::string_view text, JsonLimits limits) {
  limits.maxDepth = std::min(limits.maxDepth, kMaxJsonNesting);
  return parseJsonWithinLimits(text, limits);
}

std::string boundedExcerpt(std::string_view text) {
  std::string excerpt(text.substr(0, kExcerptLength));
  for (auto &c : excerpt) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '"') {
      c = '?';
    }
  }
  return text.size() > kExcerptLength ? excerpt + "..." : excerpt;
}

std::string describeJson(const nlohmann::json &value) {
  switch (value.type()) {
  case nlohmann::json::value_t::string:
    return "the string \"" + boundedExcerpt(value.get_ref<const std::string &>()) + "\"";
  case nlohmann::json::value_t::number_integer:
    return "the number " + std::to_string(value.get<std::int64_t>());
  case nlohmann::json::value_t::number_unsigned:
    return "the number " + std::to_string(value.get<std::uint64_t>());
  case nlohmann::json::value_t::number_float:
    return "the number " + std::to_string(value.get<double>());
  case nlohmann::json::value_t::boolean:
    return value.get<bool>() ? "true" : "false";
  case nlohmann::json::value_t::null:
    return "null";
  case nlohmann::json::value_t::array:
    return "an array of " + std::to_string(value.size());
  case nlohmann::json::value_t::object:
    return "an object";
  default:
    return "a " + std::string(value.type_name());
  }
}

} // namespace platform::runner
