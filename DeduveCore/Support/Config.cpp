#include "DeduveCore/Support/Config.hpp"

#include "DeduveCore/Support/Description.hpp"
#include "DeduveCore/Support/JsonUtilities.hpp"
#include "DeduveCore/Support/KeyedHash.hpp"
#include "DeduveCore/Text/Unicode.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace deduve {

// ---------------------------------------------------------------------------------------------
// Containers

struct Config::Dictionary::Storage {
  std::vector<Entry> entries;
  // Open addressing with linear probing over positions in `entries` (kEmpty for a free slot):
  // one flat allocation instead of a node per key, which matters for vocabularies of
  // hundreds of thousands of keys, built and freed with every tokenizer. The keys come from
  // outside documents, so their hash is keyed per process: keys crafted to share slots under a
  // fixed hash would make building the table quadratic.
  std::vector<std::uint32_t> slots;
  static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};

  explicit Storage(std::vector<Entry> given) : entries(std::move(given)) {
    // A repeated key hands its value to the first occurrence and its own entry is dropped
    // afterwards (rare: only literals repeat keys).
    if (!index()) {
      dropRepeatedKeys();
    }
  }

  const Config *find(std::u16string_view key) const {
    if (slots.empty()) {
      return nullptr;
    }
    const std::size_t mask = slots.size() - 1;
    for (std::size_t at = keyedHash(key) & mask;; at = (at + 1) & mask) {
      if (slots[at] == kEmpty) {
        return nullptr;
      }
      const Entry &entry = entries[slots[at]];
      if (std::u16string_view(entry.first.value) == key) {
        return &entry.second;
      }
    }
  }

  std::size_t longestProbe() const {
    const std::size_t mask = slots.size() - 1;
    std::size_t longest = 0;
    for (std::size_t at = 0; at < slots.size(); ++at) {
      if (slots[at] != kEmpty) {
        const std::size_t home = keyedHash(std::u16string_view(entries[slots[at]].first.value));
        longest = std::max(longest, ((at - home) & mask) + 1);
      }
    }
    return longest;
  }

private:
  // Fills `slots`; false when a key repeats (its value then already sits in the first entry).
  bool index() {
    std::size_t size = 8;
    while (size < entries.size() * 2) {
      size *= 2;
    }
    slots.assign(entries.empty() ? 0 : size, kEmpty);
    const std::size_t mask = size - 1;
    bool unique = true;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::u16string_view key(entries[i].first.value);
      std::size_t at = keyedHash(key) & mask;
      while (slots[at] != kEmpty && std::u16string_view(entries[slots[at]].first.value) != key) {
        at = (at + 1) & mask;
      }
      if (slots[at] == kEmpty) {
        slots[at] = static_cast<std::uint32_t>(i);
      } else {
        entries[slots[at]].second = std::move(entries[i].second);
        unique = false;
      }
    }
    return unique;
  }

  void dropRepeatedKeys() {
    std::vector<bool> keep(entries.size(), false);
    for (const std::uint32_t position : slots) {
      if (position != kEmpty) {
        keep[position] = true;
      }
    }
    std::vector<Entry> kept;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (keep[i]) {
        kept.push_back(std::move(entries[i]));
      }
    }
    entries = std::move(kept);
    index();
  }
};

Config::Dictionary::Dictionary() : Dictionary(std::vector<Entry>{}) {}

Config::Dictionary::Dictionary(std::vector<Entry> entries)
    : storage_(std::make_shared<const Storage>(std::move(entries))) {}

std::size_t Config::Dictionary::size() const { return storage_->entries.size(); }

const Config *Config::Dictionary::find(std::u16string_view key) const {
  return storage_->find(key);
}

std::size_t Config::Dictionary::longestProbe() const { return storage_->longestProbe(); }

const Config *Config::Dictionary::find(const BinaryDistinctString &key) const {
  return find(std::u16string_view(key.value));
}

const std::vector<Config::Dictionary::Entry> &Config::Dictionary::entries() const {
  return storage_->entries;
}

std::vector<Config::Dictionary::Entry>::const_iterator Config::Dictionary::begin() const {
  return storage_->entries.begin();
}

std::vector<Config::Dictionary::Entry>::const_iterator Config::Dictionary::end() const {
  return storage_->entries.end();
}

Config::Array::Array() : elements_(std::make_shared<const std::vector<Config>>()) {}

Config::Array::Array(std::vector<Config> elements)
    : elements_(std::make_shared<const std::vector<Config>>(std::move(elements))) {}

std::size_t Config::Array::size() const { return elements_->size(); }

const Config &Config::Array::at(std::size_t position) const { return elements_->at(position); }

const Config &Config::Array::operator[](std::size_t position) const {
  return (*elements_)[position];
}

const std::vector<Config> &Config::Array::elements() const { return *elements_; }

std::vector<Config>::const_iterator Config::Array::begin() const { return elements_->begin(); }

std::vector<Config>::const_iterator Config::Array::end() const { return elements_->end(); }

// ---------------------------------------------------------------------------------------------
// Construction

Config::Config() : value_(Null{}) {}
Config::Config(Null) : value_(Null{}) {}
Config::Config(BinaryDistinctString text) : value_(std::move(text)) {}
Config::Config(const char *text) : value_(BinaryDistinctString(std::string_view(text))) {}
Config::Config(const std::string &text) : value_(BinaryDistinctString(std::string_view(text))) {}
Config::Config(std::string_view text) : value_(BinaryDistinctString(text)) {}
Config::Config(IntegerTag, std::int64_t integer) : value_(integer) {}
Config::Config(bool boolean) : value_(boolean) {}
Config::Config(FloatTag, float number) : value_(number) {}
Config::Config(Dictionary dictionary) : value_(std::move(dictionary)) {}
Config::Config(Array array) : value_(std::move(array)) {}
Config::Config(std::vector<Config> elements) : value_(Array(std::move(elements))) {}
Config::Config(Token token) : value_(std::move(token)) {}

Config Config::dictionary(std::initializer_list<std::pair<BinaryDistinctString, Config>> entries) {
  return Config(Dictionary(std::vector<Dictionary::Entry>(entries.begin(), entries.end())));
}

Config Config::dictionary(std::vector<std::pair<BinaryDistinctString, Config>> entries) {
  return Config(Dictionary(std::move(entries)));
}

Config Config::array(std::vector<Config> elements) { return Config(std::move(elements)); }

Config Config::token(std::uint64_t id, BinaryDistinctString text) {
  return Config(Token{id, std::move(text)});
}

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

// ---------------------------------------------------------------------------------------------
// Lookup

BinaryDistinctString Config::camelCaseToSnakeCase(const BinaryDistinctString &key) {
  const std::u16string &units = key.value;
  std::u16string result;
  result.reserve(units.size() + 4);
  bool previousWasOther = false;
  for (std::size_t i = 0; i < units.size();) {
    const std::size_t start = i;
    char32_t scalar = units[i++];
    if (scalar >= 0xD800 && scalar < 0xDC00 && i < units.size() && units[i] >= 0xDC00 &&
        units[i] < 0xE000)
      scalar = 0x10000 + ((scalar - 0xD800) << 10) + (units[i++] - 0xDC00);
    const bool upper = isUppercaseOrTitlecase(scalar);
    if (upper) {
      if (previousWasOther) {
        result.push_back(u'_');
      }
      result += lowercase(std::u16string_view(units).substr(start, i - start));
    } else {
      result.append(units, start, i - start);
    }
    previousWasOther = !upper;
  }
  return BinaryDistinctString(std::move(result));
}

std::string Config::camelCaseToSnakeCase(std::string_view key) {
  return camelCaseToSnakeCase(BinaryDistinctString(key)).string();
}

Config Config::subscript(const BinaryDistinctString &binaryKey) const {
  const auto *dictionary = std::get_if<Dictionary>(&value_);
  if (dictionary == nullptr) {
    return Config();
  }
  if (const Config *found = dictionary->find(binaryKey)) {
    return *found;
  }
  if (const Config *found = dictionary->find(camelCaseToSnakeCase(binaryKey))) {
    return *found;
  }
  return Config();
}

Config Config::operator[](std::string_view key) const {
  return subscript(BinaryDistinctString(key));
}

std::optional<Config> Config::subscriptIfDictionary(std::string_view key) const {
  if (kind() != Kind::dictionary) {
    return std::nullopt;
  }
  return (*this)[key];
}

// ---------------------------------------------------------------------------------------------
// Typed readers

namespace {

std::optional<bool> stringBool(const BinaryDistinctString &text) {
  // Only ASCII letters and digits can spell the accepted words, and no other character
  // lower-cases to one of them in a way that matters here, so ASCII folding suffices.
  if (text.value.size() > 5) {
    return std::nullopt;
  }
  std::string folded;
  for (char16_t unit : text.value) {
    if (unit > 0x7F) {
      return std::nullopt;
    }
    auto c = static_cast<char>(unit);
    folded.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  if (folded == "true" || folded == "t" || folded == "1") {
    return true;
  }
  if (folded == "false" || folded == "f" || folded == "0") {
    return false;
  }
  return std::nullopt;
}

} // namespace

std::optional<bool> Config::boolValue() const {
  switch (kind()) {
  case Kind::boolean:
    return std::get<bool>(value_);
  case Kind::integer:
    return std::get<std::int64_t>(value_) == 1;
  case Kind::string:
    return stringBool(std::get<BinaryDistinctString>(value_));
  default:
    return std::nullopt;
  }
}

std::optional<std::vector<std::string>> Config::stringArray() const {
  const auto *array = std::get_if<Array>(&value_);
  if (array == nullptr) {
    return std::nullopt;
  }
  std::vector<std::string> texts;
  for (const auto &element : *array) {
    if (const auto *text = std::get_if<BinaryDistinctString>(&element.value_)) {
      texts.push_back(text->string());
    }
  }
  return texts;
}

std::optional<std::pair<std::uint64_t, std::string>> Config::tokenValue() const {
  if (const auto *token = std::get_if<Token>(&value_)) {
    return std::make_pair(token->id, token->text.string());
  }
  if (const auto *array = std::get_if<Array>(&value_); array && array->size() == 2) {
    const auto *text = std::get_if<BinaryDistinctString>(&(*array)[0].value_);
    const auto *id = std::get_if<std::int64_t>(&(*array)[1].value_);
    if (text && id && *id >= 0) {
      return std::make_pair(static_cast<std::uint64_t>(*id), text->string());
    }
  }
  return std::nullopt;
}

std::optional<std::string> Config::stringValue() const {
  if (const auto *text = std::get_if<BinaryDistinctString>(&value_)) {
    return text->string();
  }
  return std::nullopt;
}

const BinaryDistinctString *Config::binaryStringValue() const {
  return std::get_if<BinaryDistinctString>(&value_);
}

std::optional<std::int64_t> Config::integerValue() const {
  if (const auto *integer = std::get_if<std::int64_t>(&value_)) {
    return *integer;
  }
  return std::nullopt;
}

std::optional<float> Config::floatValue() const {
  if (const auto *number = std::get_if<float>(&value_)) {
    return *number;
  }
  if (const auto *integer = std::get_if<std::int64_t>(&value_)) {
    return static_cast<float>(*integer);
  }
  return std::nullopt;
}

const Config::Dictionary *Config::dictionaryValue() const {
  return std::get_if<Dictionary>(&value_);
}

const Config::Array *Config::arrayValue() const { return std::get_if<Array>(&value_); }

// ---------------------------------------------------------------------------------------------
// Printing

std::string Config::description() const {
  switch (kind()) {
  case Kind::string: {
    std::string text = "\"";
    text += std::get<BinaryDistinctString>(value_).string();
    text += '"';
    return text;
  }
  case Kind::integer:
    return std::to_string(std::get<std::int64_t>(value_));
  case Kind::boolean:
    return std::get<bool>(value_) ? "true" : "false";
  case Kind::floating:
    return formatFloat(std::get<float>(value_));
  case Kind::dictionary: {
    const auto &dictionary = std::get<Dictionary>(value_);
    if (dictionary.empty()) {
      return "{[:]}";
    }
    std::string text = "{[";
    bool first = true;
    for (const auto &[key, value] : dictionary) {
      text += first ? "" : ", ";
      text += key.string();
      text += ": ";
      text += value.description();
      first = false;
    }
    return text + "]}";
  }
  case Kind::array: {
    std::string text = "[[";
    bool first = true;
    for (const auto &element : std::get<Array>(value_)) {
      text += first ? "" : ", ";
      text += element.description();
      first = false;
    }
    return text + "]]";
  }
  case Kind::token: {
    const auto &token = std::get<Token>(value_);
    std::string text = "(";
    text += std::to_string(token.id);
    text += ", ";
    text += token.text.string();
    text += ')';
    return text;
  }
  case Kind::null:
    break;
  }
  return "null";
}

// ---------------------------------------------------------------------------------------------
// Equality and hashing

bool operator==(const Config &a, const Config &b) {
  using Kind = Config::Kind;
  const Kind left = a.kind();
  const Kind right = b.kind();
  if (left == Kind::integer && right == Kind::integer) {
    return std::get<std::int64_t>(a.value_) == std::get<std::int64_t>(b.value_);
  }
  if (left == Kind::integer && right == Kind::floating) {
    return static_cast<float>(std::get<std::int64_t>(a.value_)) == std::get<float>(b.value_);
  }
  if (left == Kind::floating && right == Kind::integer) {
    return b == a;
  }
  if ((left == Kind::integer && right == Kind::boolean) ||
      (left == Kind::boolean && right == Kind::integer) ||
      (left == Kind::boolean && right == Kind::string) ||
      (left == Kind::string && right == Kind::boolean)) {
    const auto leftBool = a.boolValue();
    const auto rightBool = b.boolValue();
    return leftBool.has_value() && rightBool.has_value() && *leftBool == *rightBool;
  }
  if (left != right) {
    return false;
  }
  switch (left) {
  case Kind::boolean:
    return std::get<bool>(a.value_) == std::get<bool>(b.value_);
  case Kind::floating:
    return std::get<float>(a.value_) == std::get<float>(b.value_);
  case Kind::string:
    return std::get<BinaryDistinctString>(a.value_) == std::get<BinaryDistinctString>(b.value_);
  case Kind::dictionary: {
    const auto &l = std::get<Config::Dictionary>(a.value_);
    const auto &r = std::get<Config::Dictionary>(b.value_);
    if (l.size() != r.size()) {
      return false;
    }
    for (const auto &[key, value] : l) {
      const Config *other = r.find(key);
      if (other == nullptr || !(value == *other)) {
        return false;
      }
    }
    return true;
  }
  case Kind::array: {
    const auto &l = std::get<Config::Array>(a.value_);
    const auto &r = std::get<Config::Array>(b.value_);
    if (l.size() != r.size()) {
      return false;
    }
    for (std::size_t i = 0; i < l.size(); ++i) {
      if (!(l[i] == r[i])) {
        return false;
      }
    }
    return true;
  }
  case Kind::token: {
    const auto &l = std::get<Config::Token>(a.value_);
    const auto &r = std::get<Config::Token>(b.value_);
    return l.id == r.id && l.text == r.text;
  }
  case Kind::null:
    return true;
  case Kind::integer:
    break;
  }
  return false;
}

namespace {

std::size_t mix(std::size_t seed, std::size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ull + (seed << 12) + (seed >> 4));
}

std::size_t unitsHash(std::size_t seed, const std::u16string &units) {
  seed = mix(seed, units.size());
  return mix(seed, std::hash<std::u16string>{}(units));
}

// Equality links integers, floats, booleans and Bool-like strings into two groups: everything
// equal to true (1, 1.0, true, "true", ...) and everything equal to false (every other integer,
// every whole float, false, "false", ...); each group gets one hash.
constexpr std::size_t kTrueGroup = 0x5f3759df12345671ull;
constexpr std::size_t kFalseGroup = 0x2545f4914f6cdd1dull;
constexpr std::size_t kStringMarker = 1;
constexpr std::size_t kFloatMarker = 2;
constexpr std::size_t kDictionaryMarker = 3;
constexpr std::size_t kArrayMarker = 4;
constexpr std::size_t kTokenMarker = 5;
constexpr std::size_t kNullHash = 0x6a09e667f3bcc908ull;

} // namespace

std::size_t Config::hash() const {
  switch (kind()) {
  case Kind::string: {
    const auto &text = std::get<BinaryDistinctString>(value_);
    if (auto coerced = stringBool(text)) {
      return *coerced ? kTrueGroup : kFalseGroup;
    }
    return unitsHash(kStringMarker, text.value);
  }
  case Kind::integer:
    return std::get<std::int64_t>(value_) == 1 ? kTrueGroup : kFalseGroup;
  case Kind::boolean:
    return std::get<bool>(value_) ? kTrueGroup : kFalseGroup;
  case Kind::floating: {
    const float number = std::get<float>(value_);
    // Whole floats within the range that int64 values convert to equal some integer.
    constexpr float kLimit = 9223372036854775808.0f; // 2^63
    if (std::isfinite(number) && std::trunc(number) == number && number >= -kLimit &&
        number <= kLimit) {
      return number == 1.0f ? kTrueGroup : kFalseGroup;
    }
    std::uint32_t bits = 0;
    std::memcpy(&bits, &number, sizeof bits);
    return mix(kFloatMarker, bits);
  }
  case Kind::dictionary: {
    std::size_t combined = 0;
    for (const auto &[key, value] : std::get<Dictionary>(value_)) {
      combined ^= mix(unitsHash(0, key.value), value.hash());
    }
    return mix(kDictionaryMarker, combined);
  }
  case Kind::array: {
    std::size_t seed = kArrayMarker;
    for (const auto &element : std::get<Array>(value_)) {
      seed = mix(seed, element.hash());
    }
    return seed;
  }
  case Kind::token: {
    const auto &token = std::get<Token>(value_);
    return unitsHash(mix(kTokenMarker, static_cast<std::size_t>(token.id)), token.text.value);
  }
  case Kind::null:
    break;
  }
  return kNullHash;
}

} // namespace deduve
