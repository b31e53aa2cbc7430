#include "DeduveCore/Support/Config.hpp"

#include "DeduveCore/Support/JsonUtilities.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace deduve {

namespace {

template <class Json> Config fromNumber(const Json &document) {
  if (document.is_number_integer()) {
    if (document.is_number_unsigned()) {
      const auto value = document.template get<std::uint64_t>();
      if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return Config(static_cast<float>(value));
      }
      return Config(static_cast<std::int64_t>(value));
    }
    return Config(document.template get<std::int64_t>());
  }
  return Config(static_cast<float>(document.template get<double>()));
}

template <class Json> Config fromDocument(const Json &document, bool tokens) {
  switch (document.type()) {
  case nlohmann::json::value_t::object: {
    std::vector<Config::Dictionary::Entry> entries;
    entries.reserve(document.size());
    for (auto it = document.begin(); it != document.end(); ++it) {
      entries.emplace_back(BinaryDistinctString(std::string_view(it.key())),
                           fromDocument(it.value(), tokens));
    }
    return Config(Config::Dictionary(std::move(entries)));
  }
  case nlohmann::json::value_t::array: {
    if (tokens && document.size() == 2 && document[0].is_number_integer() &&
        (document[0].is_number_unsigned() || document[0].template get<std::int64_t>() >= 0) &&
        document[1].is_string()) {
      return Config::token(
          document[0].template get<std::uint64_t>(),
          BinaryDistinctString(document[1].template get_ref<const std::string &>()));
    }
    std::vector<Config> elements;
    elements.reserve(document.size());
    for (const auto &element : document) {
      elements.push_back(fromDocument(element, tokens));
    }
    return Config(std::move(elements));
  }
  case nlohmann::json::value_t::string:
    return Config(BinaryDistinctString(document.template get_ref<const std::string &>()));
  case nlohmann::json::value_t::boolean:
    return Config(document.template get<bool>());
  case nlohmann::json::value_t::number_integer:
  case nlohmann::json::value_t::number_unsigned:
  case nlohmann::json::value_t::number_float:
    return fromNumber(document);
  default:
    return Config();
  }
}

} // namespace

Config::Config(const nlohmann::json &document) : Config(fromDocument(document, false)) {}
Config::Config(const nlohmann::ordered_json &document) : Config(fromDocument(document, false)) {}

namespace {

// Builds a Config from parser events, so no intermediate document (and no linear key search
// per inserted key) is needed.
class ConfigBuilder final : public nlohmann::json_sax<nlohmann::json> {
public:
  bool null() override { return add(Config()); }
  bool boolean(bool value) override { return add(Config(value)); }
  bool number_integer(number_integer_t value) override {
    return add(Config(static_cast<std::int64_t>(value)));
  }
  bool number_unsigned(number_unsigned_t value) override {
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return add(Config(static_cast<float>(value)));
    }
    return add(Config(static_cast<std::int64_t>(value)));
  }
  bool number_float(number_float_t value, const string_t &) override {
    return add(Config(static_cast<float>(value)));
  }
  bool string(string_t &value) override { return add(Config(BinaryDistinctString(value))); }
  bool binary(binary_t &) override { return add(Config()); }
  bool start_object(std::size_t) override {
    if (!enter()) {
      return false;
    }
    frames_.push_back(Frame{/*isObject=*/true, {}, {}, {}});
    return true;
  }
  bool key(string_t &value) override {
    frames_.back().key = BinaryDistinctString(value);
    return true;
  }
  bool end_object() override {
    Frame frame = std::move(frames_.back());
    frames_.pop_back();
    return add(Config(Config::Dictionary(std::move(frame.entries))));
  }
  bool start_array(std::size_t) override {
    if (!enter()) {
      return false;
    }
    frames_.push_back(Frame{/*isObject=*/false, {}, {}, {}});
    return true;
  }
  bool end_array() override {
    Frame frame = std::move(frames_.back());
    frames_.pop_back();
    return add(Config(std::move(frame.elements)));
  }
  bool parse_error(std::size_t, const std::string &,
                   const nlohmann::detail::exception &error) override {
    throwParseError(error);
  }

  Config result() { return std::move(root_); }

  // Containers nested deeper than this are refused: a Config is copied, compared, printed and
  // destroyed recursively, so a downloaded document of a few hundred kilobytes of brackets
  // would otherwise overflow the stack. Real configuration documents nest a few levels.
  static constexpr std::size_t kMaximumNesting = 512;

private:
  struct Frame {
    bool isObject;
    std::vector<Config::Dictionary::Entry> entries;
    std::vector<Config> elements;
    BinaryDistinctString key;
  };

  bool enter() const { return frames_.size() < kMaximumNesting; }

  bool add(Config value) {
    if (frames_.empty()) {
      root_ = std::move(value);
    } else if (frames_.back().isObject) {
      frames_.back().entries.emplace_back(std::move(frames_.back().key), std::move(value));
    } else {
      frames_.back().elements.push_back(std::move(value));
    }
    return true;
  }

  std::vector<Frame> frames_;
  Config root_;
};

} // namespace

Config Config::parse(std::string_view text) {
  ConfigBuilder builder;
  // The builder stops the parse only when the nesting is too deep; syntax errors throw.
  if (!nlohmann::json::sax_parse(text.begin(), text.end(), &builder)) {
    throw nestingLimitError(text, ConfigBuilder::kMaximumNesting);
  }
  return builder.result();
}

Config Config::decode(const nlohmann::ordered_json &document) {
  return fromDocument(document, true);
}

nlohmann::ordered_json Config::encode() const {
  switch (kind()) {
  case Kind::string:
    return std::get<BinaryDistinctString>(value_).string();
  case Kind::integer:
    return std::get<std::int64_t>(value_);
  case Kind::boolean:
    return std::get<bool>(value_);
  case Kind::floating: {
    // The double whose shortest form is the float's own ("0.1", not the float's exact value
    // 0.10000000149011612), so the document shows the value as written.
    const float value = std::get<float>(value_);
    if (!std::isfinite(value)) {
      return value;
    }
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::strtod(std::string(text, written.ptr).c_str(), nullptr);
  }
  case Kind::dictionary: {
    auto object = nlohmann::ordered_json::object();
    for (const auto &[key, value] : std::get<Dictionary>(value_)) {
      object[key.string()] = value.encode();
    }
    return object;
  }
  case Kind::array: {
    auto list = nlohmann::ordered_json::array();
    for (const auto &element : std::get<Array>(value_)) {
      list.push_back(element.encode());
    }
    return list;
  }
  case Kind::token: {
    const auto &token = std::get<Token>(value_);
    return nlohmann::ordered_json::array({token.id, token.text.string()});
  }
  case Kind::null:
    break;
  }
  return nullptr;
}

} // namespace deduve
