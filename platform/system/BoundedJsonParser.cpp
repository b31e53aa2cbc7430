#include "platform/system/BoundedJsonParser.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace platform {
namespace {

using Json = nlohmann::json;

// Builds the document from the parser's events. The parser's own callback interface removes a
// discarded value by scanning its parent after every nested container ends, which makes wide
// documents quadratic; this builder does constant work per event.
class BoundedBuilder final : public nlohmann::json_sax<Json> {
public:
  explicit BoundedBuilder(const JsonLimits &limits) : limits_(limits) {}

  bool null() override { return add(Json(nullptr)); }
  bool boolean(bool value) override { return add(Json(value)); }
  bool number_integer(number_integer_t value) override { return add(Json(value)); }
  bool number_unsigned(number_unsigned_t value) override { return add(Json(value)); }
  bool number_float(number_float_t value, const string_t &) override { return add(Json(value)); }
  bool string(string_t &value) override { return add(Json(std::move(value))); }
  bool binary(binary_t &value) override { return add(Json::binary(std::move(value))); }
  bool start_object(std::size_t) override { return open(Json::object()); }
  bool key(string_t &value) override {
    key_ = std::move(value);
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(Json::array()); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t position, const std::string &,
                   const nlohmann::detail::exception &error) override {
    if (const auto *parseError = dynamic_cast<const Json::parse_error *>(&error)) {
      throw *parseError;
    }
    throw Json::parse_error::create(101, position, error.what(), nullptr);
  }

  Json take() { return std::move(root_); }

private:
  Json &place(Json value) {
    if (++values_ > limits_.maxValues) {
      throw JsonLimitError("holds more than " + std::to_string(limits_.maxValues) + " values");
    }
    if (open_.empty()) {
      root_ = std::move(value);
      return root_;
    }
    Json &parent = *open_.back();
    if (parent.size() >= limits_.maxMembers) {
      throw JsonLimitError("an array or object holds more than " +
                           std::to_string(limits_.maxMembers) + " members");
    }
    if (parent.is_array()) {
      parent.push_back(std::move(value));
      return parent.back();
    }
    Json &slot = parent[key_];
    slot = std::move(value);
    return slot;
  }

  bool add(Json value) {
    place(std::move(value));
    return true;
  }

  // A container's slot stays put while it is open: its parent gains no member until it closes.
  bool open(Json container) {
    if (open_.size() >= static_cast<std::size_t>(std::max(limits_.maxDepth, 0))) {
      throw JsonLimitError("nested more than " + std::to_string(limits_.maxDepth) + " levels deep");
    }
    open_.push_back(&place(std::move(container)));
    return true;
  }

  bool close() {
    open_.pop_back();
    return true;
  }

  const JsonLimits &limits_;
  Json root_;
  std::vector<Json *> open_;
  std::string key_;
  std::size_t values_ = 0;
};

} // namespace

Json parseJsonWithinLimits(std::string_view text, const JsonLimits &limits) {
  BoundedBuilder builder(limits);
  Json::sax_parse(text.begin(), text.end(), &builder);
  return builder.take();
}

} // namespace platform
