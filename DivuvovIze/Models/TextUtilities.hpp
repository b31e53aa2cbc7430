#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DivuvovIze/Models/TranscriptionSegment.hpp"

namespace platform {
class PcmBuffer;
}

namespace divuvovize {

// Stateless text operations shared by the decoding loop, the transcription task and the audio
// code.
struct TextUtilities {
  // Raw DEFLATE (level 5, 15-bit window, no header) of the tokens as 4-byte little-endian
  // integers: input bytes / compressed bytes. Tokens must fit in 32 bits. +infinity when the
  // compressor fails.
  static float compressionRatio(const std::vector<int> &tokens);
  // The same over the text's UTF-8 bytes; the empty text gives +infinity.
  static float compressionRatio(std::string_view text);
  // The compressed size of `bytes` with that compressor; -1 on failure.
  static long compressedSize(const void *bytes, std::size_t size);
};

// The platform's text of a list of strings, as logs show it: ["a", "b"].
std::string describeList(const std::vector<std::string> &items);

// `text` without leading and trailing '<', '|' and '>' characters ("<|en|>" -> "en").
std::string trimmingSpecialTokenCharacters(std::string_view text);

// Comparison form of a word or text: lower-cased, "-" made a blank, every punctuation
// character removed, runs of blanks collapsed, whitespace trimmed ("Hello, World!" ->
// "hello world").
std::string normalized(std::string_view text);

// True when some element starts exactly (float equality) where `segment` starts.
bool containsSegment(const std::vector<TranscriptionSegment> &segments,
                     const TranscriptionSegment &segment);

// Appends `frameCount` frames of `source`'s first channel, from `startFrame`, to the end of
// `destination`'s first channel. False, changing nothing, when the formats differ, the source
// holds too few frames or either buffer has no float samples; a destination without room
// takes only as many frames as fit (true).
bool appendPCMBuffer(platform::PcmBuffer &destination, const platform::PcmBuffer &source,
                     std::int64_t startFrame, std::uint32_t frameCount);

} // namespace divuvovize
