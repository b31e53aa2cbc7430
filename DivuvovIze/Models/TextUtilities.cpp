#include "DivuvovIze/Models/TextUtilities.hpp"

#include <cstring>
#include <limits>

#include <zlib.h>

#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Text/Utf8.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "platform/audio/PcmBuffer.hpp"

namespace divuvovize {

namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

} // namespace

long TextUtilities::compressedSize(const void *bytes, std::size_t size) {
  z_stream stream{};
  if (deflateInit2(&stream, 5, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return -1;
  }
  stream.next_in = static_cast<Bytef *>(const_cast<void *>(bytes));
  stream.avail_in = static_cast<uInt>(size);
  unsigned char chunk[16384];
  long total = 0;
  int status = Z_OK;
  do {
    stream.next_out = chunk;
    stream.avail_out = sizeof(chunk);
    status = deflate(&stream, Z_FINISH);
    if (status == Z_STREAM_ERROR) {
      deflateEnd(&stream);
      return -1;
    }
    total += static_cast<long>(sizeof(chunk) - stream.avail_out);
  } while (status != Z_STREAM_END);
  deflateEnd(&stream);
  return total;
}

float TextUtilities::compressionRatio(const std::vector<int> &tokens) {
  std::vector<unsigned char> bytes(tokens.size() * 4);
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const auto value = static_cast<std::uint32_t>(static_cast<std::int32_t>(tokens[i]));
    bytes[i * 4] = static_cast<unsigned char>(value & 0xff);
    bytes[i * 4 + 1] = static_cast<unsigned char>((value >> 8) & 0xff);
    bytes[i * 4 + 2] = static_cast<unsigned char>((value >> 16) & 0xff);
    bytes[i * 4 + 3] = static_cast<unsigned char>((value >> 24) & 0xff);
  }
  const long compressed = compressedSize(bytes.data(), bytes.size());
  if (compressed <= 0) {
    modelslog::debug("Compression error: the DEFLATE compressor failed");
    return kInfinity;
  }
  return static_cast<float>(bytes.size()) / static_cast<float>(compressed);
}

float TextUtilities::compressionRatio(std::string_view text) {
  if (text.empty()) {
    return kInfinity;
  }
  const long compressed = compressedSize(text.data(), text.size());
  if (compressed <= 0) {
    modelslog::debug("Compression error: the DEFLATE compressor failed");
    return kInfinity;
  }
  return static_cast<float>(text.size()) / static_cast<float>(compressed);
}

std::string trimmingSpecialTokenCharacters(std::string_view text) {
  const auto isSpecial = [](char c) { return c == '<' || c == '|' || c == '>'; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isSpecial(text[begin])) {
    ++begin;
  }
  while (end > begin && isSpecial(text[end - 1])) {
    --end;
  }
  return std::string(text.substr(begin, end - begin));
}

std::string normalized(std::string_view text) {
  const std::string lower = deduve::lowercase(text);
  // Hyphens become blanks, punctuation goes, runs of blanks collapse: one pass over scalars.
  std::string collapsed;
  collapsed.reserve(lower.size());
  std::size_t offset = 0;
  while (offset < lower.size()) {
    char32_t scalar = deduve::nextScalar(lower, offset);
    if (scalar == U'-') {
      scalar = U' ';
    } else if (deduve::isPunctuation(scalar)) {
      continue;
    }
    if (scalar == U' ' && !collapsed.empty() && collapsed.back() == ' ') {
      continue;
    }
    deduve::appendUtf8(collapsed, scalar);
  }
  // Trim whitespace and newlines at both ends.
  std::size_t begin = 0;
  std::size_t firstKept = collapsed.size();
  std::size_t endOfLastKept = 0;
  while (begin < collapsed.size()) {
    const std::size_t at = begin;
    const char32_t scalar = deduve::nextScalar(collapsed, begin);
    if (!deduve::isWhiteSpace(scalar)) {
      if (firstKept == collapsed.size()) {
        firstKept = at;
      }
      endOfLastKept = begin;
    }
  }
  if (firstKept >= endOfLastKept) {
    return {};
  }
  return collapsed.substr(firstKept, endOfLastKept - firstKept);
}

bool containsSegment(const std::vector<TranscriptionSegment> &segments,
                     const TranscriptionSegment &segment) {
  for (const auto &candidate : segments) {
    if (candidate.start == segment.start) {
      return true;
    }
  }
  return false;
}

bool appendPCMBuffer(platform::PcmBuffer &destination, const platform::PcmBuffer &source,
                     std::int64_t startFrame, std::uint32_t frameCount) {
  if (!(destination.format() == source.format())) {
    modelslog::debug("Format mismatch");
    return false;
  }
  // Compared without forming startFrame + frameCount, which a huge start would overflow.
  if (startFrame < 0 || startFrame > static_cast<std::int64_t>(source.frameLength()) -
                                         static_cast<std::int64_t>(frameCount)) {
    modelslog::error("Insufficient audio in buffer");
    return false;
  }
  float *target = destination.floatChannelData(0);
  const float *origin = source.floatChannelData(0);
  if (target == nullptr || origin == nullptr) {
    modelslog::error("Failed to access float channel data");
    return false;
  }
  const std::uint32_t length = destination.frameLength();
  if (destination.frameCapacity() < length + static_cast<std::uint64_t>(frameCount)) {
    modelslog::debug("Insufficient space in buffer, reducing frame count to fit");
    frameCount = destination.frameCapacity() - length;
  }
  const std::uint32_t floatsPerFrame = destination.format().bytesPerFrame() / 4;
  std::memcpy(target + static_cast<std::size_t>(length) * floatsPerFrame,
              origin + static_cast<std::size_t>(startFrame) * floatsPerFrame,
              static_cast<std::size_t>(frameCount) * floatsPerFrame * sizeof(float));
  destination.setFrameLength(length + frameCount);
  return true;
}

std::string describeList(const std::vector<std::string> &items) {
  std::string text = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) {
      text += ", ";
    }
    text += "\"" + items[i] + "\"";
  }
  return text + "]";
}

} // namespace divuvovize
