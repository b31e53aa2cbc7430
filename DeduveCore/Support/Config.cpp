#include "DeduveCore/Support/Config.hpp"

#include "DeduveCore/Support/Description.hpp"
#include "DeduveCore/Text/Unicode.hpp"

#include <cmath>
#include <cstring>

namespace deduve {

// The containers are in ConfigDictionary.cpp and ConfigArray.cpp, the JSON reading and writing in
// ConfigJson.cpp.

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
