#pragma once

#include "platform/system/Environment.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace deduve {

// `text` without its trailing occurrences of `character` (one character, as UTF-8), at most
// `upto` of them, stopping at the first other character; upto <= 0 removes nothing.
std::string trimmingFromEnd(std::string_view text, std::string_view character, int upto);

// The last fragment of `text` that is at least `minimumLength` long by `measure`: the text
// after the last ".", "!", "?" or line feed, else after the last ",", ";", ":", "-" or "–",
// else after the last blank, each trimmed of white space; absent when none is long enough.
std::optional<std::string>
trailingFragment(std::string_view text, std::size_t minimumLength,
                 const std::function<std::size_t(std::string_view)> &measure);

// True when the characters of `prefix` are the first characters of `text` (characters compared
// as whole grapheme clusters, canonically equivalent forms equal).
bool stringStartsWith(std::string_view prefix, std::string_view text);

// x rounded to `decimals` places: x * 10^decimals rounded half away from zero, divided back;
// all in single precision.
float rounded(float x, int decimals);

// A leading "~" becomes the environment's home folder and a leading "~user" that user's home
// folder (from the system's user database; an unknown user leaves the text as it is); an
// absolute result is returned as is, a relative one is appended to the environment's current
// folder.
std::string resolveAbsolutePath(const std::string &path, const platform::Environment &environment);
// The same against this process's environment.
std::string resolveAbsolutePath(const std::string &path);

} // namespace deduve
