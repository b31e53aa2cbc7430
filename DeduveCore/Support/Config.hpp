#pragma once

#include "DeduveCore/Support/BinaryDistinctString.hpp"

#include <nlohmann/json.hpp>

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace deduve {

// The in-memory form of a JSON document read from a model repository (tokenizer data,
// tokenizer configuration, model configuration). An immutable value: copies are cheap (the
// containers are shared) and safe to share between threads.
//
// Lookups never fail: a missing key, or a key looked up in something that is not a
// dictionary, gives the null Config, so chained lookups run through missing levels. A key is
// tried as written, then in snake_case ("tokenizerClass" finds "tokenizer_class").
class Config {
public:
  enum class Kind { string, integer, boolean, floating, dictionary, array, token, null };

  struct Token {
    std::uint64_t id = 0;
    BinaryDistinctString text;
    friend bool operator==(const Token &, const Token &) = default;
  };
  struct Null {
    friend bool operator==(Null, Null) { return true; }
  };
  // An immutable dictionary shared between copies; entries keep the order they were given in.
  class Dictionary {
  public:
    using Entry = std::pair<BinaryDistinctString, Config>;

    Dictionary();
    // A key given twice keeps the later value, in the place of its first occurrence.
    explicit Dictionary(std::vector<Entry> entries);

    std::size_t size() const;
    bool empty() const { return size() == 0; }
    // The value stored under exactly this key (code units), or nullptr.
    const Config *find(const BinaryDistinctString &key) const;
    const Config *find(std::u16string_view key) const;
    bool contains(const BinaryDistinctString &key) const { return find(key) != nullptr; }
    const std::vector<Entry> &entries() const;
    // The most slots a lookup of one of the keys walks: stays small for any set of keys.
    std::size_t longestProbe() const;
    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;

  private:
    struct Storage;
    std::shared_ptr<const Storage> storage_;
  };

  // An immutable array shared between copies.
  class Array {
  public:
    Array();
    explicit Array(std::vector<Config> elements);

    std::size_t size() const;
    bool empty() const { return size() == 0; }
    // Throws std::out_of_range outside 0 ..< size().
    const Config &at(std::size_t position) const;
    const Config &operator[](std::size_t position) const;
    const std::vector<Config> &elements() const;
    std::vector<Config>::const_iterator begin() const;
    std::vector<Config>::const_iterator end() const;

  private:
    std::shared_ptr<const std::vector<Config>> elements_;
  };

  // The cases, in this order; value().index() is the case number of Kind.
  using Data =
      std::variant<BinaryDistinctString, std::int64_t, bool, float, Dictionary, Array, Token, Null>;

  // The null value.
  Config();
  Config(Null);
  Config(BinaryDistinctString text);
  Config(const char *text);
  Config(const std::string &text);
  Config(std::string_view text);
  template <std::integral T>
  requires(!std::same_as<T, bool>) Config(T integer)
      : Config(IntegerTag{}, static_cast<std::int64_t>(integer)) {}
  Config(bool boolean);
  // Numbers with a fraction are kept in single precision.
  template <std::floating_point T>
  Config(T number) : Config(FloatTag{}, static_cast<float>(number)) {}
  Config(Dictionary dictionary);
  Config(Array array);
  Config(std::vector<Config> elements);
  Config(Token token);

  // A dictionary from key/value pairs; a key given twice keeps the later value.
  static Config dictionary(std::initializer_list<std::pair<BinaryDistinctString, Config>> entries);
  static Config dictionary(std::vector<std::pair<BinaryDistinctString, Config>> entries);
  static Config array(std::vector<Config> elements);
  static Config token(std::uint64_t id, BinaryDistinctString text);

  // From a parsed JSON document: objects become dictionaries (keys as UTF-16 units), arrays
  // arrays, strings strings, integral numbers integers, other numbers floats (single
  // precision), true/false booleans, null null. Object key order is kept for iteration.
  explicit Config(const nlohmann::json &document);
  explicit Config(const nlohmann::ordered_json &document);

  // Parses JSON text straight into a value, with the constructor's rules and key order. Linear
  // in the size of the text even for objects with very many keys (tokenizer vocabularies),
  // which an ordered JSON document is not. A byte-order mark at the very start is skipped; one
  // inside a string is kept. Throws nlohmann::json::parse_error for text that is not JSON and
  // for arrays and objects nested more than 512 levels deep.
  static Config parse(std::string_view text);

  // The decoding rules of stored documents, which differ from the constructor above in one
  // way: a two-element list of a non-negative integer and a string is a token. Never fails.
  static Config decode(const nlohmann::ordered_json &document);
  // Tokens encode as [id, text]; dictionaries as objects in key order.
  nlohmann::ordered_json encode() const;

  const Data &value() const { return value_; }
  Kind kind() const { return static_cast<Kind>(value_.index()); }
  bool isNull() const { return kind() == Kind::null; }

  // Lookup: the entry for the key as written, else for its snake_case form, else null (also
  // null when this is not a dictionary).
  Config operator[](std::string_view key) const;
  Config operator[](const char *key) const { return (*this)[std::string_view(key)]; }
  Config operator[](const std::string &key) const { return (*this)[std::string_view(key)]; }
  Config operator[](const BinaryDistinctString &key) const { return subscript(key); }
  Config subscript(const BinaryDistinctString &binaryKey) const;
  // The same lookup, but absent when this is not a dictionary.
  std::optional<Config> subscriptIfDictionary(std::string_view key) const;

  // "tokenizerClass" -> "tokenizer_class", "URLPath" -> "urlpath", "a1B" -> "a1_b",
  // "_X" -> "__x": an upper-case letter (Lu, Lt) is lower-cased and preceded by "_" when the
  // character before it exists and is not upper-case.
  static std::string camelCaseToSnakeCase(std::string_view key);
  static std::string camelCaseToSnakeCase(const std::string &key) {
    return camelCaseToSnakeCase(std::string_view(key));
  }
  static std::string camelCaseToSnakeCase(const char *key) {
    return camelCaseToSnakeCase(std::string_view(key));
  }
  static BinaryDistinctString camelCaseToSnakeCase(const BinaryDistinctString &key);

  // Typed readers; absent when the value is not of the kind asked for.
  // Bool coercion: boolean as is; integer 1 -> true, any other integer -> false; string,
  // ignoring case, "true"/"t"/"1" -> true, "false"/"f"/"0" -> false; anything else absent.
  std::optional<bool> boolValue() const;
  // The string elements' texts of an array, others skipped; absent unless an array.
  std::optional<std::vector<std::string>> stringArray() const;
  // A token's id and text, or those of an array [string, non-negative integer].
  std::optional<std::pair<std::uint64_t, std::string>> tokenValue() const;
  std::optional<std::string> stringValue() const;
  const BinaryDistinctString *binaryStringValue() const;
  std::optional<std::int64_t> integerValue() const;
  // A floating value, or an integer converted to float.
  std::optional<float> floatValue() const;
  const Dictionary *dictionaryValue() const;
  const Array *arrayValue() const;

  // JSON-like text: strings quoted, floats as "1.0", dictionaries "{[a: 1]}", arrays
  // "[[1, 2]]", tokens "(5, abc)", null "null".
  std::string description() const;

  // Equality across cases: integer n == float f when float(n) == f; integer == boolean by the
  // integer's Bool coercion; boolean == string by the string's Bool coercion. Not transitive
  // (2 == false and false == 0, but 2 != 0).
  friend bool operator==(const Config &a, const Config &b);
  // Agrees with ==: values that compare equal hash equally.
  std::size_t hash() const;

private:
  struct IntegerTag {};
  struct FloatTag {};
  Config(IntegerTag, std::int64_t integer);
  Config(FloatTag, float number);

  Data value_;
};

} // namespace deduve

template <> struct std::hash<deduve::Config> {
  std::size_t operator()(const deduve::Config &config) const noexcept { return config.hash(); }
};
