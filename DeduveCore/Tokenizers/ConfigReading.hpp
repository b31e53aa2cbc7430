#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "DeduveCore/Support/Config.hpp"

// Typed reads of tokenizer documents. Every reader answers "nothing" for a value of another
// kind, so callers apply their own defaults.
namespace deduve::config {

inline std::optional<std::string> string(const Config &value) { return value.stringValue(); }
inline std::optional<std::int64_t> integer(const Config &value) { return value.integerValue(); }
// An integer (converted) or a floating value.
inline std::optional<float> number(const Config &value) { return value.floatValue(); }
// The Bool rule: true, false, 1, 0, "true"/"t"/"1", "false"/"f"/"0" (any case); else nothing.
inline std::optional<bool> boolean(const Config &value) { return value.boolValue(); }
inline bool isTrue(const Config &value) { return value.boolValue().value_or(false); }
// The elements of an array value; nullptr for anything else.
// The pointer lives as long as `value`, hence no temporaries.
inline const Config::Array *array(const Config &value) { return value.arrayValue(); }
const Config::Array *array(const Config &&value) = delete;
inline bool isDictionary(const Config &value) { return value.dictionaryValue() != nullptr; }

// Calls f(key, value) for every member of a dictionary value, in document order, keys as
// UTF-8; does nothing for other values.
template <typename F> void forEachMember(const Config &value, F &&f) {
  if (const auto *dictionary = value.dictionaryValue())
    for (const auto &[key, member] : *dictionary)
      f(key.string(), member);
}

} // namespace deduve::config
