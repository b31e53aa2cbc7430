#include "DivuvovIze/Models/JsonCoding.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace divuvovize {

JsonDecodingError::JsonDecodingError(Kind kind, std::string codingPath,
                                     const std::string &description)
    : std::runtime_error(description), kind_(kind), codingPath_(std::move(codingPath)) {}

JsonEncodingError::JsonEncodingError(std::string codingPath, const std::string &description)
    : std::runtime_error(description), codingPath_(std::move(codingPath)) {}

namespace json {

std::string joinPath(std::string_view parent, std::string_view key) {
  if (parent.empty()) {
    return std::string(key);
  }
  std::string path(parent);
  path += '.';
  path += key;
  return path;
}

std::string indexPath(std::string_view parent, std::size_t index) {
  return std::string(parent) + "[" + std::to_string(index) + "]";
}

namespace {

std::string nonFiniteText(double value) {
  if (std::isnan(value)) {
    return "nan";
  }
  return value > 0 ? "inf" : "-inf";
}

[[noreturn]] void throwNonFinite(double value, std::string_view path) {
  const std::string where =
      path.empty() ? std::string("the document") : "\"" + std::string(path) + "\"";
  throw JsonEncodingError(std::string(path), "Cannot write " + where + ": " + nonFiniteText(value) +
                                                 " is not a valid JSON number");
}

[[noreturn]] void throwNull(const std::string &path, std::string_view expected) {
  throw JsonDecodingError(JsonDecodingError::Kind::valueNotFound, path,
                          "Expected " + std::string(expected) + " at \"" + path +
                              "\" but found null");
}

} // namespace

Json writeFloat(float value, std::string_view path) {
  if (!std::isfinite(value)) {
    throwNonFinite(value, path);
  }
  // The shortest text that reads back as this float, stored as the double of that text, so
  // the writer prints "0.2" rather than the double expansion of 0.2f.
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  *result.ptr = '\0';
  return Json(std::strtod(buffer, nullptr));
}

Json writeDouble(double value, std::string_view path) {
  if (!std::isfinite(value)) {
    throwNonFinite(value, path);
  }
  return Json(value);
}

Json writeFloats(const std::vector<float> &values, std::string_view path) {
  Json array = Json::array();
  for (std::size_t i = 0; i < values.size(); ++i) {
    array.push_back(writeFloat(values[i], indexPath(path, i)));
  }
  return array;
}

Json writeInts(const std::vector<int> &values) {
  Json array = Json::array();
  for (int value : values) {
    array.push_back(value);
  }
  return array;
}

std::string typeName(const Json &value) {
  switch (value.type()) {
  case Json::value_t::null:
    return "null";
  case Json::value_t::object:
    return "an object";
  case Json::value_t::array:
    return "an array";
  case Json::value_t::string:
    return "a string";
  case Json::value_t::boolean:
    return "a boolean";
  case Json::value_t::number_integer:
  case Json::value_t::number_unsigned:
  case Json::value_t::number_float:
    return "a number";
  default:
    return "an unsupported value";
  }
}

void throwTypeMismatch(const std::string &path, std::string_view expected, const Json &found) {
  throw JsonDecodingError(JsonDecodingError::Kind::typeMismatch, path,
                          "Expected " + std::string(expected) + " at \"" + path + "\" but found " +
                              typeName(found));
}

void read(const Json &value, const std::string &path, bool &out) {
  if (value.is_null()) {
    throwNull(path, "a boolean");
  }
  if (!value.is_boolean()) {
    throwTypeMismatch(path, "a boolean", value);
  }
  out = value.get<bool>();
}

void read(const Json &value, const std::string &path, int &out) {
  if (value.is_null()) {
    throwNull(path, "an integer");
  }
  constexpr auto lowest = static_cast<double>(std::numeric_limits<int>::min());
  constexpr auto highest = static_cast<double>(std::numeric_limits<int>::max());
  if (value.is_number_integer() && !value.is_number_unsigned()) {
    const auto v = value.get<std::int64_t>();
    if (v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max()) {
      out = static_cast<int>(v);
      return;
    }
  } else if (value.is_number_unsigned()) {
    const auto v = value.get<std::uint64_t>();
    if (v <= static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
      out = static_cast<int>(v);
      return;
    }
  } else if (value.is_number_float()) {
    // A whole number written with a fraction part ("5.0") reads as that integer.
    const double v = value.get<double>();
    if (std::trunc(v) == v && v >= lowest && v <= highest) {
      out = static_cast<int>(v);
      return;
    }
  } else {
    throwTypeMismatch(path, "an integer", value);
  }
  throw JsonDecodingError(JsonDecodingError::Kind::dataCorrupted, path,
                          "Number " + value.dump() + " at \"" + path +
                              "\" does not fit in an integer");
}

void read(const Json &value, const std::string &path, double &out) {
  if (value.is_null()) {
    throwNull(path, "a number");
  }
  if (!value.is_number()) {
    throwTypeMismatch(path, "a number", value);
  }
  out = value.get<double>();
}

void read(const Json &value, const std::string &path, float &out) {
  double v = 0;
  read(value, path, v);
  if (std::isfinite(v) && std::fabs(v) > static_cast<double>(std::numeric_limits<float>::max())) {
    throw JsonDecodingError(JsonDecodingError::Kind::dataCorrupted, path,
                            "Number " + value.dump() + " at \"" + path +
                                "\" does not fit in a 32-bit float");
  }
  out = static_cast<float>(v);
}

void read(const Json &value, const std::string &path, std::string &out) {
  if (value.is_null()) {
    throwNull(path, "a string");
  }
  if (!value.is_string()) {
    throwTypeMismatch(path, "a string", value);
  }
  out = value.get<std::string>();
}

ObjectReader::ObjectReader(const Json &object, std::string path)
    : object_(object), path_(std::move(path)) {
  if (object_.is_null()) {
    throwNull(path_, "an object");
  }
  if (!object_.is_object()) {
    throwTypeMismatch(path_, "an object", object_);
  }
}

const Json *ObjectReader::find(std::string_view key) const {
  const auto it = object_.find(std::string(key));
  return it == object_.end() ? nullptr : &*it;
}

const Json &ObjectReader::requiredValue(std::string_view key) const {
  const Json *value = find(key);
  const auto keyPath = joinPath(path_, key);
  if (value == nullptr) {
    throw JsonDecodingError(JsonDecodingError::Kind::keyNotFound, keyPath,
                            "No value associated with key \"" + std::string(key) + "\"" +
                                (path_.empty() ? std::string() : " at \"" + path_ + "\""));
  }
  if (value->is_null()) {
    throw JsonDecodingError(JsonDecodingError::Kind::valueNotFound, keyPath,
                            "Expected a value for key \"" + std::string(key) + "\" but found null" +
                                (path_.empty() ? std::string() : " at \"" + path_ + "\""));
  }
  return *value;
}

} // namespace json
} // namespace divuvovize
