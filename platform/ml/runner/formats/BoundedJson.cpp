#include "platform/ml/runner/formats/BoundedJson.hpp"

#include <stdexcept>

namespace platform::runner {
namespace {

constexpr std::size_t kExcerptLength = 40;

} // namespace

nlohmann::ordered_json parseBoundedJson(std::string_view text) {
  using Json = nlohmann::ordered_json;
  // The callback sees the depth of every value before the parser builds deeper ones.
  return Json::parse(text.begin(), text.end(),
                     [](int depth, Json::parse_event_t event, Json & /*parsed*/) {
                       if ((event == Json::parse_event_t::object_start ||
                            event == Json::parse_event_t::array_start) &&
                           depth >= kMaxJsonNesting) {
                         throw std::length_error("nested more than " +
                                                 std::to_string(kMaxJsonNesting) + " levels deep");
                       }
                       return true;
                     });
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

std::string describeJson(const nlohmann::ordered_json &value) {
  switch (value.type()) {
  case nlohmann::ordered_json::value_t::string:
    return "the string \"" + boundedExcerpt(value.get_ref<const std::string &>()) + "\"";
  case nlohmann::ordered_json::value_t::number_integer:
    return "the number " + std::to_string(value.get<std::int64_t>());
  case nlohmann::ordered_json::value_t::number_unsigned:
    return "the number " + std::to_string(value.get<std::uint64_t>());
  case nlohmann::ordered_json::value_t::number_float:
    return "the number " + std::to_string(value.get<double>());
  case nlohmann::ordered_json::value_t::boolean:
    return value.get<bool>() ? "true" : "false";
  case nlohmann::ordered_json::value_t::null:
    return "null";
  case nlohmann::ordered_json::value_t::array:
    return "an array of " + std::to_string(value.size());
  case nlohmann::ordered_json::value_t::object:
    return "an object";
  default:
    return "a " + std::string(value.type_name());
  }
}

} // namespace platform::runner
