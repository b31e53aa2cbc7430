#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace divuvovize {

// Key order of every document the engine writes is the order in which fields are set.
using Json = nlohmann::ordered_json;

// A document could not be read into one of the engine's types. `codingPath` names where
// ("segments[2].start"; empty for the document itself); what() is the description.
class JsonDecodingError : public std::runtime_error {
public:
  enum class Kind { keyNotFound, valueNotFound, typeMismatch, dataCorrupted };

  JsonDecodingError(Kind kind, std::string codingPath, const std::string &description);

  Kind kind() const { return kind_; }
  const std::string &codingPath() const { return codingPath_; }

private:
  Kind kind_;
  std::string codingPath_;
};

// A value cannot be written as JSON (a NaN or an infinity: JSON has no number for them).
class JsonEncodingError : public std::runtime_error {
public:
  JsonEncodingError(std::string codingPath, const std::string &description);
  const std::string &codingPath() const { return codingPath_; }

private:
  std::string codingPath_;
};

namespace json {

// "a" + "b" -> "a.b"; "" + "b" -> "b".
std::string joinPath(std::string_view parent, std::string_view key);
std::string indexPath(std::string_view parent, std::size_t index);

// Writers. A float is written in its shortest single-precision form (0.2f as 0.2); non-finite
// values throw JsonEncodingError naming `path`.
Json writeFloat(float value, std::string_view path);
Json writeDouble(double value, std::string_view path);
Json writeFloats(const std::vector<float> &values, std::string_view path);
Json writeInts(const std::vector<int> &values);

// Readers of single values; each throws JsonDecodingError naming `path` on a wrong type.
// A JSON null is a valueNotFound error here: callers that allow null check it first.
void read(const Json &value, const std::string &path, bool &out);
void read(const Json &value, const std::string &path, int &out);
void read(const Json &value, const std::string &path, float &out);
void read(const Json &value, const std::string &path, double &out);
void read(const Json &value, const std::string &path, std::string &out);

template <class T>
concept JsonDecodable = requires(const Json &j, const std::string &p) {
  { T::fromJson(j, p) } -> std::same_as<T>;
};

template <JsonDecodable T> void read(const Json &value, const std::string &path, T &out) {
  out = T::fromJson(value, path);
}

template <class T> void read(const Json &value, const std::string &path, std::vector<T> &out);
template <class T> void read(const Json &value, const std::string &path, std::map<int, T> &out);

std::string typeName(const Json &value);
[[noreturn]] void throwTypeMismatch(const std::string &path, std::string_view expected,
                                    const Json &found);

template <class T> void read(const Json &value, const std::string &path, std::vector<T> &out) {
  if (value.is_null()) {
    throw JsonDecodingError(JsonDecodingError::Kind::valueNotFound, path,
                            "Expected an array at \"" + path + "\" but found null");
  }
  if (!value.is_array()) {
    throwTypeMismatch(path, "an array", value);
  }
  std::vector<T> result;
  result.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    T element{};
    const auto elementPath = indexPath(path, i);
    if (value[i].is_null()) {
      throw JsonDecodingError(JsonDecodingError::Kind::valueNotFound, elementPath,
                              "Expected a value at \"" + elementPath + "\" but found null");
    }
    read(value[i], elementPath, element);
    result.push_back(std::move(element));
  }
  out = std::move(result);
}

// An object whose keys are decimal integers ("50257": -0.5).
template <class T> void read(const Json &value, const std::string &path, std::map<int, T> &out) {
  if (value.is_null()) {
    throw JsonDecodingError(JsonDecodingError::Kind::valueNotFound, path,
                            "Expected an object at \"" + path + "\" but found null");
  }
  if (!value.is_object()) {
    throwTypeMismatch(path, "an object", value);
  }
  std::map<int, T> result;
  for (auto it = value.begin(); it != value.end(); ++it) {
    const auto elementPath = joinPath(path, it.key());
    std::size_t used = 0;
    long long key = 0;
    try {
      key = std::stoll(it.key(), &used, 10);
    } catch (const std::exception &) {
      used = 0;
    }
    if (used == 0 || used != it.key().size() || key < std::numeric_limits<int>::min() ||
        key > std::numeric_limits<int>::max()) {
      throw JsonDecodingError(JsonDecodingError::Kind::dataCorrupted, elementPath,
                              "Key \"" + it.key() + "\" at \"" + path + "\" is not an integer");
    }
    T element{};
    read(it.value(), elementPath, element);
    result.emplace(static_cast<int>(key), std::move(element));
  }
  out = std::move(result);
}

// Reads the members of one JSON object by key, strictly: a required key must be present and
// not null; an optional key may be missing or null. Every error names the key's path.
class ObjectReader {
public:
  // Throws typeMismatch when `object` is not a JSON object.
  ObjectReader(const Json &object, std::string path);

  template <class T> T required(std::string_view key) const {
    const Json &value = requiredValue(key);
    T out{};
    read(value, joinPath(path_, key), out);
    return out;
  }

  template <class T> std::optional<T> optional(std::string_view key) const {
    const Json *value = find(key);
    if (value == nullptr || value->is_null()) {
      return std::nullopt;
    }
    T out{};
    read(*value, joinPath(path_, key), out);
    return out;
  }

  // The value under a key that must be present and not null.
  const Json &requiredValue(std::string_view key) const;
  // The value under a key, or nullptr when the key is missing.
  const Json *find(std::string_view key) const;
  const std::string &path() const { return path_; }

private:
  const Json &object_;
  std::string path_;
};

} // namespace json
} // namespace divuvovize
