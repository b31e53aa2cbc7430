#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Outside data quoted in messages (a file name from a hub listing, an option value, the token a
// JSON parser stopped at) can be megabytes long; a message carries only a short excerpt of it.

// The most bytes an excerpt keeps of the text it quotes.
constexpr std::size_t kExcerptBytes = 64;

// At most kExcerptBytes bytes of `text`, cut at a character boundary, with control characters
// shown as "?"; a cut text ends with "... (N bytes)".
std::string excerpt(std::string_view text);

// `message` itself when it is at most kMessageBytes long; otherwise its first and last bytes
// around "... (N bytes) ...", cut at character boundaries.
constexpr std::size_t kMessageBytes = 512;
std::string boundedMessage(std::string_view message);

} // namespace platform
