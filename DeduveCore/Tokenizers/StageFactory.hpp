#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Tokenizers/StageConfigurationError.hpp"

// The shared machinery of the stage factories (normalizers, pre-tokenizers, decoders,
// post-processors): a type table looked up by the document's "type", and the members of a
// "Sequence". Internal to the tokenizer library.
namespace deduve::stagefactory {

template <typename Stage> struct TypeEntry {
  std::string_view type;
  std::unique_ptr<Stage> (*build)(const Config &config);
};

// Builds a T, handing it the document when it reads one.
template <typename Stage, typename T> std::unique_ptr<Stage> make(const Config &config) {
  if constexpr (std::is_constructible_v<T, const Config &>)
    return std::make_unique<T>(config);
  else
    return std::make_unique<T>();
}

// The stage that config["type"] names in `table` (exact, case-sensitive). Null when there is
// no document or its "type" is not a string; any other name is refused with
// "Unsupported <kind> type: <type>".
template <typename Stage, std::size_t N>
std::unique_ptr<Stage> build(const Config *config, const TypeEntry<Stage> (&table)[N],
                             std::string_view kind) {
  if (config == nullptr)
    return nullptr;
  const std::optional<std::string> type = (*config)["type"].stringValue();
  if (!type)
    return nullptr;
  for (const TypeEntry<Stage> &entry : table)
    if (entry.type == *type)
      return entry.build(*config);
  throw StageConfigurationError("Unsupported " + std::string(kind) + " type: " + *type);
}

// The members of a sequence: config[key] must be an array, else the sequence is refused with
// `missingMessage`. Each element goes through `makeMember`; elements that give no stage (no
// string "type") are skipped, the rest keep their order.
template <typename Stage, typename MakeMember>
std::vector<std::unique_ptr<Stage>> buildMembers(const Config &config, const char *key,
                                                 const char *missingMessage,
                                                 MakeMember makeMember) {
  const Config members = config[key];
  const Config::Array *array = members.arrayValue();
  if (array == nullptr)
    throw StageConfigurationError(missingMessage);
  std::vector<std::unique_ptr<Stage>> built;
  for (const Config &member : *array)
    if (std::unique_ptr<Stage> stage = makeMember(member))
      built.push_back(std::move(stage));
  return built;
}

} // namespace deduve::stagefactory
